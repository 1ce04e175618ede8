#include "png_image.h"

#include <png.h>

#include <csetjmp>

namespace {

void append(png_structp png, png_bytep data, png_size_t size)
{
    auto* bytes = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + size);
}

void noFlush(png_structp) {}

// Fills bytes; false when libpng gave up. Kept apart from encodePng so that
// nothing with a destructor lives in the frame that longjmp leaves.
bool encode(std::vector<unsigned char>& bytes, png_structp png, png_infop info, int width, int height,
            const unsigned char* rgb, int level)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &bytes, append, noFlush);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const png_size_t stride = png_size_t(width) * 3;
    for (int row = 0; row < height; ++row)
        png_write_row(png, rgb + stride * png_size_t(row));
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

std::vector<unsigned char> encodePng(int width, int height, const unsigned char* rgb, int level)
{
    std::vector<unsigned char> bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool encoded = info && encode(bytes, png, info, width, height, rgb, level);
    png_destroy_write_struct(&png, &info);
    if (!encoded)
        bytes.clear();
    return bytes;
}
