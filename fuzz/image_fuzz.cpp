// One fuzz input is one whole image file, TGA, PNG or JPEG, decoded as
// loadImage decodes a file it has read, printing nothing (libFuzzer hands
// it over in a heap block of exactly its size, so a read past the end is
// caught).
#include "image.h"

#include <cstdint>
#include <cstdlib>

static volatile unsigned sink;  // keeps the reads of the pixels

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ImageRead image = readImage(data, size, true);
    // A refused file has no pixels; one read has a size within the ceiling,
    // and the textures hand width x height x 4 bytes to GL: touching each
    // one lets ASan check that they are there.
    const size_t count = size_t(image.width) * size_t(image.height);
    if (image.pixels ? image.width < 0 || image.height < 0 || count > MOST_PIXELS : image.red16 != nullptr)
        std::abort();
    for (size_t n = 0; image.pixels && n < count * 4; ++n)
        sink = sink + image.pixels[n];
    for (size_t n = 0; image.red16 && n < count; ++n)
        sink = sink + image.red16[n];
    return 0;
}
