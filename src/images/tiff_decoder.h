#pragma once

// TIFF through libtiff: grey, grey with alpha, RGB or RGBA; 8 or 16 bits a
// sample, or 32-bit floats; in strips or tiles; uncompressed, LZW, Deflate
// or PackBits; its Orientation tag applied. Bytes in memory in, an image
// out, nothing printed.

#include "image_read.h"  // Required for: ImageRead, the result of a decoding

#include <cstddef>

// Whether data starts as a TIFF does: "II*\0" or "MM\0*", or as a BigTIFF
// does: "II+\0" or "MM\0+".
bool isTiff(const unsigned char* data, size_t size);

// Decodes the first image of a whole TIFF file in memory (size bytes at
// data). Rows come bottom row first as shown, after the orientation. 16-bit
// samples are rounded to 8 bits (v * 255 / 65535), the red one kept at 16
// bits as well when wantRed16; float samples are kept as heights
// (ImageRead::heights) and shown clamped to 0..1.
ImageRead decodeTiff(const unsigned char* data, size_t size, bool wantRed16);
