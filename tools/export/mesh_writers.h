#pragma once

// The surface grid as mesh files: PLY, Wavefront OBJ with its material, and
// glTF 2.0 binary. Each writes the grid's vertices as given (position,
// normal, texture coordinate) and the triangles of the strips, wound as GL
// draws them (stripTriangle).

#include "output_file.h"
#include "png_image.h"
#include "surface.h"

#include <cstddef>
#include <string>
#include <vector>

constexpr size_t VERTEX_COUNT = size_t(GRID_SAMPLES) * GRID_SAMPLES;
constexpr size_t TRIANGLE_COUNT = size_t(GRID_STEPS) * TRIANGLES_PER_STRIP;

// Binary little-endian PLY; picture names the colour image's file beside the
// mesh, empty when the mesh is untextured.
void writePly(OutputFile& out, const std::vector<StripVertex>& grid, const std::string& picture);
// OBJ naming the material file materials, whose material is "dome".
void writeObj(OutputFile& out, const std::vector<StripVertex>& grid, const std::string& materials);
// The one matte material "dome": white, or the picture when there is one.
void writeMtl(OutputFile& out, const std::string& picture);
// glTF 2.0 binary with the picture (null for none) embedded as PNG;
// normals scaled to unit length, as glTF requires. generator names the
// program in the asset. The PNG is made first into a scratch file beside
// out, as its length comes before it. False after one line on standard
// error when the picture cannot be made.
bool writeGlb(OutputFile& out, const std::vector<StripVertex>& grid, const PngPicture* picture,
              const char* generator);
