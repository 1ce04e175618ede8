// The image reader without GL: files ImageMagick writes, odd but valid
// hand-made files, and a table of malformed ones with the reason each gets.
#include "support.h"
#include "tga.h"

#include <gtest/gtest.h>

#include <sys/resource.h>  // Required for: setrlimit()
#include <unistd.h>        // Required for: _exit()

#include <algorithm>
#include <memory>

namespace {

// The pixels loadTga returned, as many as the size it published says.
std::string load(const std::string& path)
{
    std::unique_ptr<PixelBuffer[]> pixels(loadTga(path.c_str()));
    return pixels ? std::string(pixels.get(), pixels.get() + imageWidth * imageHeight * 4) : "refused";
}

TEST(Tga, ReadsWhatImageMagickWritesAsImageMagickDoes)
{
    enterTemporaryFolder(false);
    // 129 pixels wide: run-length packets of at most 128 cross the rows.
    for (const auto& [width, height] : {std::make_pair(3, 5), std::make_pair(129, 2)}) {
        std::string pam = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                          "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (int n = 0; n < width * height * 4; ++n)  // every third row one colour, for runs
            pam += char(n / width / 4 % 3 ? n * 37 : n % 4 * 50 + n / width / 4);
        writeFile("source.pam", Bytes(pam.begin(), pam.end()));
        for (const std::string kind : {"-type TrueColor", "-type TrueColorAlpha -set comment an-ID-field"})
            for (const std::string options : {"", " -orient TopLeft", " -compress RLE", " -orient TopLeft -compress RLE"}) {
                SCOPED_TRACE(kind + options);
                ASSERT_EQ(runCommand("convert source.pam " + kind + options + " image.tga").status, 0);
                // ImageMagick shows the top row first; ours stay in file order.
                std::string expected = runCommand("convert image.tga -auto-orient rgba:-").out;
                const size_t row = size_t(width) * 4;
                for (int y = 0; y < height / 2 && !(readFile("image.tga")[17] & 0x20); ++y)
                    std::swap_ranges(expected.begin() + y * row, expected.begin() + (y + 1) * row, expected.end() - (y + 1) * row);
                testing::internal::CaptureStdout();
                EXPECT_EQ(load("image.tga"), expected);
                EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Texture Loading] : image.tga\nwidth: " +
                                                                     std::to_string(width) + ", height: " + std::to_string(height) + "\n");
            }
    }
}

TEST(Tga, ReadsOddButValidFiles)
{
    enterTemporaryFolder(false);
    Bytes mapped = tgaHeader(2, 2, 1, 32);
    mapped[0] = 3;  // an ID field, and a colour map of two 24-bit entries that true colour does not use
    mapped[1] = 1;
    mapped[5] = 2;
    mapped[7] = 24;
    const std::pair<Bytes, Bytes> files[] = {
        {mapped + Bytes{'I', 'D', '!', 9, 9, 9, 9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8}, {3, 2, 1, 4, 7, 6, 5, 8}},
        {tgaHeader(10, 0, 7, 24), {}},
        {tgaHeader(2, 9, 0, 32), {}},
    };
    for (const auto& [file, pixels] : files) {
        writeFile("odd.tga", file);
        EXPECT_EQ(load("odd.tga"), std::string(pixels.begin(), pixels.end()));
    }
}

TEST(Tga, MalformedFilesAreRefusedWithTheirReason)
{
    enterTemporaryFolder(false);
    const Bytes valid = tgaHeader(2, 4, 3, 24) + Bytes(36, 0x55), runLength = tgaHeader(10, 4, 3, 24);
    auto with = [](Bytes bytes, size_t at, unsigned char value) {
        bytes[at] = value;
        return bytes;
    };
    const std::pair<Bytes, std::string> files[] = {
        {Bytes(valid.begin(), valid.begin() + 17), "header cut short (17 of 18 bytes)"},
        {Bytes(valid.begin(), valid.end() - 1), "pixel data cut short (35 of 36 bytes)"},
        {tgaHeader(2, 65535, 65535, 32), "pixel data cut short (0 of 17179344900 bytes)"},
        {tgaHeader(10, 65535, 65535, 24) + Bytes{0xff, 1, 2, 3}, "run-length data cut short (4 bytes cannot hold 4294836225 pixels)"},
        {with(valid, 16, 16), "16-bit pixels are not supported (only 24 and 32)"},
        {with(valid, 2, 1), "colour-mapped images (type 1) are not supported"},
        {with(valid, 2, 11), "grey-scale images (type 11) are not supported"},
        {with(valid, 2, 32), "image type 32 is not supported (only 2 and 10, true colour)"},
        {with(valid, 1, 2), "colour-map type 2 is not supported"},
        {with(tgaHeader(2, 0, 0, 24), 0, 10), "ID field or colour map cut short (18 of 28 bytes)"},
        {runLength + Bytes{0x83, 1, 2, 3}, "run-length data ends at pixel 4 of 12"},
        {runLength + Bytes{0x83, 1, 2, 3, 0x87, 1, 2}, "run-length packet at byte 22 runs past the end of the file"},
        {runLength + Bytes{0x89, 1, 2, 3, 0x82, 1, 2, 3}, "run-length packet at byte 22 runs past the image"},
    };
    for (const auto& [bytes, reason] : files) {
        writeFile("bad.tga", bytes);
        imageWidth = imageHeight = 7;
        testing::internal::CaptureStderr();
        EXPECT_EQ(load("bad.tga"), "refused");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "bad.tga: " + reason + "\n");
        EXPECT_EQ(imageWidth * imageHeight, 49) << reason << ": a refused file leaves the size alone";
    }
}

#if !defined(__SANITIZE_ADDRESS__)
// Enough run-length packets for the largest image, decoded under an
// address-space limit far below its 17 GB of pixels.
TEST(TgaDeathTest, AllocationFailureIsReported)
{
    Bytes file = tgaHeader(10, 65535, 65535, 24);
    file.resize(18 + size_t(65535) * 65535 / 128 * 4 + 4, 0xff);
    const auto decode = [&] {
        const rlimit limit = {rlim_t(4) << 30, rlim_t(4) << 30};
        setrlimit(RLIMIT_AS, &limit);
        _exit(decodeTga(file.data(), file.size(), "huge.tga") ? 1 : 0);  // no exit handlers: the folders are the parent's
    };
    EXPECT_EXIT(decode(), testing::ExitedWithCode(0), "huge.tga: not enough memory for 65535 x 65535 pixels");
}
#endif

}  // namespace
