// One fuzz input is one whole image file, TGA, PNG or JPEG, decoded as
// loadImage decodes a file it has read, printing nothing (libFuzzer hands
// it over in a heap block of exactly its size, so a read past the end is
// caught).
#include "image.h"

#include <sanitizer/asan_interface.h>  // Required for: __asan_region_is_poisoned()

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ImageRead image = readImage(data, size, true);
    // A refused file has no pixels; one read has a size within the ceiling,
    // and the textures hand width x height x 4 bytes to GL: ASan's shadow
    // says whether they are all there, as touching each would, but at once
    // for the largest images the ceiling lets through.
    const size_t count = size_t(image.width) * size_t(image.height);
    if (image.pixels ? image.width < 0 || image.height < 0 || count > MOST_PIXELS : image.red16 != nullptr)
        std::abort();
    if (image.pixels && __asan_region_is_poisoned(image.pixels.get(), count * 4))
        std::abort();
    if (image.red16 && __asan_region_is_poisoned(image.red16.get(), count * sizeof image.red16[0]))
        std::abort();
    return 0;
}
