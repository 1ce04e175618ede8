#pragma once

// The images every program reads, whatever their kind: the decoder chosen by
// a file's first bytes, or by its name where they say nothing, and a file or
// bytes in memory read with it and reported (image_read.h).

#include "image_read.h"  // Required for: ImageRead; the callers read files with it too

#include <cstddef>

// The kinds read, as a refusal of another kind lists them.
constexpr const char* KINDS_READ = "TGA, PNG, JPEG, TIFF, OpenEXR and WebP";

// Decodes an image of any kind the programs take. Its first bytes choose
// the decoder when they are a signature: a PNG (png_decoder.h), a JPEG
// (jpeg_decoder.h), a TIFF (tiff_decoder.h), an OpenEXR (exr_decoder.h) or
// a WebP (webp_decoder.h); a GIF, BMP, HEIC, AVIF, PSD, QOI or JPEG XL is
// refused by its name. Without a signature, a name that ends as a file of
// a kind read does (.png, .tif, ...) has it refused as that kind; any other
// is read as a TGA (tga.h). Rows come bottom row first, as in a TGA
// stored bottom row first.
ImageRead decodeNamed(const unsigned char* data, size_t size, const char* name, bool wantRed16);

// decodeNamed without a name: a file with no signature is read as a TGA.
ImageRead readImage(const unsigned char* data, size_t size, bool wantRed16);

// A whole file read and decoded as decodeNamed does, and reported
// (reportImage).
ImageRead loadImage(const char* fileName, bool wantRed16 = false);

// The same on a whole file in memory; name stands for the file in the lines
// and is decodeNamed's.
ImageRead decodeImage(const unsigned char* data, size_t size, const char* name, bool wantRed16 = false);
