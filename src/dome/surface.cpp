#include "surface.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

float cubicBasis[4][GRID_SAMPLES];
float quadraticBasis[3][GRID_SAMPLES];
Vector3 controlNet[4][4];
Vector3 normalNet[3][3];

namespace {

// Weighted sum of n points, accumulated from index 0 upward in single
// precision; every run over the same weights gives the same bits.
template <int N>
Vector3 weightedSum(const float (&basis)[N][GRID_SAMPLES], int k, const Vector3* points)
{
    Vector3 sum = basis[0][k] * points[0];
    for (int j = 1; j < N; ++j)
        sum = sum + basis[j][k] * points[j];
    return sum;
}

// The middle of a border of the normal net: where the planes tangent to the
// unit sphere at the corner normals a and b meet, so the quadratic curve
// a, edge, b leaves each corner along the sphere.
Vector3 edgeNormal(Vector3 a, Vector3 b)
{
    const Vector3 h = normalise(a + b);
    return (1.0f / dot(h, a)) * h;
}

// Where a texture coordinate falls among count texels along one axis: the
// texel index below it, the one above (clamped at the last), and the
// fraction between them. Row and column lookups share it.
struct TexelSpan {
    int low;
    int high;
    float fraction;
};

TexelSpan texelSpan(float coordinate, int count)
{
    // coordinate is a multiple of 1/1024 and count - 1 at most 1024: the
    // product is exact.
    const int last = count - 1;
    const float scaled = coordinate * static_cast<float>(last);
    const int low = static_cast<int>(scaled);
    return {low, low < last ? low + 1 : low, scaled - static_cast<float>(low)};
}

float bilinear(const SurfaceHeights& heights, const TexelSpan& row, const TexelSpan& column)
{
    auto T = [&heights](int r, int c) {
        const size_t n = size_t(r) * size_t(heights.width) + size_t(c);
        return heights.floats.empty() ? static_cast<float>(heights.texels[n]) / 65535.0f : heights.floats[n];
    };
    const float fx = column.fraction, fy = row.fraction;
    return (1.0f - fy) * (T(row.low, column.high) * fx + T(row.low, column.low) * (1.0f - fx)) +
           fy * (T(row.high, column.high) * fx + T(row.high, column.low) * (1.0f - fx));
}

// One axis of the reduction, n source texels onto m = min(n, GRID_SAMPLES)
// reduced ones. In units of 1 / (n m) texel, source texel c covers
// [c m, (c + 1) m) and reduced texel j covers [j n, (j + 1) n): a source
// texel falls into one reduced texel, or is cut between two (m <= n). Walked
// in order, it gives each source texel's share of the two.
class AxisWalk {
public:
    explicit AxisWalk(int n) : n_(unsigned(n)), m_(unsigned(std::min(n, GRID_SAMPLES))) {}

    unsigned reduced() const { return unsigned(m_); }

    // The next source texel: the reduced texel it starts in, its share
    // there, and what is left for the one after (0 when uncut).
    struct Share {
        unsigned to, here, next;
    };
    Share next()
    {
        const std::uint64_t start = position_, end = start + m_;
        position_ = end;
        Share share{to_, unsigned(m_), 0};
        if (end > boundary_) {
            share.here = unsigned(boundary_ - start);
            share.next = unsigned(end - boundary_);
        }
        if (end >= boundary_) {
            ++to_;
            boundary_ += n_;
        }
        return share;
    }

private:
    std::uint64_t n_, m_;
    std::uint64_t position_ = 0;
    unsigned to_ = 0;
    std::uint64_t boundary_ = n_;
};

}  // namespace

bool displacementAvailable(const Displacement& image)
{
    return image.pixels != nullptr && image.width > 0 && image.height > 0;
}

std::string missingRelief(const Displacement& image)
{
    if (!image.pixels)
        return "not loaded";
    return std::to_string(image.width) + " x " + std::to_string(image.height) + " holds no heights";
}

