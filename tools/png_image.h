#pragma once

#include <vector>

// An 8-bit RGB PNG of width x height pixels, 3 bytes each, given top row
// first as PNG stores them; level is zlib's compression level, 0 (none) to 9
// (smallest, slowest). Empty when libpng fails.
std::vector<unsigned char> encodePng(int width, int height, const unsigned char* rgb, int level);
