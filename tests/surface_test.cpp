// The dome's arithmetic without GL: points and normals known by hand, every
// point and normal of the grid against de Casteljau's construction of the
// nets, and every vertex of all 1024 strips against that point moved along
// that normal by the bilinear height written here, on a noisy height image.
#include "support.h"

#include <cfloat>

using Point = std::array<double, 3>;

// A Bezier curve at t by de Casteljau's construction, in double precision:
// each point replaced by the one a fraction t of the way to its next, until
// one is left. No Bernstein weight appears.
template <size_t N>
Point deCasteljau(std::array<Point, N> p, double t)
{
    for (size_t n = N - 1; n > 0; --n)
        for (size_t k = 0; k < n; ++k)
            for (size_t c = 0; c < 3; ++c)
                p[k][c] += t * (p[k + 1][c] - p[k][c]);
    return p[0];
}

// patch at every grid sample (row sample e, column sample i) against the
// construction on each row of net at i / 1024, then on those points at
// e / 1024, where the surface sums its columns first. Each of its two float
// sums rounds at most N + 1 times (a weight, the products, N - 1 additions),
// each time by at most half an ulp of the net's largest coordinate: within
// (N + 1) x FLT_EPSILON x largest in all.
template <size_t N>
void expectDeCasteljau(const Vector3 (&net)[N][N], Vector3 (*patch)(int, int))
{
    std::array<std::array<Point, N>, N> rows;
    double largest = 0;
    for (size_t r = 0; r < N; ++r)
        for (size_t c = 0; c < N; ++c) {
            rows[r][c] = {net[r][c].x, net[r][c].y, net[r][c].z};
            for (double x : rows[r][c])
                largest = std::max(largest, std::fabs(x));
        }
    for (int e = 0; e <= GRID_STEPS; ++e)
        for (int i = 0; i <= GRID_STEPS; ++i) {
            std::array<Point, N> column;
            for (size_t r = 0; r < N; ++r)
                column[r] = deCasteljau(rows[r], i / 1024.0);
            const Point p = deCasteljau(column, e / 1024.0);
            const Vector3 got = patch(e, i);
            const double off = std::max({std::fabs(got.x - p[0]), std::fabs(got.y - p[1]), std::fabs(got.z - p[2])});
            ASSERT_LE(off, (N + 1) * FLT_EPSILON * largest) << "sample " << e << ", " << i;
        }
}

TEST(Surface, PointsAndNormalsAreDeCasteljausOfTheNets)
{
    buildSurfaceTables();
    expectDeCasteljau(controlNet, patchPoint);
    expectDeCasteljau(normalNet, patchNormal);
}

TEST(Surface, PassesKnownPointsAndMovesEveryVertexAlongItsNormal)
{
    buildSurfaceTables();
    // The nets themselves, which the construction above takes as they are:
    // the top, and a quarter along the near border (weights 27, 27, 9, 1 over
    // 64), exact in single precision.
    EXPECT_TRUE(near(patchPoint(512, 512), {0, 2.0625f, 0}, 0));
    EXPECT_TRUE(near(patchPoint(0, 256), {-1.296875f, 0.5625f, -2.5f}, 0));
    // The unit normal of the corner, and the shorter one at the top that the
    // edge and centre entries of the normal net give.
    EXPECT_TRUE(near(patchNormal(0, GRID_STEPS), {0.485071f, 0.727607f, -0.485071f}, 1e-6f));
    EXPECT_TRUE(near(patchNormal(512, 512), {0, 0.951486f, 0}, 1e-6f));

    // 600 pixels wide, wider than the sampled 512: rows are addressed with
    // the image's own width. Only the red byte counts.
    std::vector<unsigned char> image(600 * 512 * 4);
    for (size_t n = 0; n < image.size(); ++n)
        image[n] = static_cast<unsigned char>(n * 2654435761u >> 13);
    Displacement heights{image.data(), nullptr, 0, 512};
    const std::function<float(int, int)> T = [&heights](int row, int col) {
        return heights.pixels[4 * (row * heights.width + col)] / 255.0f;
    };
    std::vector<StripVertex> strip(STRIP_VERTICES);
    for (int width : {600, 511}) {  // 511: too narrow to sample, the plain dome
        heights.width = width;
        for (int e = 0; e < GRID_STEPS; ++e) {
            computeStrip(heights, e, strip.data());
            for (int m = 0; m < STRIP_VERTICES; ++m) {
                const StripVertex expected = expectedVertex(e + m % 2, m / 2, width > 511 ? T : nullptr);
                ASSERT_EQ(std::memcmp(&strip[m], &expected, sizeof expected), 0)
                    << "image width " << width << ", strip " << e << ", vertex " << m;
            }
        }
    }
}
