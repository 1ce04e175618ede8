#include "image.h"

#include <png.h>
#include <jpeglib.h>  // after <cstdio>, which png.h includes: it needs FILE
#include <libexif/exif-data.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Each decoder's state lives in a plain struct, and the functions that
// setjmp hold nothing with a destructor: the libraries' errors longjmp out
// of them, and what was allocated is freed by the caller from the struct.

// The first fatal reason a library gave; its warnings are dropped.
constexpr size_t REASON_SIZE = 200;

// 16 bits to 8, rounded to nearest: 65535 gives 255, 128 gives 0, 129 gives 1.
unsigned char to8(unsigned v) { return static_cast<unsigned char>((v * 255u + 32767u) / 65535u); }

// ---- PNG ----

struct PngRead {
    const unsigned char* data;
    size_t size;
    size_t at = 8;  // the signature is checked before libpng starts
    char reason[REASON_SIZE] = "";
    png_uint_32 width = 0, height = 0;
    bool wide = false;              // 16 bits per channel
    unsigned char* rows = nullptr;  // RGBA of 8 or 16 bits (big-endian), bottom row first
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

// False with a reason in read.reason, or in image's for a size past the
// ceiling.
bool readPng(png_structp png, png_infop info, PngRead& read, ImageRead& image)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, &read, pngSource);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    int depth = 0, colour = 0;
    png_get_IHDR(png, info, &read.width, &read.height, &depth, &colour, nullptr, nullptr, nullptr);
    image.width = int(read.width);
    image.height = int(read.height);
    image.sized = true;
    if (pastCeiling(read.width, read.height, image))
        return false;
    // Every kind becomes RGBA of 8 or 16 bits: palette and transparency
    // expanded, grey made colour, opaque alpha added where there is none.
    read.wide = depth == 16;
    png_set_expand(png);
    if (!(colour & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(png);
    png_set_filler(png, read.wide ? 0xffff : 0xff, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t stride = size_t(read.width) * (read.wide ? 8 : 4);
    if (png_get_rowbytes(png, info) != stride)
        png_error(png, "unexpected row size after conversion");
    read.rows = new (std::nothrow) unsigned char[stride * read.height];
    if (!read.rows)
        png_error(png, "not enough memory for the pixels");
    // The file's top row goes last; an interlaced image fills every row once
    // a pass.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < read.height; ++y)
            png_read_row(png, read.rows + (read.height - 1 - y) * stride, nullptr);
    png_read_end(png, nullptr);
    return true;
}

ImageRead decodePng(const unsigned char* data, size_t size, bool wantRed16)
{
    ImageRead image;
    PngRead read{data, size};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool decoded = info && readPng(png, info, read, image);
    png_destroy_read_struct(&png, &info, nullptr);
    std::unique_ptr<unsigned char[]> rows(read.rows);
    if (!decoded) {
        if (image.reason.empty())
            refuse(image, "bad PNG (%s)", read.reason[0] ? read.reason : "libpng cannot start");
        return image;
    }
    const size_t pixels = size_t(read.width) * read.height;
    if (!read.wide) {
        image.pixels = std::move(rows);
        return image;
    }
    std::unique_ptr<PixelBuffer[]> result(new (std::nothrow) PixelBuffer[pixels * 4]);
    std::unique_ptr<unsigned short[]> red(wantRed16 ? new (std::nothrow) unsigned short[pixels] : nullptr);
    if (!result || (wantRed16 && !red)) {
        refuse(image, "not enough memory for %u x %u pixels", read.width, read.height);
        return image;
    }
    for (size_t n = 0; n < pixels * 4; ++n)
        result[n] = to8(unsigned(rows[2 * n]) << 8 | rows[2 * n + 1]);
    for (size_t n = 0; red && n < pixels; ++n)
        red[n] = static_cast<unsigned short>(rows[8 * n] << 8 | rows[8 * n + 1]);
    image.pixels = std::move(result);
    image.red16 = std::move(red);
    return image;
}

// ---- JPEG ----

struct JpegRead {
    jpeg_error_mgr errors;  // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char reason[REASON_SIZE] = "";
    unsigned char* pixels = nullptr;  // RGBA, top row first, as stored
};

[[noreturn]] void jpegFail(j_common_ptr jpeg)
{
    auto* read = reinterpret_cast<JpegRead*>(jpeg->err);
    if (read->reason[0] == '\0') {
        char message[JMSG_LENGTH_MAX];
        jpeg->err->format_message(jpeg, message);
        std::snprintf(read->reason, sizeof read->reason, "%s", message);
    }
    std::longjmp(read->jump, 1);
}

// libjpeg warns (level -1) only of damaged data, which it patches over with
// grey: the picture would be wrong, so a warning refuses the file. Trace
// messages (levels 0 and up) are dropped.
void jpegMessage(j_common_ptr jpeg, int level)
{
    if (level < 0)
        jpegFail(jpeg);
}

void jpegSilent(j_common_ptr) {}

// The EXIF orientation (1 to 8; 1, upright, when there is none), from the
// APP1 markers libjpeg kept.
int exifOrientation(j_decompress_ptr jpeg)
{
    for (jpeg_saved_marker_ptr marker = jpeg->marker_list; marker; marker = marker->next) {
        if (marker->marker != JPEG_APP0 + 1 || marker->data_length < 6 || std::memcmp(marker->data, "Exif\0", 6))
            continue;
        ExifData* exif = exif_data_new_from_data(marker->data, marker->data_length);
        if (!exif)
            continue;
        int orientation = 1;
        ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
        if (entry && entry->format == EXIF_FORMAT_SHORT && entry->components == 1 && entry->size >= 2)
            orientation = exif_get_short(entry->data, exif_data_get_byte_order(exif));
        exif_data_unref(exif);
        return orientation >= 1 && orientation <= 8 ? orientation : 1;
    }
    return 1;
}

// False with a reason in read.reason, or in image's for a size past the
// ceiling.
bool readJpeg(jpeg_decompress_struct& jpeg, JpegRead& read, const unsigned char* data, size_t size,
              int& orientation, ImageRead& image)
{
    if (setjmp(read.jump))
        return false;
    jpeg_create_decompress(&jpeg);
    jpeg_mem_src(&jpeg, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&jpeg, JPEG_APP0 + 1, 0xffff);
    jpeg_read_header(&jpeg, TRUE);
    orientation = exifOrientation(&jpeg);
    // Orientations 5 to 8 turn the picture a quarter: shown, it is as wide
    // as the stored one is tall.
    const bool turned = orientation >= 5;
    image.width = int(turned ? jpeg.image_height : jpeg.image_width);
    image.height = int(turned ? jpeg.image_width : jpeg.image_height);
    image.sized = true;
    if (pastCeiling(jpeg.image_width, jpeg.image_height, image))
        return false;
    if (jpeg.jpeg_color_space == JCS_CMYK || jpeg.jpeg_color_space == JCS_YCCK) {
        std::snprintf(read.reason, sizeof read.reason, "CMYK is not supported, only grey and colour: "
                                                         "save it as RGB");
        return false;
    }
    jpeg.out_color_space = JCS_EXT_RGBA;  // alpha 255
    jpeg_start_decompress(&jpeg);
    const size_t stride = size_t(jpeg.output_width) * 4;
    read.pixels = new (std::nothrow) unsigned char[stride * jpeg.output_height];
    if (!read.pixels) {
        std::snprintf(read.reason, sizeof read.reason, "not enough memory for the pixels");
        return false;
    }
    while (jpeg.output_scanline < jpeg.output_height) {
        JSAMPROW row = read.pixels + stride * jpeg.output_scanline;
        jpeg_read_scanlines(&jpeg, &row, 1);
    }
    jpeg_finish_decompress(&jpeg);
    return true;
}

// The stored picture (width x height, top row first) as it is shown under
// its EXIF orientation, bottom row first.
PixelBuffer* orient(const unsigned char* in, size_t width, size_t height, int orientation, size_t& shownWidth,
                    size_t& shownHeight)
{
    const bool turned = orientation >= 5;
    shownWidth = turned ? height : width;
    shownHeight = turned ? width : height;
    PixelBuffer* out = new (std::nothrow) PixelBuffer[width * height * 4];
    if (!out)
        return nullptr;
    for (size_t y = 0; y < shownHeight; ++y) {  // shown row y from the top
        unsigned char* row = out + (shownHeight - 1 - y) * shownWidth * 4;
        for (size_t x = 0; x < shownWidth; ++x) {
            // Where the shown pixel (x, y) is stored, for each tag: mirrored,
            // turned half, flipped, transposed, turned right, transverse,
            // turned left.
            size_t sx = x, sy = y;
            switch (orientation) {
            case 2: sx = width - 1 - x; break;
            case 3: sx = width - 1 - x; sy = height - 1 - y; break;
            case 4: sy = height - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = height - 1 - x; break;
            case 7: sx = width - 1 - y; sy = height - 1 - x; break;
            case 8: sx = width - 1 - y; sy = x; break;
            default: break;
            }
            std::memcpy(row + 4 * x, in + 4 * (sy * width + sx), 4);
        }
    }
    return out;
}

ImageRead decodeJpeg(const unsigned char* data, size_t size)
{
    ImageRead image;
    jpeg_decompress_struct jpeg{};
    JpegRead read;
    jpeg.err = jpeg_std_error(&read.errors);
    read.errors.error_exit = jpegFail;
    read.errors.emit_message = jpegMessage;
    read.errors.output_message = jpegSilent;
    int orientation = 1;
    const bool decoded = readJpeg(jpeg, read, data, size, orientation, image);
    const size_t width = jpeg.output_width, height = jpeg.output_height;
    jpeg_destroy_decompress(&jpeg);
    std::unique_ptr<unsigned char[]> stored(read.pixels);
    if (!decoded) {
        if (image.reason.empty())
            refuse(image, "bad JPEG (%s)", read.reason);
        return image;
    }
    size_t shownWidth = 0, shownHeight = 0;
    image.pixels.reset(orient(stored.get(), width, height, orientation, shownWidth, shownHeight));
    if (!image.pixels)
        refuse(image, "not enough memory for %zu x %zu pixels", width, height);
    return image;
}

}  // namespace

ImageRead readImage(const unsigned char* data, size_t size, bool wantRed16)
{
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
        return decodePng(data, size, wantRed16);
    if (size >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff)
        return decodeJpeg(data, size);
    if (size > 0)
        return decodeTga(data, size);
    ImageRead empty;
    refuse(empty, "empty file");
    return empty;
}

PixelBuffer* decodeImage(const unsigned char* data, size_t size, const char* name, unsigned short** red16)
{
    ImageRead image = readImage(data, size, red16 != nullptr);
    return reportImage(name, image, red16);
}

PixelBuffer* loadImage(const char* fileName, unsigned short** red16)
{
    return loadWith(readImage, fileName, red16);
}
