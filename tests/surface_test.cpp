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

TEST(Surface, PassesKnownPointsAndNormals)
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

}

// An RGBA image of width x height whose red byte at (row, column) is
// red(row, column); the other channels hold noise, which must not count.
template <typename Red>
std::vector<unsigned char> rgbaImage(int width, int height, Red red)
{
    std::vector<unsigned char> image(size_t(width) * height * 4);
    for (size_t n = 0; n < image.size(); ++n)
        image[n] = n % 4 ? static_cast<unsigned char>(n * 2654435761u >> 13)
                         : red(int(n / 4 / size_t(width)), int(n / 4 % size_t(width)));
    return image;
}

unsigned char noise(int row, int column) { return static_cast<unsigned char>((row * 7919 + column) * 2654435761u >> 15); }

TEST(Surface, EveryVertexMovesAlongItsNormalByTheWholeImageAtAnySize)
{
    buildSurfaceTables();
    // The image spans the dome whole: column s (W - 1), row t (H - 1), so a
    // stripe three quarters across lifts the dome at s = 0.75. Images of
    // the grid's size and below are sampled as they are, the smallest too.
    std::vector<StripVertex> strip(STRIP_VERTICES);
    for (const auto& [width, height] : {std::pair{1024, 512}, {300, 200}, {2, 2}, {1, 1}}) {
        const bool stripe = width == 1024;
        const std::vector<unsigned char> image = rgbaImage(width, height, [stripe](int row, int column) {
            return stripe ? static_cast<unsigned char>(column >= 766 && column <= 769 ? 255 : noise(row, column) % 16)
                          : noise(row, column);
        });
        const Displacement heights{image.data(), nullptr, width, height};
        const std::function<float(int, int)> T = [&](int row, int col) {
            return image[4 * (size_t(row) * width + col)] / 255.0f;
        };
        const SurfaceHeights sampled = surfaceHeights(heights);
        int highest = 0;
        float most = -1;
        for (int e = 0; e < GRID_STEPS; ++e) {
            computeStrip(sampled, e, strip.data());
            for (int m = 0; m < STRIP_VERTICES; ++m) {
                const StripVertex expected = expectedVertex(e + m % 2, m / 2, T, 1, width, height);
                ASSERT_EQ(std::memcmp(&strip[m], &expected, sizeof expected), 0)
                    << width << " x " << height << ", strip " << e << ", vertex " << m;
                const float lift = strip[m].y - patchPoint(e + m % 2, m / 2).y;
                if (e == 512 && lift > most)
                    std::tie(most, highest) = std::pair{lift, m / 2};
            }
        }
        if (stripe) {
            EXPECT_NEAR(highest, 0.75 * GRID_STEPS, 2);
        }
    }
}

// The mean over each reduced texel's footprint, [j n / m, (j + 1) n / m) in
// texels, of a line of n texels, each constant over its own unit: its
// integral taken piece by piece, in double precision.
std::vector<double> boxFiltered(const std::vector<double>& line, size_t m)
{
    const size_t n = line.size();
    std::vector<double> means(m);
    for (size_t j = 0; j < m; ++j) {
        const double from = double(j) * n / m, to = double(j + 1) * n / m;
        double integral = 0;
        for (size_t k = size_t(from); k < n && double(k) < to; ++k)
            integral += line[k] * (std::min(to, k + 1.0) - std::max(from, double(k)));
        means[j] = integral / (to - from);
    }
    return means;
}

TEST(Surface, LargerImagesAreAveragedOverEachFootprintAtSixteenBits)
{
    // A side longer than the grid's 1025 samples becomes 1025 texels, each
    // the mean of its footprint: against the footprints' integrals taken
    // here, rows then columns, to the 16-bit rounding of the mean. Noise
    // leaves no mistaken weight hidden; 16-bit heights keep their 16 bits,
    // float heights (below 0 and above 1 too) their floats, to a float's
    // rounding of the mean, exactly where a side is not reduced.
    enum Kind { Bits8, Bits16, Floats };
    const std::tuple<int, int, Kind> sizes[] = {
        {3000, 1100, Bits16}, {1026, 1025, Bits8}, {700, 4100, Bits8}, {1500, 1030, Floats}, {300, 200, Floats}};
    for (const auto& [width, height, kind] : sizes) {
        const std::vector<unsigned char> image = rgbaImage(width, height, noise);
        std::vector<unsigned short> red16(size_t(width) * height);
        std::vector<float> floats(red16.size());
        std::vector<std::vector<double>> rows(height);
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) {
                const size_t n = size_t(r) * width + c;
                red16[n] = static_cast<unsigned short>(noise(c, r) << 8 | noise(r, c));
                floats[n] = (float(red16[n]) - 20000.0f) / 30000.7f;
                rows[r].push_back(kind == Floats ? floats[n] : kind == Bits16 ? red16[n] : image[4 * n] * 257.0);
            }
        const SurfaceHeights got = surfaceHeights({image.data(), kind == Bits16 ? red16.data() : nullptr, width,
                                                   height, 2.5f, kind == Floats ? floats.data() : nullptr});
        const size_t across = std::min(width, GRID_SAMPLES), down = std::min(height, GRID_SAMPLES);
        ASSERT_EQ(got.width * 10000 + got.height, int(across * 10000 + down));
        EXPECT_EQ(got.scale, 2.5f);
        std::vector<std::vector<double>> columns(across);
        for (const std::vector<double>& row : rows) {
            const std::vector<double> means = boxFiltered(row, across);
            for (size_t c = 0; c < across; ++c)
                columns[c].push_back(means[c]);
        }
        double worst = 0;
        for (size_t c = 0; c < across; ++c) {
            const std::vector<double> means = boxFiltered(columns[c], down);
            for (size_t r = 0; r < down; ++r)
                worst = std::max(worst, kind == Floats ? std::fabs(got.floats[r * across + c] - means[r]) * 0x1p24
                                                       : std::fabs(got.texels[r * across + c] - means[r]));
        }
        EXPECT_LE(worst, kind == Floats && width > GRID_SAMPLES ? 1.5 : kind == Floats ? 0 : 0.5 + 1e-6)
            << width << " x " << height;
        EXPECT_EQ(got.texels.empty(), kind == Floats);
    }

    // Detail finer than the grid averages out: a checkerboard of single
    // texels, 4096 a side, lifts every vertex by half of what white does,
    // not in a pattern.
    constexpr int side = 4096;
    const std::vector<unsigned char> board = rgbaImage(side, side, [](int row, int column) {
        return static_cast<unsigned char>((row + column) % 2 * 255);
    });
    const unsigned char white[4] = {255, 0, 0, 0};
    buildSurfaceTables();
    const std::vector<StripVertex> lifted = surfaceGrid({board.data(), nullptr, side, side});
    const std::vector<StripVertex> whole = surfaceGrid({white, nullptr, 1, 1});
    // A float height is taken as it is: -0.5 sinks by half what white lifts.
    const float sinking = -0.5f;
    const std::vector<StripVertex> sunk = surfaceGrid({white, nullptr, 1, 1, 1.0f, &sinking});
    double worst = 0;
    for (int e = 0; e < GRID_SAMPLES; ++e)
        for (int i = 0; i < GRID_SAMPLES; ++i) {
            const size_t n = size_t(e) * GRID_SAMPLES + i;
            const float base = patchPoint(e, i).y;
            worst = std::max(worst, std::fabs((lifted[n].y - base) / (whole[n].y - base) - 0.5));
            worst = std::max(worst, std::fabs((sunk[n].y - base) / (whole[n].y - base) + 0.5));
        }
    EXPECT_LT(worst, 0.005);
}
