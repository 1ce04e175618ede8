// OpenEXR files: the heights against the values written, the colour against
// ImageMagick's PNG of the same file, and damaged files each refused in one
// line, the library printing nothing.
#include "exr_decoder.h"
#include "image.h"
#include "png_decoder.h"
#include "support.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
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
    // Red, the heights shown, exactly as the sRGB standard encodes them
    // (IEC 61966-2-1), clamped, rounded to a level.
    for (size_t n = 0; n < heights.size(); ++n) {
        const double v = std::clamp(double(heights[n]), 0.0, 1.0);
        const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
        EXPECT_EQ(exr.pixels[4 * n], int(encoded * 255 + 0.5)) << path << " pixel " << n;
    }
    EXPECT_EQ(runCommand("convert " + path + " -colorspace sRGB shown.png").status, 0);
    const Bytes png = bytesOf("shown.png");
    const ImageRead shown = decodePng(png.data(), png.size(), false);
    EXPECT_TRUE(shown.width == exr.width && shown.height == exr.height);
    for (int n = 0; shown.width == exr.width && shown.height == exr.height && n < exr.width * exr.height * 4; ++n)
        EXPECT_NEAR(exr.pixels[n], shown.pixels[n], 1) << "pixel " << n / 4 << " channel " << n % 4;
    return err;
}

// ImageMagick writes halves alone: floats come from OpenEXR's C++ library,
// apart from the core one we read with. R as given (width across, top row
// first), G a tenth of it, B 1 less it, over a data window from (-3, 5),
// stored bottom-up; in lines, or in 2 x 2 tiles of a mipmapped file.
void writeFloatExr(const std::string& path, std::vector<float> red, int width, Imf::Compression compression, bool tiled = false)
{
    const int height = int(red.size()) / width;
    std::vector<float> green(red.size()), blue(red.size());
    std::transform(red.begin(), red.end(), green.begin(), [](float r) { return r / 10; });
    std::transform(red.begin(), red.end(), blue.begin(), [](float r) { return 1 - r; });
    const Imath::Box2i window({-3, 5}, {width - 4, height + 4});
    Imf::Header header(window, window, 1, {0, 0}, 1, Imf::DECREASING_Y, compression);
    Imf::FrameBuffer pixels;
    for (const auto& [name, values] : {std::pair{"R", red.data()}, {"G", green.data()}, {"B", blue.data()}}) {
        header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        pixels.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(values + 3 - 5 * width), 4, 4 * size_t(width)));
    }
    if (!tiled) {
        Imf::OutputFile file(path.c_str(), header);
        file.setFrameBuffer(pixels);
        return file.writePixels(height);
    }
    header.setTileDescription(Imf::TileDescription(2, 2, Imf::MIPMAP_LEVELS));
    Imf::TiledOutputFile file(path.c_str(), header);
    file.setFrameBuffer(pixels);
    for (int level = 0; level < file.numLevels(); ++level)
        file.writeTiles(0, file.numXTiles(level) - 1, 0, file.numYTiles(level) - 1, level);
}

TEST(Exr, HeightsAreTheRedSamplesAsStoredColourIsImageMagicksSrgb)
{
    // ImageMagick's halves, 4 x 3: R n/16 for pixel n (exact after its 16
    // bits), G and B unlike it (B dark, where sRGB is a straight line), A
    // falling; RGB, RGBA and luminance alone.
    enterTemporaryFolder(false);
    std::string pam = "P7\nWIDTH 4\nHEIGHT 3\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    std::vector<float> red, samples, heights;
    for (int n = 0; n < 12; ++n)
        for (int s : {n * 4096, 65535 - n * 3000, n * n * 40, 65535 - n * 5000})
            pam += {char(s >> 8), char(s)};
    for (int n = 0; n < 12; ++n)
        red.push_back(float(4 * (2 - n / 4) + n % 4) / 16);  // bottom row first
    writeFile("source.pam", Bytes(pam.begin(), pam.end()));
    for (const std::string kind : {"-alpha off", "", "-channel R -separate -define exr:color-type=Y"})
        for (const std::string compression : {"none", "rle", "zip", "piz"}) {
            ASSERT_EQ(runCommand("convert source.pam " + kind + " -compress " + compression + " image.exr").status, 0);
            EXPECT_EQ(heightsOf("image.exr", heights), "");
            EXPECT_EQ(heights, red) << kind << " " << compression;
            // Alpha renamed "0": four halves, one not shown, which the core
            // must still be given a place to decode to.
            if (!kind.empty())
                continue;
            Bytes renamed = bytesOf("image.exr");
            renamed[readFile("image.exr").find("chlist") + 11] = '0';
            writeFile("image.exr", renamed);
            EXPECT_EQ(heightsOf("image.exr", heights), "");
            EXPECT_EQ(heights, red) << kind << " " << compression << " renamed";
        }
    // Floats of no half, below 0 and above 1: read as halves, or through
    // them, they are off.
    for (int n = 0; n < 15; ++n)
        samples.push_back((n - 4) * 0.3f);
    std::vector<float> expected = samples;
    for (int row = 0; row < 3; ++row)
        std::copy_n(samples.begin() + 5 * row, 5, expected.begin() + 5 * (2 - row));
    for (const Imf::Compression compression : {Imf::NO_COMPRESSION, Imf::ZIPS_COMPRESSION, Imf::PIZ_COMPRESSION})
        for (const bool tiled : {false, true}) {
            writeFloatExr("float.exr", samples, 5, compression, tiled);
            EXPECT_EQ(heightsOf("float.exr", heights), "");
            EXPECT_EQ(heights, expected) << compression << (tiled ? " tiled" : "");
        }
}

