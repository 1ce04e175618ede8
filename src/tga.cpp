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

// Image types: 2 and 10 are true colour, uncompressed and run-length.
constexpr int TYPE_COLOUR_MAPPED = 1;
constexpr int TYPE_TRUE_COLOUR = 2;
constexpr int TYPE_GREY = 3;
constexpr int TYPE_RLE_COLOUR_MAPPED = 9;
constexpr int TYPE_RLE_TRUE_COLOUR = 10;
constexpr int TYPE_RLE_GREY = 11;

// A run-length packet covers at most this many pixels.
constexpr size_t PACKET_PIXELS = 128;

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

// One line "<file>: <reason>" on standard error.
[[gnu::format(printf, 2, 3)]] void report(const char* name, const char* format, ...)
{
    char reason[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    std::fprintf(stderr, "%s: %s\n", name, reason);
    std::fflush(stderr);
}

unsigned readU16(const unsigned char* at) { return at[0] | unsigned(at[1]) << 8; }

// File pixels are blue, green, red and, with 4 bytes, alpha; 3-byte pixels
// are opaque.
void convertPixel(const unsigned char* in, size_t bytesPerPixel, unsigned char* out)
{
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    out[3] = bytesPerPixel == 4 ? in[3] : 255;
}

// Expands the packets at in (size bytes, starting at byte offset of the file)
// into exactly pixels RGBA pixels. Packets may cross rows but not the end of
// the image or of the data.
bool decodeRunLength(const unsigned char* in, size_t size, size_t offset, size_t pixels,
                     size_t bytesPerPixel, unsigned char* out, const char* name)
{
    size_t at = 0;
    for (size_t n = 0; n < pixels;) {
        if (at == size) {
            report(name, "run-length data ends at pixel %zu of %zu", n, pixels);
            return false;
        }
        const unsigned char head = in[at];
        const size_t count = (head & 0x7fu) + 1;
        const bool repeated = head & 0x80u;
        const size_t bytes = repeated ? bytesPerPixel : count * bytesPerPixel;
        if (count > pixels - n) {
            report(name, "run-length packet at byte %zu runs past the image", offset + at);
            return false;
        }
        if (bytes > size - at - 1) {
            report(name, "run-length packet at byte %zu runs past the end of the file", offset + at);
            return false;
        }
        const unsigned char* data = in + at + 1;
        for (size_t k = 0; k < count; ++k, ++n)
            convertPixel(repeated ? data : data + k * bytesPerPixel, bytesPerPixel, out + 4 * n);
        at += 1 + bytes;
    }
    return true;
}

}  // namespace

