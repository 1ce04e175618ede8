// The relief, without GL: how the displacement image is sampled and how far
// each vertex moves along its normal.
#include "reference_strip.h"
#include "surface.h"
#include "textures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Installs a width x height displacement image whose red bytes come from
// redAt(row, column), and removes it again after each test.
class DisplacementTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        buildBasisTables();
        buildControlNet();
        buildNormalNet();
    }

    void TearDown() override { install(0, 0, nullptr); }

    template <typename RedAt>
    void install(int width, int height, RedAt redAt)
    {
        image.assign(size_t(width) * height * 4, 0);
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) {
                unsigned char* p = &image[(size_t(r) * width + c) * 4];
                p[0] = static_cast<unsigned char>(redAt(r, c));
                p[1] = 77;  // only red is read
                p[2] = 200;
                p[3] = 255;
            }
        displacePixels = width > 0 ? image.data() : nullptr;
        displaceWidth = width;
        displaceHeight = height;
    }

    void install(int width, int height, std::nullptr_t)
    {
        install(width, height, [](int, int) { return 0; });
    }

    std::vector<unsigned char> image;
};

std::vector<StripVertex> strip(int e)
{
    std::vector<StripVertex> vertices(STRIP_VERTICES);
    computeStrip(e, vertices.data());
    return vertices;
}

Vector3 position(const StripVertex& v) { return {v.x, v.y, v.z}; }

// Row sample of each vertex of a strip: A on row e, B on row e + 1.
int rowOf(int e, int vertex) { return e + vertex % 2; }

TEST_F(DisplacementTest, BlackImageLeavesThePatchAndWhiteMovesBySeventhOfNormal)
{
    install(512, 512, [](int, int) { return 0; });
    for (int e : {0, 300, 511, 1023}) {
        const std::vector<StripVertex> black = strip(e);
        for (int n = 0; n < STRIP_VERTICES; ++n) {
            const Vector3 p = patchPoint(rowOf(e, n), n / 2);
            ASSERT_EQ(black[n].x, p.x);
            ASSERT_EQ(black[n].y, p.y);
            ASSERT_EQ(black[n].z, p.z);
        }
    }

    install(512, 512, [](int, int) { return 255; });
    for (int e : {0, 300, 511, 1023}) {
        const std::vector<StripVertex> white = strip(e);
        for (int n = 0; n < STRIP_VERTICES; n += 7) {
            const Vector3 p = patchPoint(rowOf(e, n), n / 2);
            const StripVertex& v = white[n];
            // The issued normal stays the patch's; the position moves along it.
            EXPECT_NEAR(v.x - p.x, v.nx / 7, 1e-6);
            EXPECT_NEAR(v.y - p.y, v.ny / 7, 1e-6);
            EXPECT_NEAR(v.z - p.z, v.nz / 7, 1e-6);
        }
    }
    const std::vector<StripVertex> middle = strip(512);
    EXPECT_NEAR(middle[2 * 512].y - 2.0625f, 0.951486f / 7, 1e-6);  // top: 0.1359
    const StripVertex corner = strip(0).front();
    const float moved = std::hypot(corner.x + 2.5f, corner.y, corner.z + 2.5f);
    EXPECT_NEAR(moved, 1.0f / 7, 1e-6);  // corner normal is unit: 0.1429
}

