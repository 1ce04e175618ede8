#pragma once

#include <cstddef>
#include <memory>
#include <string>

// RGBA pixels, 4 bytes each (red, green, blue, alpha), rows in the order of
// the file. A buffer carries no size: imageWidth and imageHeight hold the size
// of the image read last.
using PixelBuffer = unsigned char;

// Size of the image read last; a file that cannot be opened or is rejected
// leaves them as they were.
extern int imageWidth;
extern int imageHeight;

// The most pixels an image may have: MOST_PIXELS_SIDE squared, 1 GiB as
// RGBA, the largest texture llvmpipe and most GL implementations take.
// Checked against the header before anything is allocated: without it a
// small file could claim 65535 x 65535 and cost 17 GB.
constexpr int MOST_PIXELS_SIDE = 16384;
constexpr size_t MOST_PIXELS = size_t(MOST_PIXELS_SIDE) * MOST_PIXELS_SIDE;

// What reading one image gave, before anything is printed: the readers
// (file, TGA, PNG, JPEG) fill it and print nothing; reportImage says it.
struct ImageRead {
    std::unique_ptr<PixelBuffer[]> pixels;    // null when refused
    std::unique_ptr<unsigned short[]> red16;  // see loadImage; null unless 16 bits a channel
    int width = 0;                            // as the header claims, as shown
    int height = 0;
    bool opened = false;  // a file was opened: its name line is due
    bool sized = false;   // the header was complete: the size line is due
    std::string reason;   // why it is refused; empty when read or passed over silently
};

// Sets image.reason and gives true when width x height is past MOST_PIXELS.
bool pastCeiling(size_t width, size_t height, ImageRead& image);

// Sets image.reason from a printf format, as long as a console line takes.
[[gnu::format(printf, 2, 3)]] void refuse(ImageRead& image, const char* format, ...);

// The console lines of one reading, in one place: "[Texture Loading] : name"
// when the file was opened, "width: W, height: H" once its header was
// complete (even when it is refused later), and one line "name: reason" on
// standard error when it is refused. Publishes imageWidth and imageHeight
// and hands over the pixels (and, when red16 is given, the 16-bit red
// channel) only when it was read.
PixelBuffer* reportImage(const char* name, ImageRead& image, unsigned short** red16 = nullptr);

// Reads a TGA, uncompressed or run-length encoded: true colour of 15, 16, 24
// or 32 bits, grey-scale of 8 bits or of 16 (value, then alpha), or 8-bit
// indices into a colour map of 15-, 16-, 24- or 32-bit entries; only 32-bit
// pixels and entries and 16-bit grey carry alpha, the rest are opaque. Images
// of more than MOST_PIXELS pixels in all are refused. Returns its pixels,
// newly allocated with new[], or null: silently when there is no such file,
// with one line "<file>: <reason>" on standard error when it cannot be opened
// or is rejected.
PixelBuffer* loadTga(const char* fileName);

// The TGA reader on a whole file already in memory (size bytes at data).
ImageRead decodeTga(const unsigned char* data, size_t size);

// The loaders' one path: reads the whole of fileName, decodes it with decode
// (asking for the 16-bit red channel when red16 is given) and reports it.
using ImageDecoder = ImageRead (*)(const unsigned char* data, size_t size, bool wantRed16);
PixelBuffer* loadWith(ImageDecoder decode, const char* fileName, unsigned short** red16);