PixelBuffer* decodeTga(const unsigned char* data, size_t size, const char* name)
{
    if (size < HEADER_SIZE) {
        report(name, "header cut short (%zu of %zu bytes)", size, HEADER_SIZE);
        return nullptr;
    }
    const size_t idLength = data[0];
    const int mapType = data[1];
    const int type = data[2];
    const size_t mapLength = readU16(data + 5);
    const size_t mapEntryBytes = (data[7] + 7u) / 8;
    const int width = int(readU16(data + 12));
    const int height = int(readU16(data + 14));
    const int depth = data[16];
    // Bit 5 of the descriptor (data[17]) says which row comes first; the rows
    // are kept in file order all the same.
    printLine("width: %d, height: %d\n", width, height);

    if (type == TYPE_COLOUR_MAPPED || type == TYPE_RLE_COLOUR_MAPPED) {
        report(name, "colour-mapped images (type %d) are not supported", type);
        return nullptr;
    }
    if (type == TYPE_GREY || type == TYPE_RLE_GREY) {
        report(name, "grey-scale images (type %d) are not supported", type);
        return nullptr;
    }
    if (type != TYPE_TRUE_COLOUR && type != TYPE_RLE_TRUE_COLOUR) {
        report(name, "image type %d is not supported (only 2 and 10, true colour)", type);
        return nullptr;
    }
    if (depth != 24 && depth != 32) {
        report(name, "%d-bit pixels are not supported (only 24 and 32)", depth);
        return nullptr;
    }
    // A true-colour file may still carry a colour map; it is skipped unused.
    if (mapType != 0 && mapType != 1) {
        report(name, "colour-map type %d is not supported", mapType);
        return nullptr;
    }
    const size_t offset = HEADER_SIZE + idLength + (mapType == 1 ? mapLength * mapEntryBytes : 0);
    if (offset > size) {
        report(name, "ID field or colour map cut short (%zu of %zu bytes)", size, offset);
        return nullptr;
    }

    // Every size below fits: at most 65535 x 65535 pixels of 4 bytes.
    const size_t pixels = size_t(width) * size_t(height);
    const size_t bytesPerPixel = size_t(depth) / 8;
    const unsigned char* in = data + offset;
    const size_t available = size - offset;
    // Checked against the file before allocating, so a short file claiming a
    // huge image costs nothing; a packet holds at least one pixel's bytes for
    // up to 128 pixels.
    if (type == TYPE_TRUE_COLOUR && available < pixels * bytesPerPixel) {
        report(name, "pixel data cut short (%zu of %zu bytes)", available, pixels * bytesPerPixel);
        return nullptr;
    }
    const size_t fewestPackets = (pixels + PACKET_PIXELS - 1) / PACKET_PIXELS;
    if (type == TYPE_RLE_TRUE_COLOUR && available < fewestPackets * (1 + bytesPerPixel)) {
        report(name, "run-length data cut short (%zu bytes cannot hold %zu pixels)", available, pixels);
        return nullptr;
    }

    std::unique_ptr<PixelBuffer[]> result(new (std::nothrow) PixelBuffer[pixels * 4]);
    if (!result) {
        report(name, "not enough memory for %d x %d pixels", width, height);
        return nullptr;
    }
    if (type == TYPE_TRUE_COLOUR) {
        for (size_t n = 0; n < pixels; ++n)
            convertPixel(in + n * bytesPerPixel, bytesPerPixel, &result[4 * n]);
    } else if (!decodeRunLength(in, available, offset, pixels, bytesPerPixel, result.get(), name)) {
        return nullptr;
    }
    imageWidth = width;
    imageHeight = height;
    return result.release();
}

PixelBuffer* loadTga(const char* fileName)
{
    // Looked at before it is opened: opening a FIFO would wait for a writer.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(fileName, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return nullptr;  // no such file: passed over silently
    if (status.type() == std::filesystem::file_type::none) {
        report(fileName, "cannot be opened (%s)", error.message().c_str());
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status)) {
        printLine("[Texture Loading] : %s\n", fileName);
        report(fileName, "not a regular file");
        return nullptr;
    }
    errno = 0;
    std::ifstream file(fileName, std::ios::binary);
    if (!file.good()) {
        // There, but not for us (no read permission): unlike a missing file,
        // that is worth a word.
        report(fileName, "cannot be opened (%s)", errno ? std::strerror(errno) : "unknown reason");
        return nullptr;
    }
    printLine("[Texture Loading] : %s\n", fileName);

    // The whole file is read into memory, its size known first, and decoded
    // from there.
    const std::uintmax_t size = std::filesystem::file_size(fileName, error);
    if (error || size > std::uintmax_t(std::numeric_limits<std::streamsize>::max())) {
        report(fileName, "cannot be read");
        return nullptr;
    }
    std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[size]);
    if (!data) {
        report(fileName, "not enough memory to read %ju bytes", size);
        return nullptr;
    }
    file.read(reinterpret_cast<char*>(data.get()), std::streamsize(size));
    if (std::uintmax_t(file.gcount()) != size) {
        report(fileName, "cannot be read");
        return nullptr;
    }
    return decodeTga(data.get(), size_t(size), fileName);
}
