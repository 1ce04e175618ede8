#include "image_read.h"

#include <fcntl.h>     // Required for: open(), without waiting on a FIFO
#include <sys/stat.h>  // Required for: fstat(), what kind of file is open
#include <unistd.h>    // Required for: read(), close()

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

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

// The file descriptor closed however the reading ends.
struct OpenFile {
    int fd;
    ~OpenFile() { close(fd); }
};

}  // namespace

std::unique_ptr<unsigned char[]> readImageFile(const char* fileName, size_t& size, ImageRead& image)
{
    // Opened without waiting: opening a FIFO for reading would wait for a
    // writer, for ever. What it is is asked of the open file, which a rename
    // cannot change afterwards; only a regular file is read.
    const int fd = open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // There, but not for us (no read permission): unlike a missing file,
        // that is worth a word.
        image.missing = errno == ENOENT || errno == ENOTDIR;
        refuse(image, "cannot be opened (%s)", std::strerror(errno));
        return {};
    }
    const OpenFile file = {fd};
    image.opened = true;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        refuse(image, "not a regular file");
        return {};
    }
    // The whole file is read into memory, its size known first, and decoded
    // from there.
    const size_t length = size_t(status.st_size);
    std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[length]);
    if (!data) {
        refuse(image, "not enough memory to read %zu bytes", length);
        return {};
    }
    for (size_t at = 0; at < length;) {
        const ssize_t got = read(fd, data.get() + at, length - at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            refuse(image, "cannot be read");
            return {};
        }
        at += size_t(got);
    }
    size = length;
    return data;
}

void refuse(ImageRead& image, const char* format, ...)
{
    char reason[REASON_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    image.reason = reason;
}

bool pastCeiling(size_t width, size_t height, ImageRead& image)
{
    if (width * height <= MOST_PIXELS)  // both under 2^32: no overflow
        return false;
    refuse(image, "%zu x %zu is more pixels than an image may have (%d x %d in all)", width, height,
           MOST_PIXELS_SIDE, MOST_PIXELS_SIDE);
    return true;
}

void shownPlace(int orientation, ptrdiff_t width, ptrdiff_t height, ptrdiff_t y, ptrdiff_t& first, ptrdiff_t& step)
{
    // For each tag: upright, mirrored, turned half, flipped, transposed,
    // turned right, transverse, turned left. Turned, a stored row is a
    // shown column of a picture height pixels wide.
    switch (orientation) {
    case 2: first = (height - 1 - y) * width + width - 1; step = -1; break;
    case 3: first = y * width + width - 1; step = -1; break;
    case 4: first = y * width; step = 1; break;
    case 5: first = (width - 1) * height + y; step = -height; break;
    case 6: first = (width - 1) * height + height - 1 - y; step = -height; break;
    case 7: first = height - 1 - y; step = height; break;
    case 8: first = y; step = height; break;
    default: first = (height - 1 - y) * width; step = 1; break;
    }
}

void reportImage(const char* name, const ImageRead& image)
{
    if (image.opened)
        printLine("[Texture Loading] : %s\n", name);
    if (image.sized)
        printLine("width: %d, height: %d\n", image.width, image.height);
    if (!image.pixels && !image.missing && !image.reason.empty()) {
        std::fprintf(stderr, "%s: %s\n", name, image.reason.c_str());
        std::fflush(stderr);
    }
}

ImageRead loadWith(FileDecoder decode, const char* fileName, bool wantRed16)
{
    ImageRead image;
    size_t size = 0;
    if (const std::unique_ptr<unsigned char[]> data = readImageFile(fileName, size, image)) {
        image = decode(data.get(), size, fileName, wantRed16);
        image.opened = true;
    }
    reportImage(fileName, image);
    return image;
}
