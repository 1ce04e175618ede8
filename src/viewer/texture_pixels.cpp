// The viewer's images: the files read and their kept pixels.
#include "texture_pixels.h"

PixelBuffer* colorPixels = nullptr;
PixelBuffer* displacePixels = nullptr;
PixelBuffer* normalPixels = nullptr;

unsigned short* displaceRed16 = nullptr;
float* displaceHeights = nullptr;
const char* colorFile = nullptr;
const char* displaceFile = nullptr;

int displaceWidth = 0;
int displaceHeight = 0;

void keepDisplacement(ImageRead& image)
{
    const bool read = image.pixels != nullptr;
    displacePixels = image.pixels.release();
    displaceRed16 = read ? image.red16.release() : nullptr;
    displaceHeights = read ? image.heights.release() : nullptr;
    displaceWidth = read ? image.width : 0;
    displaceHeight = read ? image.height : 0;
}

Displacement viewerDisplacement()
{
    return {displacePixels, displaceRed16, displaceWidth, displaceHeight, 1.0f, displaceHeights};
}
