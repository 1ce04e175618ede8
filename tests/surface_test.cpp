// The dome's arithmetic, without GL: weight tables, the two nets, patch
// points, normals and whole strips.
#include "surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class SurfaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        buildBasisTables();
        buildControlNet();
        buildNormalNet();
    }
};

void expectExactly(Vector3 actual, Vector3 expected)
{
    EXPECT_EQ(actual.x, expected.x);
    EXPECT_EQ(actual.y, expected.y);
    EXPECT_EQ(actual.z, expected.z);
}

void expectNear(Vector3 actual, Vector3 expected, float tolerance)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

bool sameBits(const StripVertex& a, const StripVertex& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

float length(Vector3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

TEST_F(SurfaceTest, BasisTablesAtEndsAndMiddle)
{
    const float cubic[3][4] = {{1, 0, 0, 0}, {0.125f, 0.375f, 0.375f, 0.125f}, {0, 0, 0, 1}};
    const float quadratic[3][3] = {{1, 0, 0}, {0.25f, 0.5f, 0.25f}, {0, 0, 1}};
    const int samples[3] = {0, 512, 1024};
    for (int n = 0; n < 3; ++n) {
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(cubicBasis[j][samples[n]], cubic[n][j]) << "cubic " << j << " at " << samples[n];
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(quadraticBasis[j][samples[n]], quadratic[n][j])
                << "quadratic " << j << " at " << samples[n];
    }
}

TEST_F(SurfaceTest, WeightsOfEverySampleSumToOne)
{
    const float ulp = std::nextafter(1.0f, 2.0f) - 1.0f;
    for (int k = 0; k < GRID_SAMPLES; ++k) {
        const double cubic = double(cubicBasis[0][k]) + cubicBasis[1][k] + cubicBasis[2][k] + cubicBasis[3][k];
        const double quadratic = double(quadraticBasis[0][k]) + quadraticBasis[1][k] + quadraticBasis[2][k];
        EXPECT_NEAR(cubic, 1.0, 2 * ulp) << "sample " << k;
        EXPECT_NEAR(quadratic, 1.0, 2 * ulp) << "sample " << k;
        for (int j = 0; j < 4; ++j)
            EXPECT_GE(cubicBasis[j][k], 0.0f);
    }
}

TEST_F(SurfaceTest, WeightsAreExactProductsRoundedOnce)
{
    // A sample where s^2 is not exact in single precision: the cubic weights
    // must come from the rounded s^2, multiplied exactly and rounded once.
    const int k = 333;
    const float t = k / 1024.0f, s = 1.0f - t, s2 = s * s, t2 = t * t;
    EXPECT_EQ(cubicBasis[0][k], static_cast<float>(double(s2) * s));
    EXPECT_EQ(cubicBasis[1][k], static_cast<float>(double(s2) * 3.0 * t));
    EXPECT_EQ(cubicBasis[2][k], static_cast<float>(3.0 * s * double(t2)));
    EXPECT_EQ(cubicBasis[3][k], static_cast<float>(double(t2) * t));
}

TEST_F(SurfaceTest, NormalNetMatchesTheDome)
{
    const float a = 0.485071f, b = 0.727607f, c = 0.951486f, d = 0.634324f;
    const Vector3 expected[3][3] = {
        {{-a, b, -a}, {0, c, -d}, {a, b, -a}},
        {{-d, c, 0}, {0, 1.175365f, 0}, {d, c, 0}},
        {{-a, b, a}, {0, c, d}, {a, b, a}},
    };
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
            expectNear(normalNet[r][col], expected[r][col], 1e-6f);
    for (int r = 0; r < 3; r += 2)
        for (int col = 0; col < 3; col += 2)
            EXPECT_NEAR(length(normalNet[r][col]), 1.0f, 1e-6f);
}

TEST_F(SurfaceTest, PatchPassesThroughCornersAndKnownPoints)
{
    expectExactly(patchPoint(0, 0), controlNet[0][0]);
    expectExactly(patchPoint(0, GRID_STEPS), controlNet[0][3]);
    expectExactly(patchPoint(GRID_STEPS, 0), controlNet[3][0]);
    expectExactly(patchPoint(GRID_STEPS, GRID_STEPS), controlNet[3][3]);
    expectExactly(patchPoint(512, 512), {0.0f, 2.0625f, 0.0f});
    expectExactly(patchPoint(0, 512), {0.0f, 0.75f, -2.5f});
    // Column samples run along x, row samples along z.
    EXPECT_LT(patchPoint(0, 100).x, patchPoint(0, 101).x);
    EXPECT_LT(patchPoint(100, 0).z, patchPoint(101, 0).z);
}

TEST_F(SurfaceTest, NormalsAtCornersCentreAndEverywhereUpward)
{
    expectExactly(patchNormal(0, 0), normalNet[0][0]);
    expectExactly(patchNormal(0, GRID_STEPS), normalNet[0][2]);
    expectExactly(patchNormal(GRID_STEPS, 0), normalNet[2][0]);
    expectExactly(patchNormal(GRID_STEPS, GRID_STEPS), normalNet[2][2]);
    expectNear(patchNormal(512, 512), {0.0f, 0.951486f, 0.0f}, 1e-6f);
    for (int e = 0; e < GRID_SAMPLES; e += 31)
        for (int i = 0; i < GRID_SAMPLES; i += 29)
            EXPECT_GE(patchNormal(e, i).y, 0.727607f - 1e-6f) << e << ", " << i;
}

TEST_F(SurfaceTest, StripsMatchPointwiseEvaluationAndShareRows)
{
    std::vector<StripVertex> strip(STRIP_VERTICES), next(STRIP_VERTICES);
    for (int e = 0; e + 1 < GRID_STEPS; e += 97) {
        computeStrip(e, strip.data());
        computeStrip(e + 1, next.data());
        for (int i = 0; i < GRID_SAMPLES; ++i) {
            const StripVertex& a = strip[2 * i];
            const StripVertex& b = strip[2 * i + 1];
            EXPECT_TRUE(sameBits(b, next[2 * i])) << "strip " << e << " column " << i;

            const Vector3 p = patchPoint(e, i), n = patchNormal(e, i);
            const StripVertex expected = {i / 1024.0f, 1.0f - e / 1024.0f, n.x, n.y, n.z, p.x, p.y, p.z};
            ASSERT_TRUE(sameBits(a, expected)) << "strip " << e << " column " << i;
            ASSERT_EQ(b.t, 1.0f - (e + 1) / 1024.0f);
        }
    }
}

TEST_F(SurfaceTest, FirstAndLastVertexOfTheSurface)
{
    std::vector<StripVertex> strip(STRIP_VERTICES);
    computeStrip(0, strip.data());
    EXPECT_EQ(strip.front().s, 0.0f);
    EXPECT_EQ(strip.front().t, 1.0f);
    expectExactly({strip.front().x, strip.front().y, strip.front().z}, controlNet[0][0]);

    computeStrip(GRID_STEPS - 1, strip.data());
    EXPECT_EQ(strip.back().s, 1.0f);
    EXPECT_EQ(strip.back().t, 0.0f);
    expectExactly({strip.back().x, strip.back().y, strip.back().z}, controlNet[3][3]);
}

}  // namespace