namespace {

// The reduction of surfaceHeights, summing in Sum each source texel's value
// (read) times its share, and emitting each reduced texel's mean over the
// total weight (emit): exact integers of 16-bit heights, or doubles of float
// ones. Rows are reduced one at a time into the two reduced rows a source
// row can fall into: a few kilobytes beside the result, whatever the
// image's size.
template <typename Sum, typename Read, typename Emit>
void reduceHeights(const Displacement& image, unsigned width, AxisWalk rows, Read read, Emit emit)
{
    std::vector<Sum> line(width + 1), low(width + 1), high(width + 1);
    unsigned row = 0;
    for (int r = 0; r < image.height; ++r) {
        const AxisWalk::Share down = rows.next();
        if (down.to != row) {  // the reduced row before is complete
            emit(row, low);
            row = down.to;
            low.swap(high);
            std::fill(high.begin(), high.end(), 0);
        }
        std::fill(line.begin(), line.end(), 0);
        AxisWalk columns(image.width);
        const size_t first = size_t(r) * size_t(image.width);
        for (int c = 0; c < image.width; ++c) {
            const Sum value = read(first + c);
            const AxisWalk::Share across = columns.next();
            line[across.to] += Sum(across.here) * value;
            line[across.to + 1] += Sum(across.next) * value;
        }
        for (unsigned j = 0; j < width; ++j) {
            low[j] += Sum(down.here) * line[j];
            high[j] += Sum(down.next) * line[j];
        }
    }
    emit(row, low);
}

}  // namespace

SurfaceHeights surfaceHeights(const Displacement& image)
{
    SurfaceHeights heights;
    heights.scale = image.scale;
    if (!displacementAvailable(image))
        return heights;
    const AxisWalk rows(image.height);
    const unsigned width = AxisWalk(image.width).reduced();
    const size_t texels = size_t(width) * rows.reduced();
    heights.width = int(width);
    heights.height = int(rows.reduced());

    // A reduced texel's weights add up to image.width x image.height, at
    // most MOST_PIXELS (2^28).
    const std::uint64_t total = std::uint64_t(image.width) * std::uint64_t(image.height);
    if (image.heights) {
        // Summed in doubles, rounded once to a float: a side not reduced
        // has every term, a float times a weight below 2^21, and the mean
        // exact, so its floats come back as they are.
        heights.floats.resize(texels);
        reduceHeights<double>(image, width, rows, [&](size_t n) { return double(image.heights[n]); },
                              [&](unsigned row, const std::vector<double>& sums) {
                                  for (unsigned j = 0; j < width; ++j)
                                      heights.floats[size_t(row) * width + j] = float(sums[j] / double(total));
                              });
        return heights;
    }
    // Exact sums in 16-bit units: a sum stays below 2^44.
    heights.texels.resize(texels);
    reduceHeights<std::uint64_t>(
        image, width, rows,
        [&](size_t n) { return image.red16 ? image.red16[n] : image.pixels[4 * n] * std::uint64_t(257); },
        [&](unsigned row, const std::vector<std::uint64_t>& sums) {
            for (unsigned j = 0; j < width; ++j)
                heights.texels[size_t(row) * width + j] = static_cast<unsigned short>((sums[j] + total / 2) / total);
        });
    return heights;
}

float sampleDisplacement(const SurfaceHeights& heights, float u, float v)
{
    return bilinear(heights, texelSpan(v, heights.height), texelSpan(u, heights.width));
}

void buildBasisTables()
{
    for (int k = 0; k < GRID_SAMPLES; ++k) {
        // t = k / 1024 and s = 1 - t are exact; each weight is an exact
        // double-precision product of single-precision factors, rounded once.
        const float t = static_cast<float>(k) * (1.0f / GRID_STEPS);
        const float s = 1.0f - t;
        const float s2 = s * s;
        const float t2 = t * t;
        cubicBasis[0][k] = static_cast<float>(double(s2) * s);
        cubicBasis[1][k] = static_cast<float>(double(s2) * 3.0 * t);
        cubicBasis[2][k] = static_cast<float>(3.0 * s * double(t2));
        cubicBasis[3][k] = static_cast<float>(double(t2) * t);
        quadraticBasis[0][k] = s2;
        quadraticBasis[1][k] = static_cast<float>(2.0 * s * double(t));
        quadraticBasis[2][k] = t2;
    }
}

