#pragma once

#include <cstddef>
#include <vector>

struct OutputFile;

// A picture to write as an 8-bit RGB PNG: width x height pixels of 3 bytes
// (RGB) or 4 (RGBA, the alpha dropped); the PNG's top row at top and each
// next one stride bytes further (negative for a picture kept bottom row
// first, as the image readers keep theirs). level is zlib's compression
// level, 0 (none) to 9 (smallest, slowest). A grey picture has one value a
// pixel instead, of depth 8 or 16 bits (two bytes, most significant first).
struct PngPicture {
    const unsigned char* top = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
    bool alpha = false;
    int level;
    bool grey = false;
    int depth = 8;
};

// The picture of width x height RGBA pixels at rgba, bottom row first.
PngPicture bottomUpPicture(const unsigned char* rgba, int width, int height, int level);

// Where the PNG's bytes go as libpng makes them, a row at a time: no copy of
// the picture and no whole PNG is held. False, with libpng's reason in
// why, when libpng fails.
using PngSink = void (*)(void* target, const unsigned char* bytes, size_t size);
bool writePng(const PngPicture& picture, PngSink sink, void* target, const char** why = nullptr);

// Writes the PNG into out: the number of bytes, or 0 after one line on
// standard error.
size_t putPng(OutputFile& out, const PngPicture& picture);
// The whole PNG in memory; empty when libpng fails.
std::vector<unsigned char> encodePng(const PngPicture& picture);
// The same of width x height RGB pixels at rgb, given top row first.
std::vector<unsigned char> encodePng(int width, int height, const unsigned char* rgb, int level);
