// The image reader without GL: files ImageMagick writes, against its own
// decoding, and one table of hand-made files, each read or refused with the
// reason it gets.
#include "support.h"
#include "tga.h"

namespace {

// The pixels loadTga returned, as many as the size it published says.
std::string load(const std::string& path)
{
    std::unique_ptr<PixelBuffer[]> pixels(loadTga(path.c_str()));
    return pixels ? std::string(pixels.get(), pixels.get() + imageWidth * imageHeight * 4) : "refused";
}

TEST(Tga, ReadsWhatImageMagickWritesAsImageMagickDoes)
{
    // 129 x 3, flat rows among varied ones: run-length packets of at most
    // 128 pixels repeat and cross the rows.
    enterTemporaryFolder(false);
    std::string pam = "P7\nWIDTH 129\nHEIGHT 3\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (int n = 0; n < 129 * 3 * 4; ++n)
        pam += char(n < 129 * 4 ? n % 4 * 50 : n * 37);
    writeFile("source.pam", Bytes(pam.begin(), pam.end()));
    // True colour of 24 and 32 bits, grey-scale, and colour-mapped from a
    // palette PNG; each with its image type.
    const std::pair<std::string, int> kinds[] = {
        {"convert source.pam -type TrueColor", 2}, {"convert source.pam -type TrueColorAlpha -set comment ID", 2},
        {"convert source.pam -alpha off -type Grayscale", 3}, {"convert source.pam -alpha off PNG8:- | convert png:-", 1}};
    for (const auto& [kind, type] : kinds)
        for (const std::string options : {"", " -orient TopLeft", " -compress RLE", " -orient TopLeft -compress RLE"}) {
            SCOPED_TRACE(kind + options);
            ASSERT_EQ(runCommand(kind + options + " image.tga").status, 0);
            ASSERT_EQ(readFile("image.tga")[2] & 7, type);
            // ImageMagick shows the top row first; ours stay in file order.
            std::string expected = runCommand("convert image.tga -auto-orient rgba:-").out;
            if (!(readFile("image.tga")[17] & 0x20))
                std::swap_ranges(expected.begin(), expected.begin() + 129 * 4, expected.end() - 129 * 4);
            testing::internal::CaptureStdout();
            EXPECT_EQ(load("image.tga"), expected);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Texture Loading] : image.tga\nwidth: 129, height: 3\n");
        }
}

TEST(Tga, HandMadeFilesAreReadOrRefusedWithTheirReason)
{
    // Each file with the pixels it gives, or the one line it gets on
    // standard error: a refused file leaves the published size alone.
    enterTemporaryFolder(false);
    const Bytes valid = tgaHeader(2, 4, 3, 24) + Bytes(36, 0x55), runLength = tgaHeader(10, 4, 3, 24);
    auto with = [](Bytes bytes, size_t at, unsigned char value) { return bytes[at] = value, bytes; };
    const Bytes mapped = {3, 1, 2, 0, 0, 2, 0, 24, 0, 0, 0, 0, 2, 0, 1, 0, 32, 0};  // an ID field, an unused colour map
    // Run-length indices into a map of two 15-bit entries that starts at
    // index 2; 5-bit channels widen to 8 bits by their top bits (16: 132).
    const Bytes indexed = {0, 1, 9, 2, 0, 2, 0, 15, 0, 0, 0, 0, 3, 0, 1, 0, 8, 0, 0x00, 0x02, 0x01, 0x7c};
    const std::pair<Bytes, std::string> files[] = {
        {mapped + Bytes{'I', 'D', '!', 9, 9, 9, 9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8}, std::string{3, 2, 1, 4, 7, 6, 5, 8}},
        // Stored top row first (origin bits 10): the rows stay in file order.
        {with(tgaHeader(2, 1, 2, 24), 17, 0x20) + Bytes{1, 2, 3, 4, 5, 6}, std::string{3, 2, 1, -1, 6, 5, 4, -1}},
        {indexed + Bytes{0x81, 3, 0x00, 2}, std::string{-1, 0, 8, -1, -1, 0, 8, -1, 0, -124, 0, -1}},
        {tgaHeader(2, 2, 1, 15) + Bytes{0xff, 0xff, 0xe0, 0x03}, std::string{-1, -1, -1, -1, 0, -1, 0, -1}},
        {tgaHeader(10, 2, 1, 16) + Bytes{0x81, 0x1f, 0x00}, std::string{0, 0, -1, -1, 0, 0, -1, -1}},
        {with(indexed, 7, 12), "colour-map entries of 12 bits are not supported (only 15, 16, 24 and 32)"},
        {indexed + Bytes{0x81, 3, 0x00, 4}, "colour index 4 is outside the map (entries 2 to 3)"},
        {tgaHeader(10, 0, 7, 24), ""},
        {Bytes(valid.begin(), valid.begin() + 17), "header cut short (17 of 18 bytes)"},
        {Bytes(valid.begin(), valid.end() - 1), "pixel data cut short (35 of 36 bytes)"},
        // Grey with alpha, as GIMP writes it: value, then alpha.
        {tgaHeader(11, 2, 2, 16) + Bytes{0x81, 9, 200, 0x01, 7, 0, 8, 255},
         std::string{9, 9, 9, -56, 9, 9, 9, -56, 7, 7, 7, 0, 8, 8, 8, -1}},
        {tgaHeader(2, 16384, 16385, 32), "16384 x 16385 is more pixels than an image may have (16384 x 16384 in all)"},
        {with(valid, 16, 8), "8-bit pixels do not suit a true-colour image (only 15, 16, 24 and 32)"},
        {with(valid, 2, 1), "24-bit indices are not supported (only 8)"},
        {with(with(valid, 2, 1), 16, 8), "colour-mapped image without a colour map"},
        {with(valid, 2, 11), "24-bit pixels do not suit a grey-scale image (only 8 and 16)"},
        {with(valid, 2, 32), "image type 32 is not supported (only 1, 2, 3, 9, 10 and 11)"},
        {with(valid, 1, 2), "colour-map type 2 is not supported"},
        {with(tgaHeader(2, 0, 0, 24), 0, 10), "ID field or colour map cut short (18 of 28 bytes)"},
        {runLength + Bytes{0x83, 1, 2, 3}, "run-length data ends at pixel 4 of 12"},
        {runLength + Bytes{0x83, 1, 2, 3, 0x87, 1, 2}, "run-length packet at byte 22 runs past the end of the file"},
        {runLength + Bytes{0x89, 1, 2, 3, 0x82, 1, 2, 3}, "run-length packet at byte 22 runs past the image"},
    };
    for (const auto& [bytes, result] : files) {
        writeFile("odd.tga", bytes);
        imageWidth = imageHeight = 7;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const std::string pixels = load("odd.tga"), err = testing::internal::GetCapturedStderr();
        // The size line comes as soon as the header is whole, even for a
        // file refused later.
        const std::string size = bytes.size() < 18 ? "" : "width: " + std::to_string(bytes[12] + 256 * bytes[13]) +
                                 ", height: " + std::to_string(bytes[14] + 256 * bytes[15]) + "\n";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Texture Loading] : odd.tga\n" + size) << result;
        const bool refused = pixels == "refused";
        EXPECT_EQ(refused ? err : pixels, refused ? "odd.tga: " + result + "\n" : result);
        EXPECT_TRUE(!refused || imageWidth * imageHeight == 49) << result;
    }
}

}  // namespace
