#pragma once

#include "tga.h"

// The images, relative to the working directory.
constexpr const char* COLOR_FILE = "texture/color.tga";
constexpr const char* DISPLACE_FILE = "texture/displace.tga";
constexpr const char* NORMAL_FILE = "texture/normal.tga";

// GL texture names, 0 until created.
extern unsigned int colorTexture;
extern unsigned int displaceTexture;
extern unsigned int normalTexture;

// The images' pixels, kept for the whole run; null when not read.
extern PixelBuffer* colorPixels;
extern PixelBuffer* displacePixels;
extern PixelBuffer* normalPixels;

// The displacement image's own size as read (0 x 0 when not read): the
// surface addresses displacePixels with this width.
extern int displaceWidth;
extern int displaceHeight;

// Reads fileName into pixels and makes it the level-0 image of a new texture
// named textureName (replacing the old one). An image larger than GL takes is
// kept in pixels but gets one line on standard error and a texture without
// data. Needs a current GL context.
void createTexture(unsigned int& textureName, const char* fileName, PixelBuffer*& pixels);

// The three textures, in the order colour, displacement, normal.
void createTextures();
