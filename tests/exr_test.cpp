// OpenEXR files: the heights against the values written, the colour against
// ImageMagick's PNG of the same file, and damaged files each refused in one
// line, the library printing nothing.
#include "exr_decoder.h"
#include "image.h"
#include "png_decoder.h"
#include "support.h"

#include <ImfChannelList.h>
#include <ImfOutputFile.h>
#include <ImfTiledOutputFile.h>

namespace {

Bytes bytesOf(const std::string& path)
{
    const std::string text = readFile(path);
    return Bytes(text.begin(), text.end());
}

// The heights, bottom row first as read, or the one line of its refusal;
// and its pixels beside ImageMagick's 16-bit PNG as our PNG reader takes
// it to 8 bits. ImageMagick turns the linear colour to sRGB in 16 bits
// (asked: else it keeps it linear, marked gamma 1), so each channel may
// round to the next level: at most one level apart.
std::string heightsOf(const std::string& path, std::vector<float>& heights)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const Bytes bytes = bytesOf(path);
    const ImageRead exr = decodeImage(bytes.data(), bytes.size(), path.c_str());
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    if (!exr.pixels)
        return err;
    heights.assign(exr.heights.get(), exr.heights.get() + exr.width * exr.height);
    EXPECT_EQ(err, "");
    EXPECT_EQ(runCommand("convert " + path + " -colorspace sRGB shown.png").status, 0);
    const Bytes png = bytesOf("shown.png");
    const ImageRead shown = decodePng(png.data(), png.size(), false);
    for (int n = 0; n < exr.width * exr.height * 4; ++n)
        EXPECT_NEAR(exr.pixels[n], shown.pixels[n], 1) << "pixel " << n / 4 << " channel " << n % 4;
    return "";
}

TEST(Exr, HalfFilesOfImageMagickGiveTheirRedAsHeights)
{
    // 4 x 3: R n/16 for pixel n (half holds it exactly after ImageMagick's
    // 16 bits), G and B unlike it, A falling.
    enterTemporaryFolder(false);
    std::string pam = "P7\nWIDTH 4\nHEIGHT 3\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    std::vector<float> red;
    for (int n = 0; n < 12; ++n) {
        for (int s : {n * 4096, 65535 - n * 3000, n * 97, 65535 - n * 5000})
            pam += {char(s >> 8), char(s)};
        red.push_back(float(4 * (2 - n / 4) + n % 4) / 16);  // bottom row first
    }
    writeFile("source.pam", Bytes(pam.begin(), pam.end()));
    for (const std::string kind : {"-alpha off", "", "-channel R -separate -define exr:color-type=Y"})
        for (const std::string compression : {"none", "rle", "zip", "piz"}) {
            SCOPED_TRACE(kind + " " + compression);
            ASSERT_EQ(runCommand("convert source.pam " + kind + " -compress " + compression + " image.exr").status, 0);
            std::vector<float> heights;
            EXPECT_EQ(heightsOf("image.exr", heights), "");
            EXPECT_EQ(heights, red);
        }
}

}  // namespace
