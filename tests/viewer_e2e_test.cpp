// The real program, started in a folder of images written by ImageMagick:
// what it prints and what its window shows.
#include "viewer_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

constexpr int SIZE = 700;

// Writes the three images into dir/texture: a plain green colour image (so
// texturing is visible channel by channel), the given displacement image
// and a flat normal image.
bool writeImages(const std::string& dir, const std::string& displacement)
{
    const std::string texture = dir + "/texture";
    // Sizes given in `displacement` override the 512 x 512 default.
    const std::string tga = " -type TrueColor -depth 8 -compress None ";
    return shell("mkdir -p " + texture) &&
           shell("convert -size 512x512 xc:lime" + tga + texture + "/color.tga") &&
           shell("convert -size 512x512 " + displacement + tga + texture + "/displace.tga") &&
           shell("convert -size 512x512 'xc:rgb(128,128,255)'" + tga + texture + "/normal.tga");
}

const unsigned char* at(const ViewerRun& run, int x, int y)
{
    return &run.frame[(size_t(y) * SIZE + x) * 3];
}

bool white(const ViewerRun& run, int x, int y)
{
    const unsigned char* p = at(run, x, y);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

const std::string SIX_LINES =
    "[Texture Loading] : texture/color.tga\nwidth: 512, height: 512\n"
    "[Texture Loading] : texture/displace.tga\nwidth: 512, height: 512\n"
    "[Texture Loading] : texture/normal.tga\nwidth: 512, height: 512\n";

// A noisy height field, 600 x 512; its left 512 columns are the relief image.
const std::string NOISE = "-seed 7 plasma:black-white";

TEST(ViewerEndToEnd, PrintsItsSixLinesAndDrawsTexturedRelief)
{
    const std::string flatDir = makeTempDir(), reliefDir = makeTempDir();
    ASSERT_TRUE(writeImages(flatDir, "xc:black"));
    ASSERT_TRUE(writeImages(reliefDir, "-size 600x512 " + NOISE + " -crop 512x512+0+0 +repage"));

    const ViewerRun flat = runViewer(flatDir, 1.0, true);
    const ViewerRun relief = runViewer(reliefDir, 1.0, true);
    for (const ViewerRun* run : {&flat, &relief}) {
        EXPECT_TRUE(run->stillRunning);
        EXPECT_EQ(run->out, SIX_LINES);
        EXPECT_EQ(run->err, "");
        ASSERT_EQ(run->frame.size(), size_t(SIZE) * SIZE * 3);
    }

    // Background where the dome never reaches: the corners and below its base.
    for (const ViewerRun* run : {&flat, &relief})
        for (int x : {0, 200, 350, 500, 699})
            for (int y : {0, 150, 300, 699})
                EXPECT_TRUE(white(*run, x, y)) << x << ", " << y;

    // The lit surface times a green texture: no red or blue on the dome.
    int dome = 0, differing = 0;
    for (int y = 420; y < 520; ++y)
        for (int x = 150; x < 550; ++x) {
            if (white(flat, x, y))
                continue;
            ++dome;
            const unsigned char* p = at(flat, x, y);
            const unsigned char* q = at(relief, x, y);
            ASSERT_EQ(p[0], 0) << x << ", " << y;
            ASSERT_EQ(p[2], 0) << x << ", " << y;
            differing += p[1] != q[1];
        }
    EXPECT_GT(dome, 10000);
    // The relief changes how most of the dome is lit.
    EXPECT_GT(differing, dome / 4) << differing << " of " << dome;

    // A displacement image wider than the others is read with its own row
    // length: only its left 512 columns count, so the picture is the same.
    const std::string wideDir = makeTempDir();
    ASSERT_TRUE(writeImages(wideDir, "-size 600x512 " + NOISE));
    const ViewerRun wide = runViewer(wideDir, 1.0, true);
    EXPECT_EQ(wide.err, "");
    EXPECT_TRUE(wide.frame == relief.frame);

    // One too small to sample: said once, and the dome drawn without relief,
    // exactly as with a black image.
    const std::string smallDir = makeTempDir();
    ASSERT_TRUE(writeImages(smallDir, "-size 256x256 " + NOISE));
    const ViewerRun small = runViewer(smallDir, 1.0, true);
    EXPECT_TRUE(small.stillRunning);
    EXPECT_EQ(small.err, "texture/displace.tga: 256 x 256 is smaller than 512 x 512; the surface is drawn without relief\n");
    EXPECT_TRUE(small.frame == flat.frame);

    for (const std::string& dir : {flatDir, reliefDir, wideDir, smallDir})
        std::filesystem::remove_all(dir);
}

}  // namespace
