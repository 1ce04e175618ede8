#include "surface.h"

#include "texture_pixels.h"

#include <cmath>

float cubicBasis[4][GRID_SAMPLES];
float quadraticBasis[3][GRID_SAMPLES];
Vector3 controlNet[4][4];
Vector3 normalNet[3][3];
SurfaceNormals surfaceNormals = SurfaceNormals::Viewer;

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

// Where a texture coordinate falls among the sampled texels along one axis:
// the texel index below it, the one above (clamped at the last), and the
// fraction between them. Row and column lookups share it.
struct TexelSpan {
    int low;
    int high;
    float fraction;
};

TexelSpan texelSpan(float coordinate)
{
    // coordinate is a multiple of 1/1024 and 511 needs nine bits: exact.
    const float scaled = coordinate * static_cast<float>(DISPLACE_GRID_MAX);
    const int low = static_cast<int>(scaled);
    return {low, low < DISPLACE_GRID_MAX ? low + 1 : low, scaled - static_cast<float>(low)};
}

// Texel value 0..1 of pixel (row, column): its red byte / 255, or its 16-bit
// red / 65535 when the image has 16 bits per channel.
float texel(int row, int column)
{
    const size_t at = size_t(row) * size_t(displaceWidth) + size_t(column);
    if (displaceRed16)
        return static_cast<float>(displaceRed16[at]) / 65535.0f;
    return static_cast<float>(displacePixels[4 * at]) / 255.0f;
}

// Tables of the column samples, shared by every strip and filled with the
// weight tables: texture s, the texel span of s (low, high, fx and 1 - fx),
// and the value of each red byte.
float columnS[GRID_SAMPLES];
int columnLow[GRID_SAMPLES];
int columnHigh[GRID_SAMPLES];
float columnFraction[GRID_SAMPLES];
float columnRest[GRID_SAMPLES];
float texelValue[256];

float bilinear(const TexelSpan& row, const TexelSpan& column)
{
    const float fx = column.fraction, fy = row.fraction;
    return (1.0f - fy) * (texel(row.low, column.high) * fx + texel(row.low, column.low) * (1.0f - fx)) +
           fy * (texel(row.high, column.high) * fx + texel(row.high, column.low) * (1.0f - fx));
}

}  // namespace

bool displacementAvailable()
{
    return displacePixels != nullptr && displaceWidth > DISPLACE_GRID_MAX &&
           displaceHeight > DISPLACE_GRID_MAX;
}

std::string missingRelief()
{
    if (!displacePixels)
        return "not loaded";
    const std::string needed = std::to_string(DISPLACE_GRID_MAX + 1);
    return std::to_string(displaceWidth) + " x " + std::to_string(displaceHeight) + " is smaller than " + needed +
           " x " + needed;
}

float sampleDisplacement(float u, float v) { return bilinear(texelSpan(v), texelSpan(u)); }

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

        columnS[k] = static_cast<float>(k) / GRID_STEPS;
        const TexelSpan span = texelSpan(columnS[k]);
        columnLow[k] = span.low;
        columnHigh[k] = span.high;
        columnFraction[k] = span.fraction;
        columnRest[k] = 1.0f - span.fraction;
    }
    for (int value = 0; value < 256; ++value)
        texelValue[value] = static_cast<float>(value) / 255.0f;
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

