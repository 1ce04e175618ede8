#include "tiff_image.h"

#include <tiffio.h>

#include <cstring>

namespace {

// libtiff writes into a growing buffer, seeking back to patch what it wrote
// (the first directory's offset), and reading nothing it did not write.
struct TiffBuffer {
    std::vector<unsigned char> bytes;
    size_t at = 0;
};

tmsize_t bufferRead(thandle_t handle, void* out, tmsize_t count)
{
    auto* buffer = static_cast<TiffBuffer*>(handle);
    const size_t available = buffer->at < buffer->bytes.size() ? buffer->bytes.size() - buffer->at : 0;
    const size_t n = size_t(count) < available ? size_t(count) : available;
    std::memcpy(out, buffer->bytes.data() + buffer->at, n);
    buffer->at += n;
    return tmsize_t(n);
}

tmsize_t bufferWrite(thandle_t handle, void* in, tmsize_t count)
{
    auto* buffer = static_cast<TiffBuffer*>(handle);
    if (buffer->at + size_t(count) > buffer->bytes.size())
        buffer->bytes.resize(buffer->at + size_t(count));
    std::memcpy(buffer->bytes.data() + buffer->at, in, size_t(count));
    buffer->at += size_t(count);
    return count;
}

toff_t bufferSeek(thandle_t handle, toff_t offset, int whence)
{
    auto* buffer = static_cast<TiffBuffer*>(handle);
    const toff_t base = whence == SEEK_CUR ? buffer->at : whence == SEEK_END ? buffer->bytes.size() : 0;
    buffer->at = size_t(base + offset);
    return buffer->at;
}

int bufferClose(thandle_t) { return 0; }
toff_t bufferSize(thandle_t handle) { return static_cast<TiffBuffer*>(handle)->bytes.size(); }
int noMap(thandle_t, void**, toff_t*) { return 0; }
void noUnmap(thandle_t, void*, toff_t) {}

// Nothing libtiff says reaches the console: a failure is an empty result.
int silent(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

std::vector<unsigned char> encodeFloatTiff(const float* values, int width, int height)
{
    TiffBuffer buffer;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return {};
    TIFFOpenOptionsSetErrorHandlerExtR(options, silent, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, silent, nullptr);
    TIFF* tiff = TIFFClientOpenExt("heights", "w", &buffer, bufferRead, bufferWrite, bufferSeek, bufferClose,
                                   bufferSize, noMap, noUnmap, options);
    TIFFOpenOptionsFree(options);
    if (!tiff)
        return {};
    // One strip of 64 rows at a time (libtiff's own default is 8 KiB).
    const uint32_t rows = 64;
    bool written = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(width)) &&
                   TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(height)) &&
                   TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1)) &&
                   TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(32)) &&
                   TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_IEEEFP)) &&
                   TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK)) &&
                   TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG)) &&
                   TIFFSetField(tiff, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE)) &&
                   TIFFSetField(tiff, TIFFTAG_PREDICTOR, uint16_t(PREDICTOR_FLOATINGPOINT)) &&
                   TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, 9) && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows);
    // The predictor works in place: each row goes through a copy.
    std::vector<float> row(size_t(width > 0 ? width : 0));
    for (int r = 0; written && r < height; ++r) {
        std::memcpy(row.data(), values + size_t(height - 1 - r) * size_t(width), row.size() * sizeof(float));
        written = TIFFWriteScanline(tiff, row.data(), uint32_t(r), 0) == 1;
    }
    written = TIFFWriteDirectory(tiff) && written;
    TIFFClose(tiff);
    return written ? std::move(buffer.bytes) : std::vector<unsigned char>();
}
