#pragma once

// The images every program reads, whatever their kind: the PNG and JPEG
// decoders, the decoder chosen by a file's name or content, and a file or
// bytes in memory read with it and reported (image_read.h).

#include "image_read.h"  // Required for: ImageRead and ImageDecoder; the callers read files with it too

#include <cstddef>

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

// loadWith with the decoder the name asks for.
ImageRead loadImage(const char* fileName, bool wantRed16 = false);

// The same on a whole file in memory; name stands for the file in the lines
// and chooses the decoder.
ImageRead decodeImage(const unsigned char* data, size_t size, const char* name, bool wantRed16 = false);
