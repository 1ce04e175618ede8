// One fuzz input is one whole TGA file, decoded as loadTga decodes a file it
// has read (libFuzzer hands it over in a heap block of exactly its size, so a
// read past the end is caught).
#include "tga.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
volatile unsigned sink;  // keeps the reads of the pixels
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    imageWidth = imageHeight = -1;
    PixelBuffer* pixels = decodeTga(data, size, "fuzz.tga");
    if (!pixels) {
        // A rejected file leaves the published size alone.
        if (imageWidth != -1 || imageHeight != -1)
            std::abort();
        return 0;
    }
    // The size published must match the buffer: the textures hand
    // width x height x 4 bytes to GL. Touching each one lets ASan check that.
    if (size < 18 || imageWidth != (data[12] | data[13] << 8) || imageHeight != (data[14] | data[15] << 8))
        std::abort();
    unsigned sum = 0;
    for (size_t n = 0, bytes = size_t(imageWidth) * size_t(imageHeight) * 4; n < bytes; ++n)
        sum += pixels[n];
    sink = sum;
    delete[] pixels;
    return 0;
}
