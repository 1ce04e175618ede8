#pragma once

#include <string>
#include <vector>

// Sample input images for the viewer: a height field of smooth bumps and a
// ring, the colour image tinted by height with a grid every 64 texels, and
// the normal image of the heights. Every image is mirror-symmetric left to
// right except the normals' x component, and deterministic.

constexpr int SAMPLE_SIZE = 512;

// RGB, 3 bytes per pixel, SAMPLE_SIZE rows of SAMPLE_SIZE pixels, bottom row
// first (the row order of the files). The displacement image is grey.
struct SampleImages {
    std::vector<unsigned char> color;
    std::vector<unsigned char> displace;
    std::vector<unsigned char> normal;
};

SampleImages makeSampleImages();

// An uncompressed 24-bit TGA file of width x height RGB pixels given in file
// row order; the header says bottom row first.
std::vector<unsigned char> encodeTga(int width, int height, const unsigned char* rgb);

// Writes color.tga, displace.tga and normal.tga into the existing folder.
// Never overwrites: when any of the three is there, writes nothing. Returns
// an empty string, or what went wrong as one line.
std::string writeSampleImages(const std::string& folder);