TEST_F(DisplacementTest, ImageEdgesAndFractions)
{
    // Distinct bytes in the texels the edge samples read.
    auto red = [](int r, int c) {
        if (r == 511 && c == 0) return 255;
        if (r == 510 && c == 0) return 0;
        return (r * 31 + c * 17) % 256;
    };
    install(512, 512, red);
    auto T = [&](int r, int c) { return float(red(r, c)) / 255.0f; };

    EXPECT_EQ(sampleDisplacement(0, 0), T(0, 0));        // v = 0 reads row 0
    EXPECT_EQ(sampleDisplacement(1, 0), T(0, 511));      // u = 1 reads column 511, fx 0
    EXPECT_EQ(sampleDisplacement(0, 1), T(511, 0));      // v = 1 reads row 511, fy 0
    EXPECT_EQ(sampleDisplacement(1, 1), T(511, 511));
    // u = 2/1024: x = 0.998046875, between columns 0 and 1 of row 0.
    const float fx = 0.998046875f;
    EXPECT_EQ(sampleDisplacement(2 / 1024.0f, 0), T(0, 1) * fx + T(0, 0) * (1 - fx));
    // Row 511 and column 511 are never exceeded, even where the row above
    // would be: the clamp keeps row1 = row.
    EXPECT_EQ(sampleDisplacement(1023 / 1024.0f, 1), T(511, 511) * 0.5009765625f + T(511, 510) * (1 - 0.5009765625f));

    // First vertex of the list: the corner control point moved by the unit
    // corner normal times T(511, 0) / 7 = 1/7.
    const std::vector<StripVertex> first = strip(0);
    EXPECT_EQ(first[0].x, -2.5f + normalNet[0][0].x * (1.0f / 7));
    EXPECT_EQ(first[0].y, 0.0f + normalNet[0][0].y * (1.0f / 7));
    EXPECT_EQ(first[0].z, -2.5f + normalNet[0][0].z * (1.0f / 7));
    // Its partner B, v = 1023/1024: row 510, row1 511, fy = 0.5009765625, so
    // d = 0.4990234375 * 0 + 0.5009765625 * 1.
    const float fy = 0.5009765625f;
    EXPECT_EQ(sampleDisplacement(0, 1023 / 1024.0f), fy);
    const Vector3 p = patchPoint(1, 0), n = patchNormal(1, 0);
    EXPECT_EQ(first[1].x, p.x + n.x * (fy / 7));
    EXPECT_EQ(first[1].y, p.y + n.y * (fy / 7));
    EXPECT_EQ(first[1].z, p.z + n.z * (fy / 7));

    // A general sample against the bilinear formula in double precision.
    const double x = 700 / 1024.0 * 511, y = 300 / 1024.0 * 511;
    const int c = int(x), r = int(y);
    const double ax = x - c, ay = y - r;
    const double expected = (1 - ay) * (T(r, c + 1) * ax + T(r, c) * (1 - ax)) +
                            ay * (T(r + 1, c + 1) * ax + T(r + 1, c) * (1 - ax));
    EXPECT_NEAR(sampleDisplacement(700 / 1024.0f, 300 / 1024.0f), expected, 1e-6);
}

TEST_F(DisplacementTest, StripsMeetWithoutGaps)
{
    install(512, 512, [](int r, int c) { return (r * 7919 + c * 104729 + r * c) % 251; });
    std::vector<StripVertex> previous = strip(0);
    for (int e = 1; e < GRID_STEPS; ++e) {
        const std::vector<StripVertex> current = strip(e);
        for (int i = 0; i < GRID_SAMPLES; ++i)
            ASSERT_EQ(std::memcmp(&previous[2 * i + 1], &current[2 * i], sizeof(StripVertex)), 0)
                << "strip " << e - 1 << " and " << e << " at column " << i;
        previous = current;
    }
}

TEST_F(DisplacementTest, ImageOfAnotherSizeIsAddressedByItsOwnWidth)
{
    // Wider than the other images: rows are 600 pixels long, and the last
    // byte read is inside the buffer (AddressSanitizer would catch it).
    install(600, 512, [](int r, int c) { return c < 512 ? r % 256 : 0; });
    ASSERT_TRUE(displacementAvailable());
    // Row 511 holds 255 in its first 512 columns; read with 512-pixel rows
    // these lookups would land in row 436.
    EXPECT_EQ(sampleDisplacement(0, 1), 1.0f);
    EXPECT_EQ(sampleDisplacement(1, 1), 1.0f);
    strip(0);
    strip(GRID_STEPS - 1);

    // Smaller than the sampled grid, or missing: no relief at all.
    for (int size : {0, 256, 511}) {
        install(size, 512, [](int, int) { return 255; });
        EXPECT_FALSE(displacementAvailable()) << size;
        const std::vector<StripVertex> flat = strip(700);
        for (int n = 0; n < STRIP_VERTICES; n += 101) {
            const Vector3 p = patchPoint(rowOf(700, n), n / 2);
            EXPECT_EQ(position(flat[n]).y, p.y);
            EXPECT_EQ(position(flat[n]).x, p.x);
        }
    }
}

TEST_F(DisplacementTest, EveryVertexMatchesThePerSampleReference)
{
    // The strip loop runs on tables and several columns at a time; each vertex
    // must still carry the bits of the straightforward evaluation, with and
    // without relief.
    std::vector<StripVertex> fast(STRIP_VERTICES), reference(STRIP_VERTICES);
    auto noise = [](int r, int c) { return (r * 7919 + c * 104729 + r * c) % 256; };
    for (const char* image : {"black", "noisy", "missing"}) {
        if (image[0] == 'b')
            install(512, 512, nullptr);
        else if (image[0] == 'n')
            install(512, 512, noise);
        else
            install(0, 0, nullptr);
        for (int e = 0; e < GRID_STEPS; ++e) {
            computeStrip(e, fast.data());
            referenceStrip(e, reference.data());
            for (int n = 0; n < STRIP_VERTICES; ++n)
                ASSERT_EQ(std::memcmp(&fast[n], &reference[n], sizeof(StripVertex)), 0)
                    << image << " image, strip " << e << " vertex " << n;
        }
    }
}

}  // namespace