void buildControlNet()
{
    // Columns 1.5, 2, 1.5 apart along x, rows the same along z; height 0 at
    // the corners, 1 on the rest of the border, 3 inside.
    static const float position[4] = {-2.5f, -1.0f, 1.0f, 2.5f};
    static const float height[4][4] = {
        {0, 1, 1, 0},
        {1, 3, 3, 1},
        {1, 3, 3, 1},
        {0, 1, 1, 0},
    };
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            controlNet[r][c] = {position[c], height[r][c], position[r]};
}

void buildNormalNet()
{
    // Corners: the patch's own unit normal, from the end differences of the
    // net row (du) and net column (dv) that meet there.
    for (int r = 0; r < 4; r += 3) {
        for (int c = 0; c < 4; c += 3) {
            const Vector3 du = c == 0 ? controlNet[r][1] - controlNet[r][0]
                                      : controlNet[r][3] - controlNet[r][2];
            const Vector3 dv = r == 0 ? controlNet[1][c] - controlNet[0][c]
                                      : controlNet[3][c] - controlNet[2][c];
            normalNet[r / 3 * 2][c / 3 * 2] = normalise(cross(dv, du));
        }
    }

    normalNet[0][1] = edgeNormal(normalNet[0][0], normalNet[0][2]);
    normalNet[1][0] = edgeNormal(normalNet[0][0], normalNet[2][0]);
    normalNet[1][2] = edgeNormal(normalNet[0][2], normalNet[2][2]);
    normalNet[2][1] = edgeNormal(normalNet[2][0], normalNet[2][2]);

    const Vector3 edges = normalNet[0][1] + normalNet[1][0] + normalNet[1][2] + normalNet[2][1];
    const Vector3 corners = normalNet[0][0] + normalNet[0][2] + normalNet[2][0] + normalNet[2][2];
    normalNet[1][1] = 0.5f * edges - 0.25f * corners;
}

void buildSurfaceTables()
{
    buildBasisTables();
    buildControlNet();
    buildNormalNet();
}

namespace {

// A net of N x N reduced to the N points of row sample e: each column's
// weighted sum.
template <int N>
void rowCurve(const Vector3 (&net)[N][N], const float (&basis)[N][GRID_SAMPLES], int e, Vector3 row[N])
{
    for (int c = 0; c < N; ++c) {
        Vector3 column[N];
        for (int r = 0; r < N; ++r)
            column[r] = net[r][c];
        row[c] = weightedSum(basis, e, column);
    }
}

}  // namespace

void patchRowCurve(int e, Vector3 row[4]) { rowCurve(controlNet, cubicBasis, e, row); }

void normalRowCurve(int e, Vector3 row[3]) { rowCurve(normalNet, quadraticBasis, e, row); }

Vector3 rowCurvePoint(const Vector3 row[4], int i) { return weightedSum(cubicBasis, i, row); }

Vector3 rowCurveNormal(const Vector3 row[3], int i) { return weightedSum(quadraticBasis, i, row); }

Vector3 patchPoint(int e, int i)
{
    Vector3 row[4];
    patchRowCurve(e, row);
    return rowCurvePoint(row, i);
}

Vector3 patchNormal(int e, int i)
{
    Vector3 row[3];
    normalRowCurve(e, row);
    return rowCurveNormal(row, i);
}

void computeStrip(const SurfaceHeights& heights, int e, StripVertex* out)
{
    const bool relief = heights.width > 0;
    Vector3 points[2][4], normals[2][3];
    for (int side = 0; side < 2; ++side) {  // row e and row e + 1
        patchRowCurve(e + side, points[side]);
        normalRowCurve(e + side, normals[side]);
    }
    for (int m = 0; m < STRIP_VERTICES; ++m) {
        const int row = stripRow(e, m), side = row - e, i = stripColumn(m);
        const float t = 1.0f - static_cast<float>(row) / GRID_STEPS;
        const float s = static_cast<float>(i) / GRID_STEPS;
        const Vector3 n = rowCurveNormal(normals[side], i);
        Vector3 p = rowCurvePoint(points[side], i);
        if (relief)
            p = p + (sampleDisplacement(heights, s, t) / DISPLACE_DIVISOR * heights.scale) * n;
        out[m] = {s, t, n.x, n.y, n.z, p.x, p.y, p.z};
    }
}

