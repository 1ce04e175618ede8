// The dome's arithmetic without GL: the weight tables, points and normals
// known by hand, and every vertex of all 1024 strips against a per-sample
// evaluation written here from the definitions, on a noisy height image.
#include "support.h"
#include "texture_pixels.h"

TEST(Surface, PassesKnownPointsAndMovesEveryVertexAlongItsNormal)
{
    buildSurfaceTables();
    // The top, and a quarter along the near border (weights 27, 27, 9, 1 / 64):
    // exact in single precision.
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
    const std::function<float(int, int)> T = [](int row, int col) {
        return displacePixels[4 * (row * displaceWidth + col)] / 255.0f;
    };
    std::vector<StripVertex> strip(STRIP_VERTICES);
    for (int width : {600, 511}) {  // 511: too narrow to sample, the plain dome
        useDisplacement(image.data(), width, 512);
        for (int e = 0; e < GRID_STEPS; ++e) {
            computeStrip(e, strip.data());
            for (int m = 0; m < STRIP_VERTICES; ++m) {
                const StripVertex expected = expectedVertex(e + m % 2, m / 2, width > 511 ? T : nullptr);
                ASSERT_EQ(std::memcmp(&strip[m], &expected, sizeof expected), 0)
                    << "image width " << width << ", strip " << e << ", vertex " << m;
            }
        }
    }
}