namespace {

// What one strip row contributes to each of its vertices: the reduced point
// and normal rows, texture t and the displacement rows it reads.
struct StripRow {
    Vector3 points[4];
    Vector3 normals[3];
    float t;
    TexelSpan span;
};

StripRow stripRow(int e)
{
    StripRow row;
    patchRowCurve(e, row.points);
    normalRowCurve(e, row.normals);
    row.t = 1.0f - static_cast<float>(e) / GRID_STEPS;
    row.span = texelSpan(row.t);
    return row;
}

// One displacement image row blended across every column sample: the inner
// bracket of bilinear(), T(row, high) * fx + T(row, low) * (1 - fx).
void blendColumns(int imageRow, float* __restrict blended)
{
    const size_t rowStart = size_t(imageRow) * size_t(displaceWidth);
    float texels[DISPLACE_GRID_MAX + 1];
    if (displaceRed16) {
        for (int c = 0; c <= DISPLACE_GRID_MAX; ++c)
            texels[c] = static_cast<float>(displaceRed16[rowStart + c]) / 65535.0f;
    } else {
        const unsigned char* pixels = displacePixels + 4 * rowStart;
        for (int c = 0; c <= DISPLACE_GRID_MAX; ++c)
            texels[c] = texelValue[pixels[4 * c]];
    }
    for (int i = 0; i < GRID_SAMPLES; ++i)
        blended[i] = texels[columnHigh[i]] * columnFraction[i] + texels[columnLow[i]] * columnRest[i];
}

// The blended image rows one strip reads. Its two strip rows lie less than a
// texel apart, so their spans share rows and at most three are blended.
struct BlendedRows {
    int count = 0;
    int row[4];
    float values[4][GRID_SAMPLES];
};

const float* blendedRow(BlendedRows& rows, int imageRow)
{
    for (int k = 0; k < rows.count; ++k)
        if (rows.row[k] == imageRow)
            return rows.values[k];
    blendColumns(imageRow, rows.values[rows.count]);
    rows.row[rows.count] = imageRow;
    return rows.values[rows.count++];
}

// The relief of one strip row: its two blended image rows and the fraction
// fy between them; bilinear() is (1 - fy) * low + fy * high.
struct RowRelief {
    const float* low;
    const float* high;
    float fy;
    float restY;  // 1 - fy
};

// The weighted sums of a row curve at one column, from index 0 up as
// weightedSum() adds them, one axis at a time.
float cubicSum(float w0, float w1, float w2, float w3, const Vector3 (&p)[4], float Vector3::*axis)
{
    return w0 * (p[0].*axis) + w1 * (p[1].*axis) + w2 * (p[2].*axis) + w3 * (p[3].*axis);
}

float quadraticSum(float v0, float v1, float v2, const Vector3 (&n)[3], float Vector3::*axis)
{
    return v0 * (n[0].*axis) + v1 * (n[1].*axis) + v2 * (n[2].*axis);
}

// One vertex of column i on a strip row with the weights of column i: the
// normal, the point, and with relief the point moved by (d / 7) * normal.
template <bool RELIEF>
StripVertex columnVertex(const StripRow& row, const RowRelief& relief, int i, float s, float w0, float w1,
                         float w2, float w3, float v0, float v1, float v2)
{
    const float nx = quadraticSum(v0, v1, v2, row.normals, &Vector3::x);
    const float ny = quadraticSum(v0, v1, v2, row.normals, &Vector3::y);
    const float nz = quadraticSum(v0, v1, v2, row.normals, &Vector3::z);
    float x = cubicSum(w0, w1, w2, w3, row.points, &Vector3::x);
    float y = cubicSum(w0, w1, w2, w3, row.points, &Vector3::y);
    float z = cubicSum(w0, w1, w2, w3, row.points, &Vector3::z);
    if constexpr (RELIEF) {
        const float d = relief.restY * relief.low[i] + relief.fy * relief.high[i];
        const float k = d / DISPLACE_DIVISOR;
        x = x + k * nx;
        y = y + k * ny;
        z = z + k * nz;
    }
    return {s, row.t, nx, ny, nz, x, y, z};
}

// The column loop of a strip. Every value that depends on the column alone
// comes from a table and every value of a row is computed before the loop,
// so the loop is straight-line single-precision arithmetic that the compiler
// runs several columns at a time, each lane with the reference's operations
// in the reference's order.
template <bool RELIEF>
void stripColumns(const StripRow& a, const StripRow& b, const RowRelief& reliefA, const RowRelief& reliefB,
                  StripVertex* __restrict out)
{
    for (int i = 0; i < GRID_SAMPLES; ++i) {
        const float w0 = cubicBasis[0][i], w1 = cubicBasis[1][i], w2 = cubicBasis[2][i], w3 = cubicBasis[3][i];
        const float v0 = quadraticBasis[0][i], v1 = quadraticBasis[1][i], v2 = quadraticBasis[2][i];
        out[2 * i] = columnVertex<RELIEF>(a, reliefA, i, columnS[i], w0, w1, w2, w3, v0, v1, v2);
        out[2 * i + 1] = columnVertex<RELIEF>(b, reliefB, i, columnS[i], w0, w1, w2, w3, v0, v1, v2);
    }
}

}  // namespace

void computeStrip(int e, StripVertex* out)
{
    const StripRow a = stripRow(e), b = stripRow(e + 1);
    if (displacementAvailable()) {
        BlendedRows rows;
        const TexelSpan& sa = a.span;
        const TexelSpan& sb = b.span;
        const RowRelief reliefA = {blendedRow(rows, sa.low), blendedRow(rows, sa.high), sa.fraction,
                                   1.0f - sa.fraction};
        const RowRelief reliefB = {blendedRow(rows, sb.low), blendedRow(rows, sb.high), sb.fraction,
                                   1.0f - sb.fraction};
        stripColumns<true>(a, b, reliefA, reliefB, out);
    } else {
        stripColumns<false>(a, b, {}, {}, out);
    }
}

std::vector<StripVertex> surfaceGrid()
{
    // Strip e's A vertices are row e, and the last strip's B vertices the
    // last row. Neighbouring strips compute their shared row identically, so
    // taking it from either gives the same values.
    std::vector<StripVertex> grid(size_t(GRID_SAMPLES) * GRID_SAMPLES);
    std::vector<StripVertex> strip(STRIP_VERTICES);
    for (int e = 0; e < GRID_STEPS; ++e) {
        computeStrip(e, strip.data());
        for (int i = 0; i < GRID_SAMPLES; ++i) {
            grid[size_t(e) * GRID_SAMPLES + i] = strip[2 * i];
            if (e == GRID_STEPS - 1)
                grid[size_t(e + 1) * GRID_SAMPLES + i] = strip[2 * i + 1];
        }
    }
    return grid;
}

void stripTriangle(int e, int k, std::uint32_t corner[3])
{
    // Strip vertex m is vertex A (row e) for even m, B (row e + 1) for odd m,
    // of column m / 2. Every second triangle has its first two corners
    // swapped, as GL draws a strip, so that all keep the strip's orientation.
    auto index = [e](int m) { return std::uint32_t((e + m % 2) * GRID_SAMPLES + m / 2); };
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
