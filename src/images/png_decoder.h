#pragma once

// PNG through libpng: grey, grey with alpha, RGB, RGBA or palette; 1 to 16
// bits a channel; interlaced or not. Bytes in memory in, an image out,
// nothing printed.

#include "image_read.h"  // Required for: ImageRead, the result of a decoding

#include <cstddef>

// Whether data starts with the PNG signature.
bool isPng(const unsigned char* data, size_t size);

// Decodes a whole PNG file in memory (size bytes at data); one without the
// signature is refused as not a PNG. The file's top row comes first: the
// rows are turned over, so row 0 is the bottom of the picture, as in a TGA
// stored bottom row first. 16-bit channels are rounded to 8 bits
// (v * 255 / 65535); the red one is kept at 16 bits as well when wantRed16.
ImageRead decodePng(const unsigned char* data, size_t size, bool wantRed16);
