// The TGA decoder (uncompressed and run-length encoded, true colour, grey
// and colour-mapped) and loadTga, the reading of one TGA file through the
// shared file path (image_read.h).
#include "tga.h"

#include <cstring>
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

// One file pixel to RGBA; an index outside the map refuses the image.
bool convertPixel(const unsigned char* in, const PixelKind& kind, unsigned char* out, ImageRead& image)
{
    if (kind.grey) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = kind.bytes == 2 ? in[1] : 255;
    } else if (kind.indexed) {
        const size_t index = in[0];
        if (index < kind.first || index - kind.first >= kind.length) {
            refuse(image, "colour index %zu is outside the map (entries %zu to %zu)", index, kind.first,
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
                     const PixelKind& kind, unsigned char* out, ImageRead& image)
{
    size_t at = 0;
    for (size_t n = 0; n < pixels;) {
        if (at == size) {
            refuse(image, "run-length data ends at pixel %zu of %zu", n, pixels);
            return false;
        }
        const unsigned char head = in[at];
        const size_t count = (head & 0x7fu) + 1;
        const bool repeated = head & 0x80u;
        const size_t bytes = repeated ? kind.bytes : count * kind.bytes;
        if (count > pixels - n) {
            refuse(image, "run-length packet at byte %zu runs past the image", offset + at);
            return false;
        }
        if (bytes > size - at - 1) {
            refuse(image, "run-length packet at byte %zu runs past the end of the file", offset + at);
            return false;
        }
        const unsigned char* data = in + at + 1;
        for (size_t k = 0; k < count; ++k, ++n) {
            if (!convertPixel(repeated ? data : data + k * kind.bytes, kind, out + 4 * n, image))
                return false;
        }
        at += 1 + bytes;
    }
    return true;
}

// Whether pixels of depth bits suit the image type; if not, says why.
bool depthSuits(bool grey, bool indexed, int depth, ImageRead& image)
{
    if (grey && depth != 8 && depth != 16)
        refuse(image, "%d-bit pixels do not suit a grey-scale image (only 8 and 16)", depth);
    else if (indexed && depth != 8)
        refuse(image, "%d-bit indices are not supported (only 8)", depth);
    else if (!grey && !indexed && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        refuse(image, "%d-bit pixels do not suit a true-colour image (only 15, 16, 24 and 32)", depth);
    else
        return true;
    return false;
}

// What the header says of the pixels: their kind, whether they are
// run-length encoded, how many there are and where they start.
struct TgaLayout {
    PixelKind kind;
    bool runLength = false;
    size_t pixels = 0;
    size_t offset = 0;
};

// The fields of a complete header, in the order they are checked; false
// once one is refused.
bool readLayout(const unsigned char* data, size_t size, TgaLayout& tga, ImageRead& image)
{
    const size_t idLength = data[0];
    const int mapType = data[1];
    const int type = data[2];
    const size_t mapFirst = readU16(data + 3);
    const size_t mapLength = readU16(data + 5);
    const int mapEntryBits = data[7];
    const size_t mapEntryBytes = (mapEntryBits + 7u) / 8;
    const int depth = data[16];
    PixelKind& kind = tga.kind;
    tga.runLength = type == TYPE_RLE_COLOUR_MAPPED || type == TYPE_RLE_TRUE_COLOUR || type == TYPE_RLE_GREY;
    kind.grey = type == TYPE_GREY || type == TYPE_RLE_GREY;
    kind.indexed = type == TYPE_COLOUR_MAPPED || type == TYPE_RLE_COLOUR_MAPPED;
    if (!tga.runLength && !kind.grey && !kind.indexed && type != TYPE_TRUE_COLOUR) {
        refuse(image, "image type %d is not supported (only 1, 2, 3, 9, 10 and 11)", type);
        return false;
    }
    if (!depthSuits(kind.grey, kind.indexed, depth, image) || pastCeiling(image.width, image.height, image))
        return false;
    // A true-colour or grey-scale file may still carry a colour map; it is
    // skipped unused.
    if (mapType != 0 && mapType != 1) {
        refuse(image, "colour-map type %d is not supported", mapType);
        return false;
    }
    if (kind.indexed && (mapType == 0 || mapLength == 0)) {
        refuse(image, "colour-mapped image without a colour map");
        return false;
    }
    if (kind.indexed && mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 && mapEntryBits != 32) {
        refuse(image, "colour-map entries of %d bits are not supported (only 15, 16, 24 and 32)", mapEntryBits);
        return false;
    }
    const size_t mapOffset = HEADER_SIZE + idLength;
    tga.offset = mapOffset + (mapType == 1 ? mapLength * mapEntryBytes : 0);
    if (tga.offset > size) {
        refuse(image, "ID field or colour map cut short (%zu of %zu bytes)", size, tga.offset);
        return false;
    }
    if (kind.indexed) {
        // Converted once, and only the entries an 8-bit index can name.
        kind.first = mapFirst;
        kind.length = mapLength;
        for (size_t index = mapFirst, k = 0; index < INDICES && k < mapLength; ++index, ++k)
            convertColour(data + mapOffset + k * mapEntryBytes, mapEntryBytes, kind.map + 4 * index);
    }
    kind.bytes = (size_t(depth) + 7) / 8;
    // Every size fits: at most 65535 x 65535 pixels of 4 bytes.
    tga.pixels = size_t(image.width) * size_t(image.height);
    return true;
}

// Whether the available bytes after the header can hold the pixels it
// claims: checked before allocating, so a short file claiming a huge image
// costs nothing. Uncompressed pixels take exactly their bytes; a run-length
// packet of 1 + p bytes (p those of one pixel) gives at most 128 pixels.
bool holdsPixels(size_t available, const TgaLayout& tga, ImageRead& image)
{
    if (!tga.runLength && available < tga.pixels * tga.kind.bytes) {
        refuse(image, "pixel data cut short (%zu of %zu bytes)", available, tga.pixels * tga.kind.bytes);
        return false;
    }
    const size_t fewestPackets = (tga.pixels + PACKET_PIXELS - 1) / PACKET_PIXELS;
    if (tga.runLength && available < fewestPackets * (1 + tga.kind.bytes)) {
        refuse(image, "run-length data cut short (%zu bytes cannot hold %zu pixels)", available, tga.pixels);
        return false;
    }
    return true;
}

}  // namespace

ImageRead decodeTga(const unsigned char* data, size_t size)
{
    ImageRead image;
    if (size < HEADER_SIZE) {
        refuse(image, "header cut short (%zu of %zu bytes)", size, HEADER_SIZE);
        return image;
    }
    // Bit 5 of the descriptor (data[17]) says which row comes first; the rows
    // are kept in file order all the same.
    image.width = int(readU16(data + 12));
    image.height = int(readU16(data + 14));
    image.sized = true;
    TgaLayout tga;
    if (!readLayout(data, size, tga, image) || !holdsPixels(size - tga.offset, tga, image))
        return image;
    std::unique_ptr<PixelBuffer[]> pixels(new (std::nothrow) PixelBuffer[tga.pixels * 4]);
    if (!pixels) {
        refuse(image, "not enough memory for %d x %d pixels", image.width, image.height);
        return image;
    }
    const unsigned char* in = data + tga.offset;
    if (tga.runLength) {
        if (!decodeRunLength(in, size - tga.offset, tga.offset, tga.pixels, tga.kind, pixels.get(), image))
            return image;
    } else {
        for (size_t n = 0; n < tga.pixels; ++n)
            if (!convertPixel(in + n * tga.kind.bytes, tga.kind, &pixels[4 * n], image))
                return image;
    }
    image.pixels = std::move(pixels);
    return image;
}

PixelBuffer* loadTga(const char* fileName)
{
    ImageRead image = loadWith([](const unsigned char* data, size_t size, const char*, bool) { return decodeTga(data, size); },
                               fileName, false);
    if (image.pixels) {
        imageWidth = image.width;
        imageHeight = image.height;
    }
    return image.pixels.release();
}
