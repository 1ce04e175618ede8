#include "tiff_decoder.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>

namespace {

// libtiff reports through the handlers given at opening and never jumps:
// the reading's state can own its buffers. Before libtiff sees the file,
// its chain of IFDs is walked here; before any pixel is allocated, every
// strip or tile is checked against the file, and the pixels claimed against
// what the compressed bytes can hold.

// The most bytes one byte of compressed data can become. Deflate's 258-byte
// copy takes at least 2 bits (see png_decoder.cpp). A PackBits run is two
// bytes for at most 128. LZW: codes are 9 to 12 bits wide, so none names a
// table entry past 4095. Entries 0 to 255 are one byte each, 256 and 257
// clear and end, and each later entry is added as an earlier one and one
// byte more, so entry e stands for at most e - 256 bytes: 3839 for the
// last. N bytes hold at most 8N / 9 codes, so at most 3839 x 8 / 9 N bytes
// come out, under 3413 N. Uncompressed data becomes itself.
constexpr uint64_t DEFLATE_MOST_RATIO = 1032;
constexpr uint64_t PACKBITS_MOST_RATIO = 64;
constexpr uint64_t LZW_MOST_RATIO = 3413;

// Only the first image is read, but the chain of IFDs is walked up to this
// many, so that one that comes back on itself is refused before libtiff
// follows it.
constexpr int MOST_IFDS = 4096;

// What libtiff may allocate in one piece beyond what the file's bytes can
// decode to: its tables and one strip's working copy.
constexpr uint64_t TIFF_SPARE_MEMORY = uint64_t(64) << 20;

// The file in memory, as libtiff reads it, and its first error message.
struct Source {
    const unsigned char* data;
    size_t size;
    uint64_t at = 0;
    char reason[REASON_SIZE] = "";
};

tmsize_t sourceRead(thandle_t handle, void* out, tmsize_t count)
{
    auto* source = static_cast<Source*>(handle);
    const uint64_t left = source->at < source->size ? source->size - source->at : 0;
    const uint64_t taken = std::min<uint64_t>(uint64_t(count), left);
    std::memcpy(out, source->data + source->at, taken);
    source->at += taken;
    return tmsize_t(taken);
}

tmsize_t sourceWrite(thandle_t, void*, tmsize_t) { return 0; }

toff_t sourceSeek(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<Source*>(handle);
    const uint64_t from = whence == SEEK_CUR ? source->at : whence == SEEK_END ? source->size : 0;
    source->at = from + offset;
    return source->at;
}

int sourceClose(thandle_t) { return 0; }

toff_t sourceSize(thandle_t handle) { return static_cast<Source*>(handle)->size; }

// Mapped, libtiff decodes straight from the bytes in memory; it only reads them.
int sourceMap(thandle_t handle, void** base, toff_t* size)
{
    auto* source = static_cast<Source*>(handle);
    *base = const_cast<unsigned char*>(source->data);
    *size = source->size;
    return 1;
}

void sourceUnmap(thandle_t, void*, toff_t) {}

// Returning 1 keeps libtiff from passing the message on to its own
// handlers, which print.
int keepFirstError(TIFF*, void* handle, const char*, const char* format, va_list args)
{
    auto* source = static_cast<Source*>(handle);
    if (source->reason[0] == '\0')
        std::vsnprintf(source->reason, sizeof source->reason, format, args);
    return 1;
}

// Warnings leave the picture whole (an unknown tag, a bad date, a strip
// without its end code): nothing to tell.
int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// An unsigned integer of bytes bytes at data, in the file's byte order.
uint64_t fileInteger(const unsigned char* data, size_t bytes, bool bigEndian)
{
    uint64_t value = 0;
    for (size_t k = 0; k < bytes; ++k)
        value |= uint64_t(data[bigEndian ? k : bytes - 1 - k]) << (8 * (bytes - 1 - k));
    return value;
}

// Whether the chain of IFDs ends, walked from the header: the first IFD must
// be whole within the file, and no IFD may come again. The walk stops at an
// IFD past the end (libtiff never reads one past the first) or after
// MOST_IFDS.
bool ifdChainEnds(const unsigned char* data, size_t size, ImageRead& image)
{
    const bool bigEndian = data[0] == 'M', big = data[2] == '+' || data[3] == '+';
    const size_t offsetBytes = big ? 8 : 4, countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12;
    const size_t headerBytes = big ? 16 : 8;
    if (size < headerBytes) {
        refuse(image, "bad TIFF (header cut short: %zu of %zu bytes)", size, headerBytes);
        return false;
    }
    uint64_t at = fileInteger(data + headerBytes - offsetBytes, offsetBytes, bigEndian);
    std::set<uint64_t> seen;
    for (int n = 0; at != 0 && n < MOST_IFDS; ++n) {
        if (!seen.insert(at).second) {
            refuse(image, "bad TIFF (its chain of IFDs loops: the IFD at byte %llu comes again)", (unsigned long long)at);
            return false;
        }
        const uint64_t entries = at <= size - countBytes ? fileInteger(data + at, countBytes, bigEndian) : 0;
        const bool whole = at <= size - countBytes && entries <= (size - at - countBytes) / entryBytes &&
                           size - at - countBytes - entries * entryBytes >= offsetBytes;
        if (!whole && n == 0) {
            refuse(image, "bad TIFF (cut short: its first IFD, at byte %llu, runs past the end of the file, %zu bytes)",
                   (unsigned long long)at, size);
            return false;
        }
        if (!whole)
            break;
        at = fileInteger(data + at + countBytes + entries * entryBytes, offsetBytes, bigEndian);
    }
    return true;
}

// What the first IFD says of the pixels.
struct Shape {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, format = SAMPLEFORMAT_UINT, photometric = 0, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE, orientation = ORIENTATION_TOPLEFT;
    int colours = 1;     // 1 for grey, 3 for RGB
    bool alpha = false;  // the first sample past the colours is alpha
    bool tiled = false;
    uint32_t chunkWidth = 0, chunkHeight = 0;  // a tile's, or a strip's: the width and its rows
    uint64_t rowBytes = 0;                      // one row of a strip or tile, decoded
};

Shape readShape(TIFF* tiff)
{
    Shape shape;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &shape.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &shape.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &shape.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &shape.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &shape.format);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &shape.photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &shape.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &shape.compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &shape.orientation);
    shape.colours = shape.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    shape.alpha = shape.samples > shape.colours;
    shape.tiled = TIFFIsTiled(tiff);
    if (shape.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &shape.chunkWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &shape.chunkHeight);
    } else {
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        shape.chunkWidth = shape.width;
        shape.chunkHeight = std::min(rowsPerStrip, shape.height);
    }
    const uint64_t samplesInChunk = shape.planar == PLANARCONFIG_SEPARATE ? 1 : shape.samples;
    shape.rowBytes = uint64_t(shape.chunkWidth) * samplesInChunk * (shape.bits / 8);
    return shape;
}

