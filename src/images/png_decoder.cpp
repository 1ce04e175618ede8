#include "png_decoder.h"

#include <png.h>

#include <cstring>
#include <memory>
#include <new>

namespace {

// The reading's state lives in a plain struct, and the functions that setjmp
// hold nothing with a destructor: libpng's errors longjmp out of them, and
// what was allocated is freed by the caller from the struct.

constexpr unsigned char PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// 16 bits to 8, rounded to nearest: 65535 gives 255, 128 gives 0, 129 gives 1.
unsigned char to8(unsigned v) { return static_cast<unsigned char>((v * 255u + 32767u) / 65535u); }

// Deflate turns no byte into more than 1032: its longest copy, 258 bytes,
// takes at least 2 bits (a length code and a distance code of at least a bit
// each), and everything else costs more. A PNG of N bytes therefore holds at
// most 1032 x N bytes of filtered rows, whatever its chunks: a header that
// claims more is refused before anything is allocated. A valid file always
// passes, as its rows are really in it; the tightest there are, a large
// plain image at zlib's best, come within 2% of the bound.
constexpr size_t DEFLATE_MOST_RATIO = 1032;

struct PngRead {
    const unsigned char* data;
    size_t size;
    bool wantRed16;
    size_t at = sizeof PNG_SIGNATURE;  // checked before libpng starts
    char reason[REASON_SIZE] = "";  // the first fatal message, cut as a refusal is
    png_uint_32 width = 0, height = 0;
    bool wide = false;      // 16 bits per channel
    bool interlaced = false;
    // What the reading keeps: RGBA, bottom row first, and for a 16-bit
    // image its red channel; and one 16-bit row on the way to them.
    unsigned char* pixels = nullptr;
    unsigned short* red16 = nullptr;
    unsigned char* row = nullptr;
};

void pngError(png_structp png, png_const_charp message)
{
    auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
    if (read->reason[0] == '\0')
        std::snprintf(read->reason, sizeof read->reason, "%s", message);
    png_longjmp(png, 1);
}

// A warning leaves the picture whole (an odd colour profile, a damaged
// comment chunk, which is skipped): nothing to tell.
void pngWarning(png_structp, png_const_charp) {}

void pngSource(png_structp png, png_bytep out, png_size_t count)
{
    auto* read = static_cast<PngRead*>(png_get_io_ptr(png));
    if (count > read->size - read->at)
        png_error(png, "cut short");
    std::memcpy(out, read->data + read->at, count);
    read->at += count;
}

// The bytes of filtered rows the image data inflates to: each row of each
// interlace pass is a filter byte and its pixels, packed.
size_t filteredBytes(png_uint_32 width, png_uint_32 height, size_t bitsPerPixel, bool interlaced)
{
    auto rows = [bitsPerPixel](size_t columns, size_t count) {
        return columns == 0 ? 0 : count * (1 + (columns * bitsPerPixel + 7) / 8);
    };
    if (!interlaced)
        return rows(width, height);
    size_t bytes = 0;
    for (int pass = 0; pass < 7; ++pass)
        bytes += rows(PNG_PASS_COLS(width, pass), PNG_PASS_ROWS(height, pass));
    return bytes;
}

// Whether the file can hold the rows its header claims; says why not.
bool holdsRows(png_structp png, png_infop info, const PngRead& read, ImageRead& image)
{
    const size_t bits = size_t(png_get_channels(png, info)) * png_get_bit_depth(png, info);
    const size_t needed = filteredBytes(read.width, read.height, bits, read.interlaced);
    if (needed <= DEFLATE_MOST_RATIO * read.size)
        return true;
    refuse(image, "%u x %u is more than a file of %zu bytes can hold (%zu bytes of rows, at most %zu a byte)",
           read.width, read.height, read.size, needed, DEFLATE_MOST_RATIO);
    return false;
}

// A 16-bit image, one row at a time, into the 8-bit pixels and the 16-bit
// red channel: libpng leaves an interlaced image's passes apart, and each
// pass row is put in place at once, so no 16-bit copy of the image is kept.
void readWideRows(png_structp png, PngRead& read)
{
    for (int pass = 0; pass < (read.interlaced ? 7 : 1); ++pass) {
        const bool all = !read.interlaced;
        const size_t columns = all ? read.width : PNG_PASS_COLS(read.width, pass);
        const size_t rows = all ? read.height : PNG_PASS_ROWS(read.height, pass);
        const size_t x0 = all ? 0 : PNG_PASS_START_COL(pass), xShift = all ? 0 : PNG_PASS_COL_SHIFT(pass);
        const size_t y0 = all ? 0 : PNG_PASS_START_ROW(pass), yShift = all ? 0 : PNG_PASS_ROW_SHIFT(pass);
        if (columns == 0 || rows == 0)
            continue;  // libpng passes over an empty pass
        for (size_t r = 0; r < rows; ++r) {
            png_read_row(png, read.row, nullptr);
            const size_t first = (read.height - 1 - (y0 + (r << yShift))) * read.width + x0;
            for (size_t k = 0; k < columns; ++k) {
                const size_t n = first + (k << xShift);
                const unsigned char* in = read.row + 8 * k;
                for (size_t c = 0; c < 4; ++c)
                    read.pixels[4 * n + c] = to8(unsigned(in[2 * c]) << 8 | in[2 * c + 1]);
                if (read.red16)
                    read.red16[n] = static_cast<unsigned short>(in[0] << 8 | in[1]);
            }
        }
    }
}

// What the reading keeps, allocated once the header has passed.
void allocatePng(png_structp png, PngRead& read)
{
    const size_t pixels = size_t(read.width) * read.height;
    read.pixels = new (std::nothrow) unsigned char[pixels * 4];
    if (read.wide)
        read.row = new (std::nothrow) unsigned char[size_t(read.width) * 8];
    if (read.wide && read.wantRed16)
        read.red16 = new (std::nothrow) unsigned short[pixels];
    if (!read.pixels || (read.wide && !read.row) || (read.wide && read.wantRed16 && !read.red16))
        png_error(png, "not enough memory for the pixels");
}

// False with a reason in read.reason, or in image's for a size the file
// cannot have.
bool readPng(png_structp png, png_infop info, PngRead& read, ImageRead& image)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, &read, pngSource);
    png_set_sig_bytes(png, sizeof PNG_SIGNATURE);
    // Only the header, palette, transparency and image data make the
    // pixels; every other chunk (text, colour profile, ...) is skipped
    // unread, so none can claim memory: libpng would reserve and clear what a
    // text chunk's length claims, up to 2 GiB, before reading it.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, info);
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &read.width, &read.height, &depth, &colour, &interlace, nullptr, nullptr);
    image.width = int(read.width);
    image.height = int(read.height);
    image.sized = true;
    read.wide = depth == 16;
    read.interlaced = interlace != PNG_INTERLACE_NONE;
    if (pastCeiling(read.width, read.height, image) || !holdsRows(png, info, read, image))
        return false;
    // Every kind becomes RGBA of 8 or 16 bits: palette and transparency
    // expanded, grey made colour, opaque alpha added where there is none.
    png_set_expand(png);
    if (!(colour & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(png);
    png_set_filler(png, read.wide ? 0xffff : 0xff, PNG_FILLER_AFTER);
    // 8-bit rows are read in place, where libpng fills an interlaced row a
    // pass at a time; 16-bit ones go through one row (readWideRows).
    const int passes = read.wide ? 1 : png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t stride = size_t(read.width) * (read.wide ? 8 : 4);
    if (png_get_rowbytes(png, info) != stride)
        png_error(png, "unexpected row size after conversion");
    allocatePng(png, read);
    if (read.wide)
        readWideRows(png, read);
    // The file's top row goes last.
    for (int pass = 0; !read.wide && pass < passes; ++pass)
        for (png_uint_32 y = 0; y < read.height; ++y)
            png_read_row(png, read.pixels + (read.height - 1 - y) * stride, nullptr);
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

bool isPng(const unsigned char* data, size_t size)
{
    return size >= sizeof PNG_SIGNATURE && std::memcmp(data, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
}

ImageRead decodePng(const unsigned char* data, size_t size, bool wantRed16)
{
    ImageRead image;
    if (!isPng(data, size)) {
        refuse(image, "bad PNG (no PNG signature: not a PNG file)");
        return image;
    }
    PngRead read{data, size, wantRed16};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool decoded = info && readPng(png, info, read, image);
    png_destroy_read_struct(&png, &info, nullptr);
    std::unique_ptr<unsigned char[]> pixels(read.pixels);
    std::unique_ptr<unsigned short[]> red16(read.red16);
    delete[] read.row;
    if (!decoded) {
        if (image.reason.empty())
            refuse(image, "bad PNG (%s)", read.reason[0] ? read.reason : "libpng cannot start");
        return image;
    }
    image.pixels = std::move(pixels);
    image.red16 = std::move(red16);
    return image;
}
