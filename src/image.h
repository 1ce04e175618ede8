#pragma once

#include "tga.h"

#include <cstddef>

// Reads an image file of any kind the viewer takes, found from its content:
// PNG (grey, grey with alpha, RGB, RGBA or palette; 1 to 16 bits; interlaced
// or not) through libpng, JPEG (baseline or progressive, colour or grey, its
// EXIF orientation applied) through libjpeg-turbo, anything else as a TGA.
// Returns RGBA pixels, newly allocated with new[], and publishes imageWidth
// and imageHeight; the rules for a missing, unreadable or rejected file are
// loadTga's. PNG and JPEG store their top row first: their rows are turned
// over, so row 0 is the bottom of the picture (texture t = 0), as in a TGA
// stored bottom row first. 16-bit channels are rounded to 8 bits
// (v * 255 / 65535).
//
// red16, when given, receives the red channel (the grey of a grey image) at
// 16 bits, newly allocated with new[] and in the same row order, when the
// file has 16 bits per channel, and null otherwise.
PixelBuffer* loadImage(const char* fileName, unsigned short** red16 = nullptr);

// The same on a whole file in memory; name stands for the file in the lines.
PixelBuffer* decodeImage(const unsigned char* data, size_t size, const char* name,
                         unsigned short** red16 = nullptr);

// The decoding alone, printing nothing: what decodeImage reports.
ImageRead readImage(const unsigned char* data, size_t size, bool wantRed16);
