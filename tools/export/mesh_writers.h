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

// About how many bytes dispdome-export writes for a mesh of format ("glb",
// "obj" or "ply"), with a colour picture of width x height (0 x 0: none):
// the mesh's own (an OBJ's lines take about 95 bytes a vertex and 63 a
// triangle), and the picture's PNG at half its pixels' RGB bytes, as a
// photo's often is.
double meshBytesEstimate(const std::string& format, int width, int height);

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
