#include "webp_decoder.h"

#include <webp/decode.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

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
