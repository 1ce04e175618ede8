#pragma once

#include <vector>

// width x height floats at values, row after row, as a grey TIFF of 32-bit
// IEEE floats, its top row the last of values (values kept bottom row
// first, as the image readers keep theirs): Deflate-compressed with the
// floating-point predictor, every bit of every float kept. Empty when
// libtiff fails.
std::vector<unsigned char> encodeFloatTiff(const float* values, int width, int height);