const char* compressionName(uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_NONE: return "uncompressed";
    case COMPRESSION_LZW: return "LZW";
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return "Deflate";
    case COMPRESSION_PACKBITS: return "PackBits";
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return "CCITT fax";
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG: return "JPEG";
    case COMPRESSION_JBIG: return "JBIG";
    case COMPRESSION_LZMA: return "LZMA";
    case COMPRESSION_ZSTD: return "Zstandard";
    case COMPRESSION_WEBP: return "WebP";
    case COMPRESSION_SGILOG:
    case COMPRESSION_SGILOG24: return "SGI LogLuv";
    default: return nullptr;
    }
}

const char* photometricName(uint16_t photometric)
{
    switch (photometric) {
    case PHOTOMETRIC_PALETTE: return "colour-mapped (palette)";
    case PHOTOMETRIC_MASK: return "transparency mask";
    case PHOTOMETRIC_SEPARATED: return "CMYK (separated)";
    case PHOTOMETRIC_YCBCR: return "YCbCr";
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB: return "CIE L*a*b*";
    case PHOTOMETRIC_LOGL:
    case PHOTOMETRIC_LOGLUV: return "LogLuv";
    case PHOTOMETRIC_CFA: return "colour filter array (raw)";
    default: return nullptr;
    }
}

