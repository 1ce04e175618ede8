// One fuzz input is one whole TGA file, decoded as loadTga decodes a file it
// has read (libFuzzer hands it over in a heap block of exactly its size, so a
// read past the end is caught).
#include "tga.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {
volatile unsigned sink;  // keeps the reads of the pixels
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    imageWidth = imageHeight = -1;
    const std::unique_ptr<PixelBuffer[]> pixels(decodeTga(data, size, "fuzz.tga"));
    // A refused file leaves the published size alone. A file read publishes
    // its header's size, and the textures hand width x height x 4 bytes to
    // GL: touching each one lets ASan check that they are there.
    const bool published = pixels ? size >= 18 && imageWidth == (data[12] | data[13] << 8) &&
                                        imageHeight == (data[14] | data[15] << 8)
                                  : imageWidth == -1 && imageHeight == -1;
    if (!published)
        std::abort();
    for (size_t n = 0; pixels && n < size_t(imageWidth) * size_t(imageHeight) * 4; ++n)
        sink = sink + pixels[n];
    return 0;
}
