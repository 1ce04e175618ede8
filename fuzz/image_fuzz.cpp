// One fuzz input is one whole image file, decoded as loadImage decodes a
// file it has read, printing nothing (libFuzzer hands it over in a heap
// block of exactly its size, so a read past the end is caught). The image
// loading's target (image_fuzz) takes any kind, as readImage chooses by the
// first bytes; a reader's own (tiff_fuzz, exr_fuzz, webp_fuzz) is built from
// this file with FUZZ_HEADER and FUZZ_DECODE naming its header and decoder,
// so that every input reaches it.
#ifdef FUZZ_DECODE
#include FUZZ_HEADER
#else
#include "image.h"
#define FUZZ_DECODE readImage
#endif

#include <sanitizer/asan_interface.h>  // Required for: __asan_region_is_poisoned()

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ImageRead image = FUZZ_DECODE(data, size, true);
    // A refused file has no pixels, nor red channel or heights; one read has
    // a size within the ceiling, and the textures hand width x height x 4
    // bytes to GL: ASan's shadow says whether they are all there, as touching
    // each would, but at once for the largest images the ceiling lets
    // through.
    const size_t count = size_t(image.width) * size_t(image.height);
    if (image.pixels ? image.width < 0 || image.height < 0 || count > MOST_PIXELS
                     : image.red16 != nullptr || image.heights != nullptr)
        std::abort();
    if (image.pixels && __asan_region_is_poisoned(image.pixels.get(), count * 4))
        std::abort();
    if (image.red16 && __asan_region_is_poisoned(image.red16.get(), count * sizeof image.red16[0]))
        std::abort();
    // The heights, when there, are all there and every one finite.
    if (image.heights) {
        if (__asan_region_is_poisoned(image.heights.get(), count * sizeof image.heights[0]))
            std::abort();
        for (size_t i = 0; i < count; ++i)
            if (!std::isfinite(image.heights[i]))
                std::abort();
    }
    return 0;
}
