#pragma once

// WebP through libwebp: lossy or lossless, alpha ignored. Bytes in memory in,
// an image out, nothing printed.

#include "image_read.h"  // Required for: ImageRead, the result of a decoding

#include <cstddef>

// Whether data starts as a WebP does: "RIFF", a size, "WEBP".
bool isWebp(const unsigned char* data, size_t size);

// Decodes a whole WebP file in memory (size bytes at data); an animated one
// is refused. Rows come bottom row first.
ImageRead decodeWebp(const unsigned char* data, size_t size, bool wantRed16);
