#include "jpeg_decoder.h"

#include <cstdio>  // before <jpeglib.h>, which needs FILE
#include <jpeglib.h>
#include <libexif/exif-data.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The reading's state lives in a plain struct, and the functions that setjmp
// hold nothing with a destructor: libjpeg's errors longjmp out of them, and
// what was allocated is freed by the caller from the struct.

struct JpegRead {
    jpeg_error_mgr errors;  // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char reason[JMSG_LENGTH_MAX] = "";  // the first fatal message, as long as libjpeg makes one
    unsigned char* pixels = nullptr;    // RGBA as shown, bottom row first
    unsigned char* row = nullptr;       // one stored scanline on its way there
};

[[noreturn]] void jpegFail(j_common_ptr jpeg)
{
    auto* read = reinterpret_cast<JpegRead*>(jpeg->err);
    if (read->reason[0] == '\0')
        jpeg->err->format_message(jpeg, read->reason);
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

// What libjpeg may allocate of its own. Its arithmetic coding gives no bound
// from the file's size, so the pixel ceiling gives it: a multi-scan image
// keeps every coefficient, 2 bytes a sample, so 6 bytes a pixel for its at
// most 3 full-size components (CMYK is refused first), and its edge blocks
// and row buffers stay well under the 64 MiB beside them. A valid image within
// the ceiling never reaches it; past it, libjpeg refuses the file rather than
// take more.
constexpr long JPEG_MEMORY = long(6 * MOST_PIXELS + (size_t(64) << 20));

// The scanlines, each written where it shows as it arrives: straight into
// its row when it is not mirrored or turned, else through read.row.
void readScanlines(jpeg_decompress_struct& jpeg, JpegRead& read, int orientation)
{
    const ptrdiff_t width = jpeg.output_width, height = jpeg.output_height;
    while (jpeg.output_scanline < jpeg.output_height) {
        ptrdiff_t first = 0, step = 0;
        shownPlace(orientation, width, height, jpeg.output_scanline, first, step);
        JSAMPROW row = step == 1 ? read.pixels + 4 * first : read.row;
        if (jpeg_read_scanlines(&jpeg, &row, 1) != 1 || step == 1)
            continue;
        for (ptrdiff_t x = 0, n = first; x < width; ++x, n += step)
            std::memcpy(read.pixels + 4 * n, read.row + 4 * x, 4);
    }
}

// False with a reason in read.reason, or in image's for a size past the
// ceiling.
bool readJpeg(jpeg_decompress_struct& jpeg, JpegRead& read, const unsigned char* data, size_t size,
              ImageRead& image)
{
    if (setjmp(read.jump))
        return false;
    jpeg_create_decompress(&jpeg);
    jpeg.mem->max_memory_to_use = JPEG_MEMORY;
    jpeg_mem_src(&jpeg, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&jpeg, JPEG_APP0 + 1, 0xffff);
    jpeg_read_header(&jpeg, TRUE);
    const int orientation = exifOrientation(&jpeg);
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
    // A multi-scan image is decoded whole here, into libjpeg's coefficients;
    // a single-scan one as the scanlines are read.
    jpeg_start_decompress(&jpeg);
    // Reserved whole, but only what the scanlines reach is ever written.
    read.pixels = new (std::nothrow) unsigned char[size_t(jpeg.output_width) * jpeg.output_height * 4];
    read.row = new (std::nothrow) unsigned char[size_t(jpeg.output_width) * 4];
    if (!read.pixels || !read.row) {
        std::snprintf(read.reason, sizeof read.reason, "not enough memory for the pixels");
        return false;
    }
    readScanlines(jpeg, read, orientation);
    jpeg_finish_decompress(&jpeg);
    return true;
}

}  // namespace

bool isJpeg(const unsigned char* data, size_t size)
{
    return size >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff;
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
    const bool decoded = readJpeg(jpeg, read, data, size, image);
    jpeg_destroy_decompress(&jpeg);
    std::unique_ptr<unsigned char[]> pixels(read.pixels);
    delete[] read.row;
    if (!decoded) {
        if (image.reason.empty())
            refuse(image, "bad JPEG (%s)", read.reason);
        return image;
    }
    image.pixels = std::move(pixels);
    return image;
}
