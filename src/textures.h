#pragma once

#include "image.h"

// The images, relative to the working directory: a TGA that is there is
// read, else a PNG, else a JPEG.
constexpr const char* COLOR_FILE = "texture/color.tga";
constexpr const char* DISPLACE_FILE = "texture/displace.tga";
constexpr const char* NORMAL_FILE = "texture/normal.tga";
constexpr const char* IMAGE_EXTENSIONS[] = {".tga", ".png", ".jpg"};

// The first of file (a name ending in .tga) and the same name ending in .png
// and .jpg that is there, in any form (a FIFO or an unreadable file counts);
// file itself when none is.
const char* chosenImageFile(const char* file);

// The colour and displacement images read; null until createTextures looks
// them up, which it does only when they are still null (dispdome-render
// names its own).
extern const char* colorFile;
extern const char* displaceFile;

// GL texture names, 0 until created.
extern unsigned int colorTexture;
extern unsigned int displaceTexture;
extern unsigned int normalTexture;

// The images' pixels, kept for the whole run; null when not read.
extern PixelBuffer* colorPixels;
extern PixelBuffer* displacePixels;
extern PixelBuffer* normalPixels;

// The displacement image's red (or grey) channel at 16 bits, one value per
// pixel in the rows of displacePixels, when its file has 16 bits per
// channel; null otherwise.
extern unsigned short* displaceRed16;

// The displacement image's own size as read (0 x 0 when not read): the
// surface addresses displacePixels with this width.
extern int displaceWidth;
extern int displaceHeight;

// Reads fileName into pixels and makes it the level-0 image of a new texture
// named textureName (replacing the old one). An image larger than GL takes is
// kept in pixels but gets one line on standard error and a texture without
// data. red16 receives loadImage's 16-bit red channel. Needs a current GL
// context.
void createTexture(unsigned int& textureName, const char* fileName, PixelBuffer*& pixels,
                   unsigned short** red16 = nullptr);

// The three textures, in the order colour, displacement, normal.
void createTextures();
