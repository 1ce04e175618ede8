#pragma once

// The images every program reads, whatever their kind: the decoder chosen by
// a file's name or content, and a file or bytes in memory read with it and
// reported (image_read.h).

#include "image_read.h"  // Required for: ImageRead and ImageDecoder; the callers read files with it too

#include <cstddef>

// Decodes an image of any kind the programs take, found from its content: a
// PNG (png_decoder.h), a JPEG (jpeg_decoder.h), anything else as a TGA
// (tga.h). A PNG's and a JPEG's rows come bottom row first, as in a TGA
// stored bottom row first.
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
