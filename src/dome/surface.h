#pragma once

#include "vector3.h"

#include <cstdint>
#include <string>
#include <vector>

// The dome: a bicubic Bezier patch sampled on a (GRID_STEPS + 1)^2 grid, with
// a biquadratic patch of normals on the same grid, recorded as GRID_STEPS
// triangle strips in one display list (surface_list.h).

constexpr int GRID_STEPS = 1024;
constexpr int GRID_SAMPLES = GRID_STEPS + 1;
constexpr int STRIP_VERTICES = 2 * GRID_SAMPLES;  // vertex A and B per column
constexpr int TRIANGLES_PER_STRIP = STRIP_VERTICES - 2;

// Bernstein weights on the sample grid: [weight index][sample].
extern float cubicBasis[4][GRID_SAMPLES];
extern float quadraticBasis[3][GRID_SAMPLES];

// Bezier control net, [row][column]: rows run along z, columns along x, y up.
extern Vector3 controlNet[4][4];

// Biquadratic net of normals, [row][column]; unit vectors at the corners only.
extern Vector3 normalNet[3][3];

// A vertex moves along its normal by the height read (0..1) divided by
// DISPLACE_DIVISOR.
constexpr float DISPLACE_DIVISOR = 7.0f;

// A displacement image as it was read, not owned: rows of width RGBA pixels
// (row 0 at v = 0), the red channel at 16 bits or null, the heights as
// floats or null (a file of floats: then they are the heights, as they are,
// on the pixels' 0..1 scale), and the relief scale (1: the viewer's own
// seventh). The displacement is multiplied by the scale after the division;
// the tools' --relief sets it.
struct Displacement {
    const unsigned char* pixels = nullptr;
    const unsigned short* red16 = nullptr;
    int width = 0;
    int height = 0;
    float scale = 1.0f;
    const float* heights = nullptr;
};

// The heights as the surface samples them: the whole image, reduced by
// averaging along any side longer than the grid has samples, so that no
// side has more than GRID_SAMPLES texels and detail finer than the grid
// averages out instead of aliasing. Each texel is a height of value / 65535
// (an 8-bit red r is held as r * 257, the same r / 255), row 0 at v = 0;
// or, for an image of float heights, each a float in floats (texels then
// empty). No texels: no relief.
struct SurfaceHeights {
    std::vector<unsigned short> texels;
    std::vector<float> floats;
    int width = 0;
    int height = 0;
    float scale = 1.0f;
};

void buildBasisTables();
void buildControlNet();
void buildNormalNet();
// The three above, in that order: all the surface needs before the
// displacement image.
void buildSurfaceTables();

// The normals a surface list or mesh carries: the normal patch's (the
// viewer's lighting), or the displaced surface's own (useDisplacedNormals),
// which show the relief in the shading. The viewer keeps the normal patch's.
enum class SurfaceNormals { Viewer, Displaced };

// One vertex as the strips issue it, laid out as GL_T2F_N3F_V3F.
struct StripVertex {
    float s, t;          // texture coordinate
    float nx, ny, nz;    // normal of the normal patch, not normalised (unless replaced)
    float x, y, z;       // position
};

// Pure evaluation, no GL. Row sample e and column sample i run 0..GRID_STEPS.

// Reduces the control net to the four points of row sample e.
void patchRowCurve(int e, Vector3 row[4]);
// Reduces the normal net to the three vectors of row sample e.
void normalRowCurve(int e, Vector3 row[3]);
// The point / normal of column sample i on a reduced row.
Vector3 rowCurvePoint(const Vector3 row[4], int i);
Vector3 rowCurveNormal(const Vector3 row[3], int i);

Vector3 patchPoint(int e, int i);
Vector3 patchNormal(int e, int i);

// True when image has pixels to read heights from; otherwise the surface
// is drawn without relief.
bool displacementAvailable(const Displacement& image);
// Why it has none: "not loaded", or "<W> x <H> holds no heights".
std::string missingRelief(const Displacement& image);

// image read whole as the surface samples it (its red channel, at 16 bits
// when it has them): a side of n texels longer than GRID_SAMPLES becomes
// GRID_SAMPLES texels, texel j the mean of the source over its footprint,
// [j n / GRID_SAMPLES, (j + 1) n / GRID_SAMPLES) in texels, the texels cut
// by its ends weighed by the part inside; shorter sides stay as they are.
// The means are exact, rounded once to 16 bits; of float heights, summed in
// double precision and rounded once to a float (a side not reduced keeps
// its floats exactly). None when
// !displacementAvailable(image).
SurfaceHeights surfaceHeights(const Displacement& image);

// Bilinear height at texture coordinate (u, v), 0..1, of heights that has
// texels: column u (width - 1), row v (height - 1), so the texels span the
// dome whole, as the colour image does. The scale does not enter.
float sampleDisplacement(const SurfaceHeights& heights, float u, float v);

// The strips' order: strip e over every step-th sample issues, for each
// column, vertex A on row e, then B on row e + step. Its vertex m is on
// row stripRow(e, m, step), column stripColumn(m, step).
constexpr int stripRow(int e, int m, int step = 1) { return e + m % 2 * step; }
constexpr int stripColumn(int m, int step = 1) { return m / 2 * step; }

// Where strips over every step-th sample (GRID_STEPS a multiple of step) take
// their vertices from the grid (index row * GRID_SAMPLES + column), one
// strip after the other, parted by STRIP_RESTART, as the page draws them.
constexpr std::uint32_t STRIP_RESTART = 0xffffffff;
std::vector<std::uint32_t> stripIndices(int step);

// Fills the STRIP_VERTICES vertices of strip e (0..GRID_STEPS-1) in the order
// they are issued (stripRow, stripColumn).
// Positions are displaced by heights, at its scale, when it has texels.
void computeStrip(const SurfaceHeights& heights, int e, StripVertex* out);

// Every grid sample once, as computeStrip gives it for surfaceHeights(image):
// row sample e (along z) and column sample i (along x) at index
// e * GRID_SAMPLES + i.
std::vector<StripVertex> surfaceGrid(const Displacement& image);

// The grid indices of triangle k (0..TRIANGLES_PER_STRIP-1) of strip e, in
// the order GL draws it from the strip: counter-clockwise seen from above.
void stripTriangle(int e, int k, std::uint32_t corner[3]);

// Replaces the normals of a surfaceGrid() by the displaced surface's own:
// per vertex the sum of (b - a) x (c - a) over the triangles a, b, c that
// use it (each counts by its area), normalised to unit length.
void useDisplacedNormals(std::vector<StripVertex>& grid);
