#include "png_image.h"

#include "command_line.h"
#include "output_file.h"

#include <png.h>

#include <csetjmp>

namespace {

struct PngWrite {
    PngSink sink;
    void* target;
    const char* why = "libpng cannot start";
};

void pass(png_structp png, png_bytep data, png_size_t size)
{
    auto* write = static_cast<PngWrite*>(png_get_io_ptr(png));
    write->sink(write->target, data, size);
}

void noFlush(png_structp) {}

// libpng's messages are kept, never printed: its static texts last.
void pngFailed(png_structp png, png_const_charp message)
{
    static_cast<PngWrite*>(png_get_error_ptr(png))->why = message;
    png_longjmp(png, 1);
}

void pngWarned(png_structp, png_const_charp) {}

// False when libpng gave up. Kept apart from writePng so that nothing with
// a destructor lives in the frame that longjmp leaves.
bool encode(png_structp png, png_infop info, const PngPicture& picture, PngWrite& write)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &write, pass, noFlush);
    png_set_compression_level(png, picture.level);
    png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height), picture.depth,
                 picture.grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (picture.alpha)
        png_set_filler(png, 0, PNG_FILLER_AFTER);  // on writing: each fourth byte is passed over
    const unsigned char* row = picture.top;
    for (int y = 0; y < picture.height; ++y, row += picture.stride)
        png_write_row(png, row);
    png_write_end(png, nullptr);
    return true;
}

void append(void* target, const unsigned char* bytes, size_t size)
{
    auto* all = static_cast<std::vector<unsigned char>*>(target);
    all->insert(all->end(), bytes, bytes + size);
}

}  // namespace

PngPicture bottomUpPicture(const unsigned char* rgba, int width, int height, int level)
{
    const ptrdiff_t stride = ptrdiff_t(width) * 4;
    return {rgba + (height > 0 ? (height - 1) * stride : 0), -stride, width, height, true, level};
}

bool writePng(const PngPicture& picture, PngSink sink, void* target, const char** why)
{
    PngWrite write = {sink, target};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &write, pngFailed, pngWarned);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool written = info && encode(png, info, picture, write);
    png_destroy_write_struct(&png, &info);
    if (why)
        *why = write.why;
    return written;
}

size_t putPng(OutputFile& out, const PngPicture& picture)
{
    struct Counted {
        OutputFile& out;
        size_t bytes;
    } counted = {out, 0};
    const auto put = [](void* target, const unsigned char* bytes, size_t size) {
        auto* to = static_cast<Counted*>(target);
        putBytes(to->out, bytes, size);
        to->bytes += size;
    };
    const char* why = nullptr;
    if (writePng(picture, put, &counted, &why))
        return counted.bytes;
    report(out.path, "cannot be written (libpng: %s)", why);
    return 0;
}

std::vector<unsigned char> encodePng(const PngPicture& picture)
{
    std::vector<unsigned char> bytes;
    if (!writePng(picture, append, &bytes))
        bytes.clear();
    return bytes;
}

std::vector<unsigned char> encodePng(int width, int height, const unsigned char* rgb, int level)
{
    return encodePng(PngPicture{rgb, ptrdiff_t(width) * 3, width, height, false, level});
}
