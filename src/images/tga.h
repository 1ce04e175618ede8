#pragma once

#include "image_read.h"  // Required for: ImageRead, the result of a decoding

#include <cstddef>

// RGBA pixels, 4 bytes each (red, green, blue, alpha), rows in the order of
// the file. A buffer carries no size: imageWidth and imageHeight hold the size
// of the image read last.
using PixelBuffer = unsigned char;

// Size of the image read last by loadTga or made into a texture; a file that
// cannot be opened or is rejected leaves them as they were.
extern int imageWidth;
extern int imageHeight;

// Reads a TGA, uncompressed or run-length encoded: true colour of 15, 16, 24
// or 32 bits, grey-scale of 8 bits or of 16 (value, then alpha), or 8-bit
// indices into a colour map of 15-, 16-, 24- or 32-bit entries; only 32-bit
// pixels and entries and 16-bit grey carry alpha, the rest are opaque. Images
// of more than MOST_PIXELS pixels in all are refused. Returns its pixels,
// newly allocated with new[], and publishes their size in imageWidth and
// imageHeight; or null: silently when there is no such file, with one line
// "<file>: <reason>" on standard error when it cannot be opened or is
// rejected.
PixelBuffer* loadTga(const char* fileName);

// The TGA decoder on a whole file already in memory (size bytes at data):
// the same kinds and refusals as loadTga, nothing printed and no global set.
ImageRead decodeTga(const unsigned char* data, size_t size);
