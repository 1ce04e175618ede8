#pragma once

// The images every program reads, whatever their kind: what a reading gives,
// the rules each decoder keeps, the file reading and the one place that says
// what a reading gave. The decoders (TGA in tga.cpp, PNG and JPEG here) fill
// an ImageRead and print nothing.

#include <cstddef>
#include <memory>
#include <string>

// The most pixels an image may have: MOST_PIXELS_SIDE squared, 1 GiB as
// RGBA, the largest texture llvmpipe and most GL implementations take.
// Checked against the header before anything is allocated: without it a
// small file could claim 65535 x 65535 and cost 17 GB.
constexpr int MOST_PIXELS_SIDE = 16384;
constexpr size_t MOST_PIXELS = size_t(MOST_PIXELS_SIDE) * MOST_PIXELS_SIDE;

// One reading: the image, owned and sized, and what the console is told.
struct ImageRead {
    // RGBA, 4 bytes a pixel (a PixelBuffer), width x height; a PNG's or
    // JPEG's rows turned bottom row first, a TGA's in file order. Null when
    // not read.
    std::unique_ptr<unsigned char[]> pixels;
    // The red channel (the grey of a grey image) at 16 bits, one value a
    // pixel in the same rows, when asked for and the file has 16 bits a
    // channel; null otherwise.
    std::unique_ptr<unsigned short[]> red16;
    int width = 0;  // as the header claims, as shown (also when refused later)
    int height = 0;
    int orientation = 1;   // the EXIF orientation a JPEG was turned by (1: none, or not a JPEG)
    bool missing = false;  // there is no such file: the reader says nothing, the caller decides
    bool opened = false;   // a file was opened: its name line is due
    bool sized = false;    // the header was complete: the size line is due
    std::string reason;    // why it was not read (also for a missing file)
};

// Sets image.reason and gives true when width x height is past MOST_PIXELS.
bool pastCeiling(size_t width, size_t height, ImageRead& image);

// Sets image.reason from a printf format, as long as a console line takes.
[[gnu::format(printf, 2, 3)]] void refuse(ImageRead& image, const char* format, ...);

// A decoder: a whole file in memory to an image (asking for the 16-bit red
// channel when wantRed16).
using ImageDecoder = ImageRead (*)(const unsigned char* data, size_t size, bool wantRed16);

// Decodes an image of any kind the programs take, found from its content:
// PNG (grey, grey with alpha, RGB, RGBA or palette; 1 to 16 bits; interlaced
// or not) through libpng, JPEG (baseline or progressive, colour or grey, its
// EXIF orientation applied) through libjpeg-turbo, anything else as a TGA.
// PNG and JPEG store their top row first: their rows are turned over, so
// row 0 is the bottom of the picture, as in a TGA stored bottom row first.
// 16-bit channels are rounded to 8 bits (v * 255 / 65535).
ImageRead readImage(const unsigned char* data, size_t size, bool wantRed16);

// The decoder a file's name asks for: a name ending in .png is read as a PNG
// and one ending in .jpg or .jpeg as a JPEG (in any case), and refused as
// such when it is not one; any other name by its content (readImage).
ImageDecoder decoderFor(const char* fileName);

// The console lines of one reading, in one place: "[Texture Loading] : name"
// when the file was opened, "width: W, height: H" once its header was
// complete (even when it is refused later), and one line "name: reason" on
// standard error when it is refused. A missing file is passed over in
// silence: the caller decides whether that is worth a word.
void reportImage(const char* name, const ImageRead& image);

// The loaders' one path: reads the whole of fileName, without waiting on a
// FIFO or device (those are refused, as is anything but a regular file),
// decodes it with decode and reports it.
ImageRead loadWith(ImageDecoder decode, const char* fileName, bool wantRed16);

// The whole of a regular file, as loadWith reads it, without waiting on a
// FIFO or device; sets size. Null, image saying why, when it cannot.
std::unique_ptr<unsigned char[]> readImageFile(const char* fileName, size_t& size, ImageRead& image);

// loadWith with the decoder the name asks for.
ImageRead loadImage(const char* fileName, bool wantRed16 = false);

// The same on a whole file in memory; name stands for the file in the lines
// and chooses the decoder.
ImageRead decodeImage(const unsigned char* data, size_t size, const char* name, bool wantRed16 = false);
