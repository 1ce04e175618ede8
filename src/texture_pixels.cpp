// The images' kept pixels, apart from the GL textures made of them: the
// surface reads them without GL (export_surface links no GL at all).
#include "textures.h"

PixelBuffer* colorPixels = nullptr;
PixelBuffer* displacePixels = nullptr;
PixelBuffer* normalPixels = nullptr;

int displaceWidth = 0;
int displaceHeight = 0;