std::vector<StripVertex> surfaceGrid(const Displacement& image)
{
    // Neighbouring strips compute their shared row identically, so taking
    // it from either gives the same values.
    const SurfaceHeights heights = surfaceHeights(image);
    std::vector<StripVertex> grid(size_t(GRID_SAMPLES) * GRID_SAMPLES);
    std::vector<StripVertex> strip(STRIP_VERTICES);
    for (int e = 0; e < GRID_STEPS; ++e) {
        computeStrip(heights, e, strip.data());
        for (int m = 0; m < STRIP_VERTICES; ++m)
            grid[size_t(stripRow(e, m)) * GRID_SAMPLES + stripColumn(m)] = strip[m];
    }
    return grid;
}

std::vector<std::uint32_t> stripIndices(int step)
{
    const int strips = GRID_STEPS / step, vertices = 2 * (GRID_STEPS / step + 1);
    std::vector<std::uint32_t> indices;
    indices.reserve(size_t(strips) * (vertices + 1));
    for (int strip = 0; strip < strips; ++strip) {
        if (strip > 0)
            indices.push_back(STRIP_RESTART);
        for (int m = 0; m < vertices; ++m)
            indices.push_back(std::uint32_t(stripRow(strip * step, m, step) * GRID_SAMPLES + stripColumn(m, step)));
    }
    return indices;
}

void stripTriangle(int e, int k, std::uint32_t corner[3])
{
    // Every second triangle has its first two corners swapped, as GL draws
    // a strip, so that all keep the strip's orientation.
    auto index = [e](int m) { return std::uint32_t(stripRow(e, m) * GRID_SAMPLES + stripColumn(m)); };
    const bool odd = k % 2 == 1;
    corner[0] = index(odd ? k + 1 : k);
    corner[1] = index(odd ? k : k + 1);
    corner[2] = index(k + 2);
}

namespace {

Vector3 position(const StripVertex& v) { return {v.x, v.y, v.z}; }

void addNormal(StripVertex& v, Vector3 n)
{
    v.nx += n.x;
    v.ny += n.y;
    v.nz += n.z;
}

}  // namespace

void useDisplacedNormals(std::vector<StripVertex>& grid)
{
    // Accumulated in place of the patch normals: no second array. Each
    // triangle adds (b - a) x (c - a), twice its area along its own normal,
    // so larger faces weigh more, as mesh libraries weigh them. Cell i of
    // strip e, corners A_i, A_i+1 on row e and B_i, B_i+1 on row e + 1, is
    // the strip's triangles 2i = (A_i, B_i, A_i+1) and 2i + 1 = (A_i+1, B_i,
    // B_i+1) (stripTriangle); a cell at a time, each corner's share is
    // added once.
    for (StripVertex& v : grid)
        v.nx = v.ny = v.nz = 0.0f;
    for (int e = 0; e < GRID_STEPS; ++e) {
        StripVertex* a = &grid[size_t(e) * GRID_SAMPLES];
        StripVertex* b = a + GRID_SAMPLES;
        for (int i = 0; i < GRID_STEPS; ++i) {
            const Vector3 a0 = position(a[i]), a1 = position(a[i + 1]);
            const Vector3 b0 = position(b[i]), b1 = position(b[i + 1]);
            const Vector3 first = cross(b0 - a0, a1 - a0), second = cross(b0 - a1, b1 - a1);
            const Vector3 both = first + second;
            addNormal(a[i], first);
            addNormal(b[i], both);
            addNormal(a[i + 1], both);
            addNormal(b[i + 1], second);
        }
    }
    for (StripVertex& v : grid) {
        const Vector3 n = normalise({v.nx, v.ny, v.nz});
        v.nx = n.x;
        v.ny = n.y;
        v.nz = n.z;
    }
}
