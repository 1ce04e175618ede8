#pragma once

// OpenEXR through the OpenEXR core library: half or float channels (and
// 32-bit unsigned ones), scanlines or tiles, every compression it knows.
// Bytes in memory in, an image out, nothing printed.

#include "image_read.h"  // Required for: ImageRead, the result of a decoding

#include <cstddef>

// Whether data starts with OpenEXR's magic number, 76 2f 31 01.
bool isExr(const unsigned char* data, size_t size);

// Decodes the first part of a whole OpenEXR file in memory (size bytes at
// data), its data window being the picture. The heights are its R channel
// (Y in a luminance file) as floats, as they are (ImageRead::heights); NaN or
// infinite ones are refused. The colour is linear: shown clamped to 0..1 and
// encoded as sRGB. Rows come bottom row first.
ImageRead decodeExr(const unsigned char* data, size_t size, bool wantRed16);
