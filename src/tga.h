#pragma once

#include <cstddef>
#include <memory>

// RGBA pixels, 4 bytes each (red, green, blue, alpha), rows in the order of
// the file. A buffer carries no size: imageWidth and imageHeight hold the size
// of the image read last.
using PixelBuffer = unsigned char;

// Size of the image read last; a file that cannot be opened or is rejected
// leaves them as they were.
extern int imageWidth;
extern int imageHeight;

// The most pixels an image may have: 16384 x 16384, 1 GiB as RGBA, the
// largest texture llvmpipe and most GL implementations take. Checked against
// the header before anything is allocated: without it a small file could
// claim 65535 x 65535 and cost 17 GB.
constexpr size_t MOST_PIXELS = size_t(16384) * 16384;

// Reads a TGA, uncompressed or run-length encoded: true colour of 15, 16, 24
// or 32 bits, grey-scale of 8 bits or of 16 (value, then alpha), or 8-bit
// indices into a colour map of 15-, 16-, 24- or 32-bit entries; only 32-bit
// pixels and entries and 16-bit grey carry alpha, the rest are opaque. Images
// of more than 16384 x 16384 pixels in all are refused. Returns its pixels, newly allocated with new[], or null:
// silently when there is no such file, with one line "<file>: <reason>" on
// standard error when it cannot be opened or is rejected.
PixelBuffer* loadTga(const char* fileName);

// The same reader on a whole file already in memory (size bytes at data);
// name stands for the file in the console lines. Prints the size line once the
// 18-byte header is there, and touches no state but imageWidth and
// imageHeight, which it sets only when it returns pixels.
PixelBuffer* decodeTga(const unsigned char* data, size_t size, const char* name);

// The whole of an image file, after its first console line; sets size. Null,
// silently, when there is no such file, or after one line "<file>: <reason>"
// on standard error when it is not a regular file or cannot be read.
std::unique_ptr<unsigned char[]> readImageFile(const char* fileName, size_t& size);

// One line "<file>: <reason>" on standard error, flushed at once.
[[gnu::format(printf, 2, 3)]] void reportFile(const char* name, const char* format, ...);
