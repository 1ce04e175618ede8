#pragma once

// The images' kept pixels and the files they come from, apart from the GL
// textures made of them (textures.h): the surface and the tools read them
// without GL.

#include "image.h"    // Required for: loadImage(), how the images named here are read
#include "surface.h"  // Required for: Displacement, the form the surface reads heights in
#include "tga.h"      // Required for: PixelBuffer

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

// Keeps image's pixels, size and 16-bit red channel as the displacement
// image for the whole run (null and 0 x 0 when it was not read).
void keepDisplacement(ImageRead& image);

// The viewer's displacement image as the surface reads it: displacePixels,
// displaceRed16 and their size, at scale 1.
Displacement viewerDisplacement();
// image's pixels, 16-bit red channel and size (none and 0 x 0 when it was
// not read), at scale; image keeps owning them and must outlive the result.
Displacement displacementOf(const ImageRead& image, float scale);
