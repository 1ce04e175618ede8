#pragma once

// The GL textures made of the images; their pixels are kept in
// texture_pixels.h, apart from GL.

#include "texture_pixels.h"
#include "viewer.h"  // Required for: ViewerStart, the images named

// GL texture names, 0 until created.
extern unsigned int colorTexture;
extern unsigned int displaceTexture;
extern unsigned int normalTexture;

// Makes image the level-0 image of a new texture named textureName
// (replacing the old one) and publishes its size in imageWidth and
// imageHeight. An image not read gets a texture without data of the size
// read before (0 x 0 when none was); one larger than GL takes gets one line
// on standard error and a texture without data. Needs a current GL context.
void makeTexture(unsigned int& textureName, const char* fileName, const ImageRead& image);

// Reads fileName into pixels and makes its texture (makeTexture).
void createTexture(unsigned int& textureName, const char* fileName, PixelBuffer*& pixels);

// The three textures, in the order colour, displacement, normal, of the
// images start names (else those in texture/). False, after the reader's
// line or one of ours, when an image start names is not read or its heights
// give no relief.
bool createTextures(const ViewerStart& start);
