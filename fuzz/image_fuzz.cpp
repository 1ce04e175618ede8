// One fuzz input is one whole image file, TGA, PNG or JPEG, decoded as
// loadImage decodes a file it has read (libFuzzer hands it over in a heap
// block of exactly its size, so a read past the end is caught).
#include "image.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {
volatile unsigned sink;  // keeps the reads of the pixels
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    imageWidth = imageHeight = -1;
    unsigned short* wide = nullptr;
    const std::unique_ptr<PixelBuffer[]> pixels(decodeImage(data, size, "fuzz", &wide));
    const std::unique_ptr<unsigned short[]> red16(wide);
    // A refused file leaves the published size alone; one read publishes a
    // size within the ceiling, and the textures hand width x height x 4
    // bytes to GL: touching each one lets ASan check that they are there.
    const size_t count = size_t(imageWidth) * size_t(imageHeight);
    if (pixels ? imageWidth < 0 || imageHeight < 0 || count > MOST_PIXELS : imageWidth != -1 || imageHeight != -1 || wide)
        std::abort();
    for (size_t n = 0; pixels && n < count * 4; ++n)
        sink = sink + pixels[n];
    for (size_t n = 0; wide && n < count; ++n)
        sink = sink + wide[n];
    return 0;
}
