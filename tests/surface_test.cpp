// The dome's arithmetic without GL: the weight tables, points and normals
// known by hand, and every vertex of all 1024 strips against a per-sample
// evaluation written here from the definitions, on a noisy height image.
#include "surface.h"
#include "textures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class Surface : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        buildBasisTables();
        buildControlNet();
        buildNormalNet();
    }
};

bool near(Vector3 a, Vector3 b, float tolerance)
{
    return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance && std::fabs(a.z - b.z) <= tolerance;
}

TEST_F(Surface, WeightsAreExactProductsRoundedOnce)
{
    for (int k = 0; k < GRID_SAMPLES; ++k) {
        const float t = k / 1024.0f, s = 1.0f - t, s2 = s * s, t2 = t * t;
        const float cubic[4] = {float(double(s2) * s), float(double(s2) * 3 * t), float(3.0 * s * t2),
                                float(double(t2) * t)};
        const float quadratic[3] = {s2, float(2.0 * s * t), t2};
        for (int j = 0; j < 4; ++j)
            ASSERT_EQ(cubicBasis[j][k], cubic[j]) << "cubic weight " << j << " at sample " << k;
        for (int j = 0; j < 3; ++j)
            ASSERT_EQ(quadraticBasis[j][k], quadratic[j]) << "quadratic weight " << j << " at sample " << k;
    }
}

TEST_F(Surface, NetsGiveTheDomesKnownPointsAndNormals)
{
    const float a = 0.485071f, b = 0.727607f, c = 0.951486f, d = 0.634324f;
    const Vector3 normals[3][3] = {
        {{-a, b, -a}, {0, c, -d}, {a, b, -a}},
        {{-d, c, 0}, {0, 1.175365f, 0}, {d, c, 0}},
        {{-a, b, a}, {0, c, d}, {a, b, a}},
    };
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
            EXPECT_TRUE(near(normalNet[r][col], normals[r][col], 1e-6f)) << r << ", " << col;
    // Corners, top, the middle of the near border, and a quarter along it
    // (weights 27, 27, 9, 1 / 64): all exact in single precision.
    EXPECT_TRUE(near(patchPoint(0, 0), {-2.5f, 0, -2.5f}, 0));
    EXPECT_TRUE(near(patchPoint(GRID_STEPS, GRID_STEPS), {2.5f, 0, 2.5f}, 0));
    EXPECT_TRUE(near(patchPoint(512, 512), {0, 2.0625f, 0}, 0));
    EXPECT_TRUE(near(patchPoint(0, 512), {0, 0.75f, -2.5f}, 0));
    EXPECT_TRUE(near(patchPoint(0, 256), {-1.296875f, 0.5625f, -2.5f}, 0));
    EXPECT_TRUE(near(patchNormal(512, 512), {0, c, 0}, 1e-6f));
}

// Single-precision sum of weight j at sample k times points[j], from j = 0 up.
template <int N>
Vector3 weighted(const float (&basis)[N][GRID_SAMPLES], int k, const Vector3* points)
{
    Vector3 sum = {0, 0, 0};
    for (int j = 0; j < N; ++j) {
        const float w = basis[j][k];
        sum = j == 0 ? Vector3{w * points[0].x, w * points[0].y, w * points[0].z}
                     : Vector3{sum.x + w * points[j].x, sum.y + w * points[j].y, sum.z + w * points[j].z};
    }
    return sum;
}

// The vertex of row sample e and column sample i: the patch point moved
// along the normal by a seventh of the bilinear height at (s, t).
StripVertex expectedVertex(int e, int i, bool relief)
{
    Vector3 points[4], normals[3];
    for (int c = 0; c < 4; ++c) {
        const Vector3 column[4] = {controlNet[0][c], controlNet[1][c], controlNet[2][c], controlNet[3][c]};
        points[c] = weighted(cubicBasis, e, column);
    }
    for (int c = 0; c < 3; ++c) {
        const Vector3 column[3] = {normalNet[0][c], normalNet[1][c], normalNet[2][c]};
        normals[c] = weighted(quadraticBasis, e, column);
    }
    const Vector3 p = weighted(cubicBasis, i, points), n = weighted(quadraticBasis, i, normals);
    const float s = i / 1024.0f, t = 1.0f - e / 1024.0f;
    if (!relief)
        return {s, t, n.x, n.y, n.z, p.x, p.y, p.z};
    auto T = [](int row, int col) { return displacePixels[4 * (row * displaceWidth + col)] / 255.0f; };
    const float x = s * 511, y = t * 511;
    const int col = int(x), row = int(y);
    const int col1 = col < 511 ? col + 1 : col, row1 = row < 511 ? row + 1 : row;
    const float fx = x - col, fy = y - row;
    const float d = (1 - fy) * (T(row, col1) * fx + T(row, col) * (1 - fx)) +
                    fy * (T(row1, col1) * fx + T(row1, col) * (1 - fx));
    const float k = d / 7;
    return {s, t, n.x, n.y, n.z, p.x + k * n.x, p.y + k * n.y, p.z + k * n.z};
}

void expectEveryVertex(bool relief)
{
    std::vector<StripVertex> strip(STRIP_VERTICES);
    for (int e = 0; e < GRID_STEPS; ++e) {
        computeStrip(e, strip.data());
        for (int m = 0; m < STRIP_VERTICES; ++m) {
            const StripVertex expected = expectedVertex(e + m % 2, m / 2, relief);
            ASSERT_EQ(std::memcmp(&strip[m], &expected, sizeof expected), 0) << "strip " << e << " vertex " << m;
        }
    }
}

TEST_F(Surface, EveryVertexIsThePatchMovedAlongItsNormal)
{
    // 600 pixels wide, wider than the sampled 512: rows are addressed with
    // the image's own width. Only the red byte counts.
    std::vector<unsigned char> image(600 * 512 * 4);
    for (size_t n = 0; n < image.size(); ++n)
        image[n] = static_cast<unsigned char>(n * 2654435761u >> 13);
    displacePixels = image.data();
    displaceWidth = 600;
    displaceHeight = 512;
    expectEveryVertex(true);

    // Too narrow to sample: the plain dome.
    displaceWidth = 511;
    expectEveryVertex(false);
    displacePixels = nullptr;
}

}  // namespace
