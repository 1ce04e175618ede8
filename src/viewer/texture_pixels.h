#pragma once

// The viewer's images: the files read and their kept pixels, apart from the
// GL textures made of them (textures.h). Only the viewer and dispdome-render,
// which draws the viewer's own picture, use these.

#include "image_files.h"  // Required for: the files' names, Displacement
#include "tga.h"          // Required for: PixelBuffer

// The colour and displacement images read, as createTextures chose them;
// null until then.
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
// Its heights as floats, in the same rows, when its file holds floats
// (an OpenEXR, a float TIFF); null otherwise.
extern float* displaceHeights;

// The displacement image's own size as read (0 x 0 when not read): the
// surface addresses displacePixels with this width.
extern int displaceWidth;
extern int displaceHeight;

// Keeps image's pixels, size, 16-bit red channel and float heights as the displacement
// image for the whole run (null and 0 x 0 when it was not read).
void keepDisplacement(ImageRead& image);

// The viewer's displacement image as the surface reads it: displacePixels,
// displaceRed16, displaceHeights and their size, at scale 1.
Displacement viewerDisplacement();
