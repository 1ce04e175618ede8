#pragma once

// JPEG through libjpeg-turbo: baseline or progressive, colour or grey, its
// EXIF orientation (read with libexif) applied. Bytes in memory in, an image
// out, nothing printed.

#include "image_read.h"  // Required for: ImageRead, the result of a decoding

#include <cstddef>

// Whether data starts as a JPEG does: a start-of-image marker, then another.
bool isJpeg(const unsigned char* data, size_t size);

// Decodes a whole JPEG file in memory (size bytes at data); libjpeg refuses
// what is not one. The file's top row comes first: the rows are turned over,
// so row 0 is the bottom of the picture as shown, after the orientation.
ImageRead decodeJpeg(const unsigned char* data, size_t size);
