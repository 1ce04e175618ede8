#include "surface.h"

#include "textures.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <vector>

float cubicBasis[4][GRID_SAMPLES];
float quadraticBasis[3][GRID_SAMPLES];
Vector3 controlNet[4][4];
Vector3 normalNet[3][3];
unsigned int surfaceList = 0;

namespace {

Vector3 operator+(Vector3 a, Vector3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vector3 operator-(Vector3 a, Vector3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vector3 operator*(float k, Vector3 a) { return {k * a.x, k * a.y, k * a.z}; }

float dot(Vector3 a, Vector3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vector3 cross(Vector3 a, Vector3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vector3 normalise(Vector3 a)
{
    const float length = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return {a.x / length, a.y / length, a.z / length};
}

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

// Texel value 0..1 from the red byte of pixel (row, column).
float texel(int row, int column)
{
    const size_t at = 4 * (size_t(row) * size_t(displaceWidth) + size_t(column));
    return static_cast<float>(displacePixels[at]) / 255.0f;
}

float bilinear(const TexelSpan& row, const TexelSpan& column)
{
    const float fx = column.fraction, fy = row.fraction;
    return (1.0f - fy) * (texel(row.low, column.high) * fx + texel(row.low, column.low) * (1.0f - fx)) +
           fy * (texel(row.high, column.high) * fx + texel(row.high, column.low) * (1.0f - fx));
}

// The patch point moved along its (unnormalised) normal by d / 7.
Vector3 displaced(Vector3 point, Vector3 normal, float d)
{
    return point + (d / DISPLACE_DIVISOR) * normal;
}

}  // namespace

bool displacementAvailable()
{
    return displacePixels != nullptr && displaceWidth > DISPLACE_GRID_MAX &&
           displaceHeight > DISPLACE_GRID_MAX;
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

void patchRowCurve(int e, Vector3 row[4])
{
    for (int c = 0; c < 4; ++c) {
        const Vector3 column[4] = {controlNet[0][c], controlNet[1][c], controlNet[2][c],
                                   controlNet[3][c]};
        row[c] = weightedSum(cubicBasis, e, column);
    }
}

void normalRowCurve(int e, Vector3 row[3])
{
    for (int c = 0; c < 3; ++c) {
        const Vector3 column[3] = {normalNet[0][c], normalNet[1][c], normalNet[2][c]};
        row[c] = weightedSum(quadraticBasis, e, column);
    }
}

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

void computeStrip(int e, StripVertex* out)
{
    Vector3 pointsA[4], pointsB[4], normalsA[3], normalsB[3];
    patchRowCurve(e, pointsA);
    patchRowCurve(e + 1, pointsB);
    normalRowCurve(e, normalsA);
    normalRowCurve(e + 1, normalsB);

    const float tA = 1.0f - static_cast<float>(e) / GRID_STEPS;
    const float tB = 1.0f - static_cast<float>(e + 1) / GRID_STEPS;
    const bool relief = displacementAvailable();
    const TexelSpan rowA = texelSpan(tA), rowB = texelSpan(tB);
    for (int i = 0; i < GRID_SAMPLES; ++i) {
        const float s = static_cast<float>(i) / GRID_STEPS;
        const Vector3 nA = rowCurveNormal(normalsA, i), nB = rowCurveNormal(normalsB, i);
        Vector3 pA = rowCurvePoint(pointsA, i), pB = rowCurvePoint(pointsB, i);
        if (relief) {
            const TexelSpan column = texelSpan(s);
            pA = displaced(pA, nA, bilinear(rowA, column));
            pB = displaced(pB, nB, bilinear(rowB, column));
        }
        out[2 * i] = {s, tA, nA.x, nA.y, nA.z, pA.x, pA.y, pA.z};
        out[2 * i + 1] = {s, tB, nB.x, nB.y, nB.z, pB.x, pB.y, pB.z};
    }
}

void buildSurfaceList()
{
    if (!displacementAvailable()) {
        const int needed = DISPLACE_GRID_MAX + 1;
        if (displacePixels)
            std::fprintf(stderr, "%s: %d x %d is smaller than %d x %d; the surface is drawn without relief\n",
                         DISPLACE_FILE, displaceWidth, displaceHeight, needed, needed);
        else
            std::fprintf(stderr, "%s: not loaded; the surface is drawn without relief\n", DISPLACE_FILE);
    }

    surfaceList = glGenLists(1);
    glNewList(surfaceList, GL_COMPILE);
    glBindTexture(GL_TEXTURE_2D, colorTexture);

    std::vector<StripVertex> strip(STRIP_VERTICES);
    for (int e = 0; e < GRID_STEPS; ++e) {
        computeStrip(e, strip.data());
        glBegin(GL_TRIANGLE_STRIP);
        for (const StripVertex& v : strip) {
            glTexCoord2f(v.s, v.t);
            glNormal3f(v.nx, v.ny, v.nz);
            glVertex3f(v.x, v.y, v.z);
        }
        glEnd();
    }
    glEndList();
}
