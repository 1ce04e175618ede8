#pragma once

// What reading an image gives and the rules every decoder keeps, whatever
// the kind; and the one path from a file to a reported image: its bytes read,
// a decoder run on them, its lines printed. No decoder is known here: each
// (tga.h, png_decoder.h, jpeg_decoder.h) fills an ImageRead from bytes in
// memory and prints nothing, and image.h picks among them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The most pixels an image may have: MOST_PIXELS_SIDE squared, 1 GiB as
// RGBA, the largest texture llvmpipe and most GL implementations take.
// Checked against the header before anything is allocated: without it a
// small file could claim 65535 x 65535 and cost 17 GB.
constexpr int MOST_PIXELS_SIDE = 16384;
constexpr size_t MOST_PIXELS = size_t(MOST_PIXELS_SIDE) * MOST_PIXELS_SIDE;

// The longest reason a refusal carries, its terminating zero included, as
// long as a console line takes; longer ones are cut.
constexpr size_t REASON_SIZE = 160;

// One reading: the image, owned and sized, and what the console is told.
struct ImageRead {
    // RGBA, 4 bytes a pixel (as a PixelBuffer, tga.h), width x height; a
    // PNG's or JPEG's rows turned bottom row first, a TGA's in file order.
    // Null when not read.
    std::unique_ptr<unsigned char[]> pixels;
    // The red channel (the grey of a grey image) at 16 bits, one value a
    // pixel in the same rows, when asked for and the file has 16 bits a
    // channel; null otherwise.
    std::unique_ptr<unsigned short[]> red16;
    // The heights as the file holds them when it holds floating-point
    // samples (an OpenEXR, a float TIFF): its red channel (Y when it has no
    // red), one float a pixel in the same rows, finite, on the scale of
    // pixels' 0..1; null otherwise. pixels then holds them as shown.
    std::unique_ptr<float[]> heights;
    int width = 0;  // as the header claims, as shown (also when refused later)
    int height = 0;
    bool missing = false;  // there is no such file: the reader says nothing, the caller decides
    bool opened = false;   // a file was opened: its name line is due
    bool sized = false;    // the header was complete: the size line is due
    std::string reason;    // why it was not read (also for a missing file)
};

// Sets image.reason and gives true when width x height is past MOST_PIXELS.
bool pastCeiling(size_t width, size_t height, ImageRead& image);

// Sets image.reason from a printf format, cut to REASON_SIZE.
[[gnu::format(printf, 2, 3)]] void refuse(ImageRead& image, const char* format, ...);

// Where a stored row lands in the picture as shown, bottom row first, for
// the orientations of EXIF and TIFF (1 to 8; anything else is upright):
// stored pixel (x, y) of a stored image width x height lands at pixel
// first + x * step. Orientations 5 to 8 turn the picture a quarter: shown,
// it is height pixels wide.
void shownPlace(int orientation, ptrdiff_t width, ptrdiff_t height, ptrdiff_t y, ptrdiff_t& first, ptrdiff_t& step);

// A decoder: a whole file in memory to an image (asking for the 16-bit red
// channel when wantRed16).
using ImageDecoder = ImageRead (*)(const unsigned char* data, size_t size, bool wantRed16);
// The same, told the file's name (which may choose the decoder).
using FileDecoder = ImageRead (*)(const unsigned char* data, size_t size, const char* name, bool wantRed16);

// The console lines of one reading, in one place: "[Texture Loading] : name"
// when the file was opened, "width: W, height: H" once its header was
// complete (even when it is refused later), and one line "name: reason" on
// standard error when it is refused. A missing file is passed over in
// silence: the caller decides whether that is worth a word.
void reportImage(const char* name, const ImageRead& image);

// The loaders' one path: reads the whole of fileName, without waiting on a
// FIFO or device (those are refused, as is anything but a regular file),
// decodes it with decode and reports it.
ImageRead loadWith(FileDecoder decode, const char* fileName, bool wantRed16);

// The whole of a regular file, as loadWith reads it, without waiting on a
// FIFO or device; sets size. Null, image saying why, when it cannot.
std::unique_ptr<unsigned char[]> readImageFile(const char* fileName, size_t& size, ImageRead& image);