// Whether the pixels are of a kind read here; says why not.
bool readableKind(const Shape& shape, ImageRead& image)
{
    const bool grey = shape.photometric == PHOTOMETRIC_MINISBLACK || shape.photometric == PHOTOMETRIC_MINISWHITE;
    const char* compression = compressionName(shape.compression);
    const char* photometric = photometricName(shape.photometric);
    const bool integers = shape.format == SAMPLEFORMAT_UINT || shape.format == SAMPLEFORMAT_VOID;
    const bool wholeBytes = integers && (shape.bits == 8 || shape.bits == 16);
    const bool floats = shape.format == SAMPLEFORMAT_IEEEFP && shape.bits == 32;
    const bool readCompression = shape.compression == COMPRESSION_NONE || shape.compression == COMPRESSION_LZW ||
                                 shape.compression == COMPRESSION_ADOBE_DEFLATE ||
                                 shape.compression == COMPRESSION_DEFLATE || shape.compression == COMPRESSION_PACKBITS;
    if (!readCompression) {
        if (compression)
            refuse(image, "%s compression is not supported (only none, LZW, Deflate and PackBits)", compression);
        else
            refuse(image, "compression %u is not supported (only none, LZW, Deflate and PackBits)", shape.compression);
        return false;
    }
    if (!grey && shape.photometric != PHOTOMETRIC_RGB) {
        if (photometric)
            refuse(image, "%s TIFF is not supported, only grey and RGB: save it as RGB", photometric);
        else
            refuse(image, "photometric interpretation %u is not supported, only grey and RGB", shape.photometric);
        return false;
    }
    if (shape.samples < shape.colours) {
        refuse(image, "bad TIFF (%s in %u sample%s a pixel)", shape.colours == 3 ? "RGB" : "grey", shape.samples,
               shape.samples == 1 ? "" : "s");
        return false;
    }
    if (shape.format == SAMPLEFORMAT_IEEEFP && !floats) {
        refuse(image, "%u-bit floating-point samples are not supported (only 32-bit)", shape.bits);
        return false;
    }
    if (!wholeBytes && !floats) {
        refuse(image, "%u-bit %ssamples are not supported (only 8 and 16 bits, and 32-bit floats)", shape.bits,
               integers ? "" : shape.format == SAMPLEFORMAT_INT ? "signed " : "complex ");
        return false;
    }
    if (floats && shape.photometric == PHOTOMETRIC_MINISWHITE) {
        refuse(image, "floating-point grey with white as zero is not supported (only black as zero)");
        return false;
    }
    return true;
}

// a x b, or the most there is when that overflows: so large a claim is
// refused all the same.
uint64_t product(uint64_t a, uint64_t b)
{
    uint64_t p = 0;
    return __builtin_mul_overflow(a, b, &p) ? UINT64_MAX : p;
}

uint64_t mostRatio(uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_LZW: return LZW_MOST_RATIO;
    case COMPRESSION_PACKBITS: return PACKBITS_MOST_RATIO;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return DEFLATE_MOST_RATIO;
    default: return 1;
    }
}

// Whether every strip or tile lies within the file, an uncompressed one
// holding all it must, and the pixels claimed are no more than the
// compressed bytes can hold; says why not. Strips may share bytes, but
// shared bytes are counted once: a tiny file cannot claim a large picture
// by pointing many strips at the same few bytes.
bool chunksInFile(TIFF* tiff, const Shape& shape, size_t size, ImageRead& image)
{
    const char* chunk = shape.tiled ? "tile" : "strip";
    if (shape.width == 0 || shape.height == 0 || shape.chunkWidth == 0 || shape.chunkHeight == 0) {
        refuse(image, "bad TIFF (an image of %u x %u pixels in %ss of %u x %u)", shape.width, shape.height, chunk,
               shape.chunkWidth, shape.chunkHeight);
        return false;
    }
    // Within the pixel ceiling: no product of these overflows but the last.
    const uint64_t across = (uint64_t(shape.width) + shape.chunkWidth - 1) / shape.chunkWidth;
    const uint64_t down = (uint64_t(shape.height) + shape.chunkHeight - 1) / shape.chunkHeight;
    const uint64_t planes = shape.planar == PLANARCONFIG_SEPARATE ? shape.samples : 1;
    const uint32_t count = shape.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    if (count != planes * across * down) {
        refuse(image, "bad TIFF (%u %ss where its size takes %llu)", count, chunk,
               (unsigned long long)(planes * across * down));
        return false;
    }
    uint64_t stored = 0;
    for (uint32_t n = 0; n < count; ++n) {
        const uint64_t offset = TIFFGetStrileOffset(tiff, n), bytes = TIFFGetStrileByteCount(tiff, n);
        if (bytes > size || offset > size - bytes) {
            refuse(image, "bad TIFF (%s %u reaches past the end of the file: %llu bytes at byte %llu of %zu)", chunk, n,
                   (unsigned long long)bytes, (unsigned long long)offset, size);
            return false;
        }
        // A tile is whole, its part past the image too; the last strip of
        // each plane may be short.
        const uint64_t top = n % down * shape.chunkHeight;
        const uint64_t rows = shape.tiled ? shape.chunkHeight : std::min<uint64_t>(shape.chunkHeight, shape.height - top);
        const uint64_t needed = product(rows, shape.rowBytes);
        if (shape.compression == COMPRESSION_NONE && bytes < needed) {
            refuse(image, "bad TIFF (%s %u holds %llu bytes, less than the %llu of its pixels)", chunk, n,
                   (unsigned long long)bytes, (unsigned long long)needed);
            return false;
        }
        stored += bytes;
    }
    stored = std::min<uint64_t>(stored, size);
    const uint64_t rows = shape.tiled ? down * shape.chunkHeight : shape.height;
    const uint64_t decoded = product(product(planes * across, rows), shape.rowBytes);
    if (decoded > stored * mostRatio(shape.compression)) {
        refuse(image, "claims %u x %u at %u bits a pixel, more than its %llu bytes of %s data can hold", shape.width,
               shape.height, shape.bits * shape.samples, (unsigned long long)stored, compressionName(shape.compression));
        return false;
    }
    return true;
}

