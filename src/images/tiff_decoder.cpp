#include "tiff_decoder.h"

bool isTiff(const unsigned char*, size_t) { return false; }

ImageRead decodeTiff(const unsigned char*, size_t, bool)
{
    ImageRead image;
    refuse(image, "not read yet");
    return image;
}
