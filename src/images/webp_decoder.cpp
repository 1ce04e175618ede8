#include "webp_decoder.h"

#include <webp/decode.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The most pixels a byte of lossy WebP (VP8, always a key frame) can give,
// checked before anything is allocated. Every 16 x 16 macroblock codes its
// luma and chroma modes, whose first bits have fixed probabilities (145 and
// 142 of 256): at least 0.82 + 0.85 bits of the boolean coder, which
// cannot give more than 8 bits of such choices a byte (and 2 bytes on
// starting). So a byte holds at most 8 / 1.6 macroblocks, 1280 pixels. A
// valid file always passes; lossless WebP has no such bound (a picture of
// one colour costs no bits a pixel).
constexpr double LOSSY_PIXELS_PER_BYTE = 8 / 1.6 * 256;

}  // namespace

bool isWebp(const unsigned char* data, size_t size)
{
    return size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0;
}

ImageRead decodeWebp(const unsigned char* data, size_t size, bool)
{
    ImageRead image;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        refuse(image, "libwebp cannot start");
        return image;
    }
    // The header alone first: the size, before anything is allocated.
    const VP8StatusCode header = WebPGetFeatures(data, size, &config.input);
    if (header != VP8_STATUS_OK) {
        refuse(image, header == VP8_STATUS_NOT_ENOUGH_DATA ? "bad WebP (truncated)" : "bad WebP (not a WebP)");
        return image;
    }
    image.width = config.input.width;
    image.height = config.input.height;
    image.sized = true;
    if (pastCeiling(size_t(image.width), size_t(image.height), image))
        return image;
    if (config.input.format == 1 && double(image.width) * image.height > LOSSY_PIXELS_PER_BYTE * (double(size) + 2)) {
        refuse(image, "claims %d x %d, more pixels than %zu bytes of lossy WebP can hold", image.width, image.height,
               size);
        return image;
    }
    if (config.input.has_animation) {
        refuse(image, "an animated WebP: save one frame of it");
        return image;
    }
    // Decoded straight into our pixels, top row first, then turned bottom
    // row first in place: libwebp's own offsets stay within the buffer, as
    // a negative stride would not keep them. Alpha is kept as a PNG's is,
    // and ignored as it is when shown.
    const size_t stride = size_t(image.width) * 4, bytes = stride * size_t(image.height);
    std::unique_ptr<unsigned char[]> pixels(new (std::nothrow) unsigned char[bytes]);
    if (!pixels) {
        refuse(image, "not enough memory for the pixels");
        return image;
    }
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = pixels.get();
    config.output.u.RGBA.stride = int(stride);
    config.output.u.RGBA.size = bytes;
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
        static const char* const reasons[] = {"", "out of memory", "invalid parameter", "bad data",
                                              "unsupported feature", "suspended", "cancelled", "truncated"};
        refuse(image, "bad WebP (%s)", unsigned(status) < 8 ? reasons[status] : "unknown error");
        return image;
    }
    for (size_t top = 0, bottom = bytes - stride; top < bottom; top += stride, bottom -= stride)
        std::swap_ranges(pixels.get() + top, pixels.get() + top + stride, pixels.get() + bottom);
    image.pixels = std::move(pixels);
    return image;
}