// What the reading keeps, as in ImageRead.
struct Kept {
    std::unique_ptr<unsigned char[]> pixels;
    std::unique_ptr<unsigned short[]> red16;
    std::unique_ptr<float[]> heights;
};

unsigned char to8(unsigned v) { return static_cast<unsigned char>((v * 255u + 32767u) / 65535u); }

// A float shown: clamped to 0..1 (NaN as 0), 255 for 1, rounded.
unsigned char floatShown(float v)
{
    return static_cast<unsigned char>(!(v > 0) ? 0 : v >= 1 ? 255 : std::lround(v * 255.0f));
}

// Sample s of a stored pixel (at in) put into pixel n as shown: the
// colours, then alpha; further samples are passed over. Grey sets red,
// green and blue alike; without alpha the colours' first sample sets it to 255.
void placeSample(const Shape& shape, const unsigned char* in, int s, size_t n, Kept& kept)
{
    const bool inverted = shape.photometric == PHOTOMETRIC_MINISWHITE && s == 0;
    unsigned char shown = 0;
    if (shape.bits == 8) {
        shown = inverted ? 255 - in[0] : in[0];
    } else if (shape.bits == 16) {
        uint16_t v;
        std::memcpy(&v, in, 2);  // libtiff gives samples in this machine's order
        v = inverted ? 65535 - v : v;
        shown = to8(v);
        if (s == 0 && kept.red16)
            kept.red16[n] = v;
    } else {
        float v;
        std::memcpy(&v, in, 4);
        shown = floatShown(v);
        if (s == 0)
            kept.heights[n] = v;
    }
    unsigned char* pixel = kept.pixels.get() + 4 * n;
    if (s >= shape.colours) {
        if (s == shape.colours)
            pixel[3] = shown;
        return;
    }
    if (shape.colours == 1)
        pixel[0] = pixel[1] = pixel[2] = shown;
    else
        pixel[s] = shown;
    if (s == 0 && !shape.alpha)
        pixel[3] = 255;
}

// Where a NaN or infinite height was first met, as stored: column and row
// from the top left.
struct NotFinite {
    bool met = false, nan = false;
    uint32_t column = 0, row = 0;
};

// Decoded rows of a strip or tile, their top left at stored (x0, y0), of
// samples from firstSample on (all of a pixel's when contiguous, one
// plane's when separate), put where each pixel shows.
void placeRows(const Shape& shape, const unsigned char* chunk, uint32_t x0, uint32_t y0, uint32_t rows, int firstSample,
               Kept& kept, NotFinite& bad)
{
    const int samples = shape.planar == PLANARCONFIG_SEPARATE ? 1 : shape.samples;
    const size_t sampleBytes = shape.bits / 8;
    const uint32_t columns = std::min(shape.chunkWidth, shape.width - x0);
    for (uint32_t r = 0; r < rows; ++r) {
        ptrdiff_t first = 0, step = 0;
        shownPlace(shape.orientation, shape.width, shape.height, y0 + r, first, step);
        const unsigned char* in = chunk + r * shape.rowBytes;
        for (uint32_t x = 0; x < columns; ++x) {
            const size_t n = size_t(first + ptrdiff_t(x0 + x) * step);
            for (int s = 0; s < samples; ++s, in += sampleBytes)
                placeSample(shape, in, firstSample + s, n, kept);
            if (kept.heights && firstSample == 0 && !bad.met && !std::isfinite(kept.heights[n]))
                bad = {true, std::isnan(kept.heights[n]), x0 + x, y0 + r};
        }
    }
}