TEST(Exr, DamagedFilesAreRefusedInOneLineBeforeAnythingIsReserved)
{
    // ImageMagick's 4 x 3, uncompressed a line a chunk, or Deflated in one;
    // after the header (the same length in both), which ends with
    // screenWindowWidth, the chunks' offsets.
    enterTemporaryFolder(false);
    ASSERT_EQ(runCommand("convert -size 4x3 xc:gray -compress none plain.exr && "
                         "convert -size 4x3 xc:gray -compress zip zip.exr").status, 0);
    const Bytes plain = bytesOf("plain.exr"), zip = bytesOf("zip.exr");
    const size_t table = readFile("plain.exr").find("screenWindowWidth") + 33;
    auto with = [](Bytes bytes, size_t at, std::vector<int32_t> values) {
        for (size_t k = 0; k < 4 * values.size(); ++k)
            bytes[at + k] = uint8_t(uint32_t(values[k / 4]) >> 8 * (k % 4));
        return bytes;
    };
    auto window = [&](const Bytes& bytes, std::vector<int32_t> box) {  // min x, min y, max x, max y
        return with(bytes, std::string(bytes.begin(), bytes.end()).find("dataWindow") + 21, box);
    };
    // Deflate's 1032 a byte, to the byte: the ZIP chunk's 3 lines of 3
    // halves widened to as many columns as its packed bytes can hold, and
    // to one more, which no Deflate stream can fill.
    const size_t chunk = zip[table] | zip[table + 1] << 8, packed = zip[chunk + 4] | zip[chunk + 5] << 8;
    const int32_t most = int32_t(packed * 1032 / 18);
    const std::string ceiling = "is more pixels than an image may have (16384 x 16384 in all)";
    const std::pair<Bytes, std::string> files[] = {
        // Sides an int cannot count, whose product wraps in 32 and 64 bits.
        {window(plain, {0, 0, INT32_MAX, 2}), "its data window, 2147483648 x 3, " + ceiling},
        {window(plain, {INT32_MIN, 0, INT32_MAX, 2}), "its data window, 4294967296 x 3, " + ceiling},
        {window(plain, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}), "its data window, 4294967296 x 4294967296, " + ceiling},
        {window(zip, {0, 0, most, 2}), "chunk 0 claims " + std::to_string(18 * (most + 1)) + " bytes from " +
                                           std::to_string(packed) + " (ZIP makes at most 1032 of a byte)"},
        {window(zip, {0, 0, most - 1, 2}), "bad OpenEXR ("},
        {with(plain, table + 16, {65535}), "chunk 2 starts past the end of the file (at byte 65535 of " + std::to_string(plain.size()) + ")"},
        {Bytes(plain.begin(), plain.begin() + table + 20), "its chunk table, 3 offsets, runs past the end of the file (" + std::to_string(table + 20) + " bytes)"},
        {Bytes(plain.begin(), plain.end() - 1), "bad OpenEXR ("},
    };
    std::vector<float> red(15, 0.5f), heights;
    for (const auto& [bytes, reason] : files) {
        writeFile("odd.exr", bytes);
        const std::string err = heightsOf("odd.exr", heights);
        EXPECT_EQ(err.substr(0, 9 + reason.size()), "odd.exr: " + reason);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    // Not a number where a height should be, named by its place in the
    // data window.
    red[7] = std::nanf("");
    writeFloatExr("nan.exr", red, 5, Imf::ZIP_COMPRESSION);
    EXPECT_EQ(heightsOf("nan.exr", heights), "nan.exr: a NaN height at column -1, row 6 (heights must be finite numbers)\n");
}

}  // namespace
