#include "tga.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>  // Required for: status(), file_size()
#include <fstream>
#include <limits>
#include <memory>
#include <new>

int imageWidth = 0;
int imageHeight = 0;

namespace {

constexpr size_t HEADER_SIZE = 18;

// Image types: colour-mapped, true colour and grey-scale, each uncompressed
// or run-length encoded.
constexpr int TYPE_COLOUR_MAPPED = 1;
constexpr int TYPE_TRUE_COLOUR = 2;
constexpr int TYPE_GREY = 3;
constexpr int TYPE_RLE_COLOUR_MAPPED = 9;
constexpr int TYPE_RLE_TRUE_COLOUR = 10;
constexpr int TYPE_RLE_GREY = 11;

// A run-length packet covers at most this many pixels.
constexpr size_t PACKET_PIXELS = 128;

// Indices are 8 bits, so no more map entries than this can be named.
constexpr size_t INDICES = 256;

// The console lines go out at once, so a pipe or file gets them even if the
// program is killed later.
[[gnu::format(printf, 1, 2)]] void printLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

}  // namespace

void reportFile(const char* name, const char* format, ...)
{
    char reason[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    std::fprintf(stderr, "%s: %s\n", name, reason);
    std::fflush(stderr);
}

namespace {

unsigned readU16(const unsigned char* at) { return at[0] | unsigned(at[1]) << 8; }

// A 5-bit channel (the low 5 bits of v) widened to 8 bits: 0 stays 0, 31
// becomes 255.
unsigned char widen5(unsigned v)
{
    v &= 31u;
    return static_cast<unsigned char>(v << 3 | v >> 2);
}

// A true-colour pixel or colour-map entry to RGBA. 2 bytes: a little-endian
// value with 5 bits each of blue, green and red from bit 0 up (the top bit is
// not alpha); 3 bytes: blue, green, red; 4 bytes: blue, green, red, alpha.
// All but 4-byte ones are opaque.
void convertColour(const unsigned char* in, size_t bytes, unsigned char* out)
{
    if (bytes == 2) {
        const unsigned value = readU16(in);
        out[0] = widen5(value >> 10);
        out[1] = widen5(value >> 5);
        out[2] = widen5(value);
        out[3] = 255;
        return;
    }
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    out[3] = bytes == 4 ? in[3] : 255;
}

// What a file pixel is: its size, and a grey value, a colour index or a
// colour. Grey pixels of 2 bytes are a value then an alpha. Index i names
// map entry i - first of length entries; its RGBA is at map[4 * i].
struct PixelKind {
    size_t bytes = 0;
    bool grey = false;
    bool indexed = false;
    size_t first = 0;
    size_t length = 0;
    unsigned char map[4 * INDICES] = {};
};

// One file pixel to RGBA; an index outside the map is reported and gives false.
bool convertPixel(const unsigned char* in, const PixelKind& kind, unsigned char* out, const char* name)
{
    if (kind.grey) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = kind.bytes == 2 ? in[1] : 255;
    } else if (kind.indexed) {
        const size_t index = in[0];
        if (index < kind.first || index - kind.first >= kind.length) {
            reportFile(name, "colour index %zu is outside the map (entries %zu to %zu)", index, kind.first,
                   kind.first + kind.length - 1);
            return false;
        }
        std::memcpy(out, kind.map + 4 * index, 4);
    } else {
        convertColour(in, kind.bytes, out);
    }
    return true;
}

// Expands the packets at in (size bytes, starting at byte offset of the file)
// into exactly pixels RGBA pixels. Packets may cross rows but not the end of
// the image or of the data.
bool decodeRunLength(const unsigned char* in, size_t size, size_t offset, size_t pixels,
                     const PixelKind& kind, unsigned char* out, const char* name)
{
    size_t at = 0;
    for (size_t n = 0; n < pixels;) {
        if (at == size) {
            reportFile(name, "run-length data ends at pixel %zu of %zu", n, pixels);
            return false;
        }
        const unsigned char head = in[at];
        const size_t count = (head & 0x7fu) + 1;
        const bool repeated = head & 0x80u;
        const size_t bytes = repeated ? kind.bytes : count * kind.bytes;
        if (count > pixels - n) {
            reportFile(name, "run-length packet at byte %zu runs past the image", offset + at);
            return false;
        }
        if (bytes > size - at - 1) {
            reportFile(name, "run-length packet at byte %zu runs past the end of the file", offset + at);
            return false;
        }
        const unsigned char* data = in + at + 1;
        for (size_t k = 0; k < count; ++k, ++n) {
            if (!convertPixel(repeated ? data : data + k * kind.bytes, kind, out + 4 * n, name))
                return false;
        }
        at += 1 + bytes;
    }
    return true;
}

// Whether pixels of depth bits suit the image type; if not, says why.
bool depthSuits(bool grey, bool indexed, int depth, const char* name)
{
    if (grey && depth != 8 && depth != 16)
        reportFile(name, "%d-bit pixels do not suit a grey-scale image (only 8 and 16)", depth);
    else if (indexed && depth != 8)
        reportFile(name, "%d-bit indices are not supported (only 8)", depth);
    else if (!grey && !indexed && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        reportFile(name, "%d-bit pixels do not suit a true-colour image (only 15, 16, 24 and 32)", depth);
    else
        return true;
    return false;
}

}  // namespace

PixelBuffer* decodeTga(const unsigned char* data, size_t size, const char* name)
{
    if (size < HEADER_SIZE) {
        reportFile(name, "header cut short (%zu of %zu bytes)", size, HEADER_SIZE);
        return nullptr;
    }
    const size_t idLength = data[0];
    const int mapType = data[1];
    const int type = data[2];
    const size_t mapFirst = readU16(data + 3);
    const size_t mapLength = readU16(data + 5);
    const int mapEntryBits = data[7];
    const size_t mapEntryBytes = (mapEntryBits + 7u) / 8;
    const int width = int(readU16(data + 12));
    const int height = int(readU16(data + 14));
    const int depth = data[16];
    // Bit 5 of the descriptor (data[17]) says which row comes first; the rows
    // are kept in file order all the same.
    printLine("width: %d, height: %d\n", width, height);

    const bool runLength =
        type == TYPE_RLE_COLOUR_MAPPED || type == TYPE_RLE_TRUE_COLOUR || type == TYPE_RLE_GREY;
    PixelKind kind;
    kind.grey = type == TYPE_GREY || type == TYPE_RLE_GREY;
    kind.indexed = type == TYPE_COLOUR_MAPPED || type == TYPE_RLE_COLOUR_MAPPED;
    if (!runLength && !kind.grey && !kind.indexed && type != TYPE_TRUE_COLOUR) {
        reportFile(name, "image type %d is not supported (only 1, 2, 3, 9, 10 and 11)", type);
        return nullptr;
    }
    if (!depthSuits(kind.grey, kind.indexed, depth, name))
        return nullptr;
    // Every size below fits: at most 65535 x 65535 pixels of 4 bytes.
    const size_t pixels = size_t(width) * size_t(height);
    if (pixels > MOST_PIXELS) {
        reportFile(name, "%d x %d is more pixels than an image may have (16384 x 16384 in all)", width, height);
        return nullptr;
    }
    // A true-colour or grey-scale file may still carry a colour map; it is
    // skipped unused.
    if (mapType != 0 && mapType != 1) {
        reportFile(name, "colour-map type %d is not supported", mapType);
        return nullptr;
    }
    if (kind.indexed && (mapType == 0 || mapLength == 0)) {
        reportFile(name, "colour-mapped image without a colour map");
        return nullptr;
    }
    if (kind.indexed && mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 &&
        mapEntryBits != 32) {
        reportFile(name, "colour-map entries of %d bits are not supported (only 15, 16, 24 and 32)",
               mapEntryBits);
        return nullptr;
    }
    const size_t mapOffset = HEADER_SIZE + idLength;
    const size_t offset = mapOffset + (mapType == 1 ? mapLength * mapEntryBytes : 0);
    if (offset > size) {
        reportFile(name, "ID field or colour map cut short (%zu of %zu bytes)", size, offset);
        return nullptr;
    }
    if (kind.indexed) {
        // Converted once, and only the entries an 8-bit index can name.
        kind.first = mapFirst;
        kind.length = mapLength;
        for (size_t index = mapFirst, k = 0; index < INDICES && k < mapLength; ++index, ++k)
            convertColour(data + mapOffset + k * mapEntryBytes, mapEntryBytes, kind.map + 4 * index);
    }

    kind.bytes = (size_t(depth) + 7) / 8;
    const unsigned char* in = data + offset;
    const size_t available = size - offset;
    // Checked against the file before allocating, so a short file claiming a
    // huge image costs nothing; a packet holds at least one pixel's bytes for
    // up to 128 pixels.
    if (!runLength && available < pixels * kind.bytes) {
        reportFile(name, "pixel data cut short (%zu of %zu bytes)", available, pixels * kind.bytes);
        return nullptr;
    }
    const size_t fewestPackets = (pixels + PACKET_PIXELS - 1) / PACKET_PIXELS;
    if (runLength && available < fewestPackets * (1 + kind.bytes)) {
        reportFile(name, "run-length data cut short (%zu bytes cannot hold %zu pixels)", available, pixels);
        return nullptr;
    }

    std::unique_ptr<PixelBuffer[]> result(new (std::nothrow) PixelBuffer[pixels * 4]);
    if (!result) {
        reportFile(name, "not enough memory for %d x %d pixels", width, height);
        return nullptr;
    }
    if (runLength) {
        if (!decodeRunLength(in, available, offset, pixels, kind, result.get(), name))
            return nullptr;
    } else {
        for (size_t n = 0; n < pixels; ++n) {
            if (!convertPixel(in + n * kind.bytes, kind, &result[4 * n], name))
                return nullptr;
        }
    }
    imageWidth = width;
    imageHeight = height;
    return result.release();
}

std::unique_ptr<unsigned char[]> readImageFile(const char* fileName, size_t& size)
{
    // Looked at before it is opened: opening a FIFO would wait for a writer.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(fileName, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return {};  // no such file: passed over silently
    if (status.type() == std::filesystem::file_type::none) {
        reportFile(fileName, "cannot be opened (%s)", error.message().c_str());
        return {};
    }
    if (!std::filesystem::is_regular_file(status)) {
        printLine("[Texture Loading] : %s\n", fileName);
        reportFile(fileName, "not a regular file");
        return {};
    }
    errno = 0;
    std::ifstream file(fileName, std::ios::binary);
    if (!file.good()) {
        // There, but not for us (no read permission): unlike a missing file,
        // that is worth a word.
        reportFile(fileName, "cannot be opened (%s)", errno ? std::strerror(errno) : "unknown reason");
        return {};
    }
    printLine("[Texture Loading] : %s\n", fileName);

    // The whole file is read into memory, its size known first, and decoded
    // from there.
    const std::uintmax_t length = std::filesystem::file_size(fileName, error);
    if (error || length > std::uintmax_t(std::numeric_limits<std::streamsize>::max()) ||
        length > std::numeric_limits<size_t>::max()) {
        reportFile(fileName, "cannot be read");
        return {};
    }
    std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[length]);
    if (!data) {
        reportFile(fileName, "not enough memory to read %ju bytes", length);
        return {};
    }
    file.read(reinterpret_cast<char*>(data.get()), std::streamsize(length));
    if (std::uintmax_t(file.gcount()) != length) {
        reportFile(fileName, "cannot be read");
        return {};
    }
    size = size_t(length);
    return data;
}

PixelBuffer* loadTga(const char* fileName)
{
    size_t size = 0;
    const std::unique_ptr<unsigned char[]> data = readImageFile(fileName, size);
    return data ? decodeTga(data.get(), size, fileName) : nullptr;
}