// Every tile decoded whole, every strip a row at a time (as libtiff
// decodes them, so that a picture in one strip takes a row beside the
// pixels, not a copy), and put in place. False with a reason in
// source.reason, or in image's.
bool readChunks(TIFF* tiff, const Shape& shape, Kept& kept, Source& source, ImageRead& image)
{
    const uint32_t rowsAtOnce = shape.tiled ? shape.chunkHeight : 1;
    const uint64_t bytes = shape.rowBytes * rowsAtOnce;
    if (bytes != (shape.tiled ? TIFFTileSize64(tiff) : TIFFScanlineSize64(tiff))) {
        refuse(image, "bad TIFF (rows of an unexpected size)");
        return false;
    }
    std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[bytes]);
    if (!chunk) {
        refuse(image, "not enough memory for a %s of %llu bytes", shape.tiled ? "tile" : "row", (unsigned long long)bytes);
        return false;
    }
    const int planes = shape.planar == PLANARCONFIG_SEPARATE ? shape.samples : 1;
    NotFinite bad;
    for (int plane = 0; plane < planes; ++plane)
        for (uint32_t y = 0; y < shape.height; y += rowsAtOnce)
            for (uint32_t x = 0; x < shape.width; x += shape.chunkWidth) {
                const bool read = shape.tiled
                    ? TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x, y, 0, uint16_t(plane)), chunk.get(), tmsize_t(bytes)) >= 0
                    : TIFFReadScanline(tiff, chunk.get(), y, uint16_t(plane)) == 1;
                if (!read || source.reason[0])
                    return false;
                placeRows(shape, chunk.get(), x, y, std::min(rowsAtOnce, shape.height - y), plane, kept, bad);
                if (bad.met) {
                    refuse(image, "%s height at column %u, row %u (heights must be finite numbers)",
                           bad.nan ? "a NaN" : "an infinite", bad.column, bad.row);
                    return false;
                }
            }
    return true;
}

// False with a reason in source.reason, or in image's.
bool readTiff(TIFF* tiff, Source& source, bool wantRed16, Kept& kept, ImageRead& image)
{
    const Shape shape = readShape(tiff);
    const bool turned = shape.orientation >= 5 && shape.orientation <= 8;
    image.width = int(turned ? shape.height : shape.width);
    image.height = int(turned ? shape.width : shape.height);
    image.sized = true;
    if (source.reason[0] || pastCeiling(shape.width, shape.height, image) || !readableKind(shape, image) ||
        !chunksInFile(tiff, shape, source.size, image))
        return false;
    const size_t pixels = size_t(shape.width) * shape.height;
    kept.pixels.reset(new (std::nothrow) unsigned char[pixels * 4]);
    if (shape.bits == 16 && wantRed16)
        kept.red16.reset(new (std::nothrow) unsigned short[pixels]);
    if (shape.bits == 32)
        kept.heights.reset(new (std::nothrow) float[pixels]);
    if (!kept.pixels || (shape.bits == 16 && wantRed16 && !kept.red16) || (shape.bits == 32 && !kept.heights)) {
        refuse(image, "not enough memory for the pixels");
        return false;
    }
    return readChunks(tiff, shape, kept, source, image);
}

}  // namespace

bool isTiff(const unsigned char* data, size_t size)
{
    return size >= 4 && ((data[0] == 'I' && data[1] == 'I' && (data[2] == '*' || data[2] == '+') && data[3] == 0) ||
                         (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == '*' || data[3] == '+')));
}

ImageRead decodeTiff(const unsigned char* data, size_t size, bool wantRed16)
{
    ImageRead image;
    if (!isTiff(data, size)) {
        refuse(image, "bad TIFF (no TIFF signature: not a TIFF file)");
        return image;
    }
    if (!ifdChainEnds(data, size, image))
        return image;
    Source source{data, size};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        refuse(image, "not enough memory to start libtiff");
        return image;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepFirstError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, nullptr);
    // Nothing libtiff takes in one piece need be larger than the file's bytes
    // can decode to (checked before any strip is read), and its tables.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(LZW_MOST_RATIO * size + TIFF_SPARE_MEMORY));
    TIFF* tiff = TIFFClientOpenExt("TIFF", "r", &source, sourceRead, sourceWrite, sourceSeek, sourceClose, sourceSize,
                                   sourceMap, sourceUnmap, options);
    TIFFOpenOptionsFree(options);
    Kept kept;
    const bool decoded = tiff && readTiff(tiff, source, wantRed16, kept, image);
    if (tiff)
        TIFFClose(tiff);
    if (!decoded || source.reason[0]) {
        if (image.reason.empty())
            refuse(image, "bad TIFF (%s)", source.reason[0] ? source.reason : "libtiff cannot open it");
        return image;
    }
    image.pixels = std::move(kept.pixels);
    image.red16 = std::move(kept.red16);
    image.heights = std::move(kept.heights);
    return image;
}
