// The TGA reader without GL: files written by ImageMagick, odd but valid
// files, a table of malformed ones, and the console lines over a sequence.
#include "sample_folder.h"
#include "sample_images.h"
#include "tga.h"
#include "tga_bytes.h"

#include <gtest/gtest.h>

#include <sys/resource.h>  // Required for: setrlimit()
#include <sys/stat.h>      // Required for: mkfifo()
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What loadTga returned, owned; the size is the one it published.
struct Loaded {
    bool ok = false;
    Bytes pixels;
};

Loaded load(const std::string& path)
{
    std::unique_ptr<PixelBuffer[]> pixels(loadTga(path.c_str()));
    if (!pixels)
        return {};
    return {true, Bytes(pixels.get(), pixels.get() + size_t(imageWidth) * size_t(imageHeight) * 4)};
}

std::string sizeLine(int width, int height)
{
    return "width: " + std::to_string(width) + ", height: " + std::to_string(height) + "\n";
}

// Index of the first differing byte, for the failure message.
size_t firstDifference(const Bytes& a, const Bytes& b)
{
    size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return n;
}

// ---------------------------------------------------------------- ImageMagick

bool haveConvert() { return std::system("command -v convert >/dev/null 2>&1") == 0; }

// RGBA, top row first: every third row one colour and alpha (so run-length
// packets repeat), the others changing from pixel to pixel.
Bytes pattern(int width, int height)
{
    Bytes rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool flat = y % 3 == 0;
            const int k = flat ? y : x * 37 + y * 11;
            rgba.insert(rgba.end(), {static_cast<unsigned char>(k * 5 + 17), static_cast<unsigned char>(k * 13),
                                     static_cast<unsigned char>(255 - k),
                                     static_cast<unsigned char>(flat ? 200 : x * 7 + y * 3)});
        }
    return rgba;
}

void writePam(const std::string& path, int width, int height, const Bytes& rgba)
{
    const std::string head = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                             "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    writeFile(path, Bytes(head.begin(), head.end()) + rgba);
}

void flipRows(Bytes& rgba, int width, int height)
{
    const size_t row = size_t(width) * 4;
    for (int y = 0; y < height / 2; ++y)
        std::swap_ranges(rgba.begin() + y * row, rgba.begin() + (y + 1) * row,
                         rgba.begin() + (height - 1 - y) * row);
}

// Converts source.pam with ImageMagick, checks it wrote the kind of file
// meant, and reads it with both ImageMagick and loadTga. ImageMagick's image
// as shown (top row first: -auto-orient applies the origin bit) is flipped for
// a bottom-first file, since our rows stay in file order.
void expectSameAsImageMagick(const std::string& options, int width, int height, int type, int depth,
                             bool topFirst, Bytes* pixels)
{
    SCOPED_TRACE("convert " + options);
    ASSERT_EQ(std::system(("convert source.pam " + options + " image.tga").c_str()), 0);
    ASSERT_EQ(std::system("convert image.tga -auto-orient rgba:image.rgba"), 0);
    const Bytes file = readFile("image.tga");
    ASSERT_GE(file.size(), 18u);
    ASSERT_EQ(file[2], type);
    ASSERT_EQ(file[16], depth);
    ASSERT_EQ((file[17] & 0x20) != 0, topFirst);

    Bytes expected = readFile("image.rgba");
    ASSERT_EQ(expected.size(), size_t(width) * height * 4);
    if (!topFirst)
        flipRows(expected, width, height);

    CaptureStdout();
    const Loaded loaded = load("image.tga");
    EXPECT_EQ(GetCapturedStdout(), "[Texture Loading] : image.tga\n" + sizeLine(width, height));
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(imageWidth, width);
    EXPECT_EQ(imageHeight, height);
    EXPECT_TRUE(loaded.pixels == expected) << "first difference at byte " << firstDifference(loaded.pixels, expected);
    *pixels = loaded.pixels;
}

class ImageMagickTga : public testing::TestWithParam<std::tuple<std::pair<int, int>, bool>> {
};

TEST_P(ImageMagickTga, PixelsEqualImageMagicksDecoding)
{
    if (!haveConvert())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const auto [size, alpha] = GetParam();
    const auto [width, height] = size;
    enterTemporaryFolder(false);
    writePam("source.pam", width, height, pattern(width, height));

    const std::string type = alpha ? "-type TrueColorAlpha" : "-type TrueColor";
    const int depth = alpha ? 32 : 24;
    for (bool topFirst : {false, true}) {
        const std::string orient = topFirst ? " -orient TopLeft" : "";
        Bytes uncompressed, runLength;
        expectSameAsImageMagick(type + orient, width, height, 2, depth, topFirst, &uncompressed);
        expectSameAsImageMagick(type + orient + " -compress RLE", width, height, 10, depth, topFirst, &runLength);
        EXPECT_TRUE(runLength == uncompressed) << "run-length and uncompressed differ";
        for (size_t n = 3; n < uncompressed.size() && !alpha; n += 4)
            ASSERT_EQ(uncompressed[n], 255) << "24-bit pixels are opaque";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImageMagickTga,
                         testing::Combine(testing::Values(std::make_pair(1, 1), std::make_pair(3, 5),
                                                          std::make_pair(129, 2), std::make_pair(512, 512)),
                                          testing::Bool()));

TEST(Tga, ImageMagicksIdFieldIsSkipped)
{
    if (!haveConvert())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    enterTemporaryFolder(false);
    writePam("source.pam", 3, 5, pattern(3, 5));
    for (const char* compress : {"", " -compress RLE"}) {
        Bytes pixels;
        expectSameAsImageMagick(std::string("-type TrueColorAlpha -set comment \"an ID field\"") + compress, 3, 5,
                                *compress ? 10 : 2, 32, false, &pixels);
        EXPECT_EQ(readFile("image.tga")[0], 11) << "ImageMagick wrote no ID field";
    }
}

// ---------------------------------------------------------------- odd but valid

// Decodes bytes through loadTga, expecting success and no error line.
Loaded loadValid(const Bytes& bytes)
{
    writeFile("odd.tga", bytes);
    CaptureStderr();
    Loaded loaded = load("odd.tga");
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_TRUE(loaded.ok);
    return loaded;
}

TEST(Tga, IdFieldAndUnusedColourMapAreSkipped)
{
    enterTemporaryFolder(false);
    Bytes file = header(2, 2, 1, 32);
    file[0] = 5;                   // ID field length
    file[1] = 1;                   // a colour map, unused by true colour
    file[5] = 2;                   // two entries
    file[7] = 24;                  // of three bytes
    file = file + Bytes{'s', 'k', 'i', 'p', '!'} + Bytes{9, 9, 9, 9, 9, 9} +
           Bytes{1, 2, 3, 4, 5, 6, 7, 8};  // blue, green, red, alpha
    EXPECT_EQ(loadValid(file).pixels, (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
}

TEST(Tga, RunLengthPacketsMayCrossRows)
{
    enterTemporaryFolder(false);
    // 3 x 2: a run of 4 pixels over the row end, then 2 raw pixels.
    const Bytes file = header(10, 3, 2, 24) + Bytes{0x83, 10, 20, 30, 0x01, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(loadValid(file).pixels, (Bytes{30, 20, 10, 255, 30, 20, 10, 255, 30, 20, 10, 255,
                                             30, 20, 10, 255, 3, 2, 1, 255, 6, 5, 4, 255}));
}

TEST(Tga, EmptyImageGivesBothLinesAndAnEmptyBuffer)
{
    enterTemporaryFolder(false);
    for (int type : {2, 10}) {
        for (const auto& [width, height] : {std::make_pair(0, 7), std::make_pair(9, 0)}) {
            imageWidth = imageHeight = -1;
            writeFile("empty.tga", header(type, width, height, 24));
            CaptureStdout();
            std::unique_ptr<PixelBuffer[]> pixels(loadTga("empty.tga"));
            EXPECT_EQ(GetCapturedStdout(), "[Texture Loading] : empty.tga\n" + sizeLine(width, height));
            EXPECT_NE(pixels, nullptr) << "type " << type;
            EXPECT_EQ(imageWidth, width);
            EXPECT_EQ(imageHeight, height);
        }
    }
}

// ---------------------------------------------------------------- malformed

struct Malformed {
    const char* what;
    Bytes bytes;
    std::string reason;
};

Bytes with(Bytes bytes, size_t at, unsigned char value)
{
    bytes[at] = value;
    return bytes;
}

std::vector<Malformed> malformedFiles()
{
    const Bytes valid = header(2, 4, 3, 24) + Bytes(36, 0x55);  // 4 x 3, 24 bits
    const Bytes runLength = header(10, 4, 3, 24);               // 12 pixels to come
    Bytes longMap = header(2, 0, 0, 24);
    longMap[1] = 1;
    longMap[6] = 1;  // 256 entries
    longMap[7] = 24;
    return {
        {"empty file", {}, "header cut short (0 of 18 bytes)"},
        {"header one byte short", Bytes(valid.begin(), valid.begin() + 17), "header cut short (17 of 18 bytes)"},
        {"pixel data one byte short", Bytes(valid.begin(), valid.end() - 1), "pixel data cut short (35 of 36 bytes)"},
        {"header claims 65535 x 65535, holds nothing", header(2, 65535, 65535, 32),
         "pixel data cut short (0 of 17179344900 bytes)"},
        {"run-length header claims 65535 x 65535, holds one packet",
         header(10, 65535, 65535, 24) + Bytes{0xff, 1, 2, 3},
         "run-length data cut short (4 bytes cannot hold 4294836225 pixels)"},
        {"8 bits", with(valid, 16, 8), "8-bit pixels are not supported (only 24 and 32)"},
        {"15 bits", with(valid, 16, 15), "15-bit pixels are not supported (only 24 and 32)"},
        {"16 bits", with(valid, 16, 16), "16-bit pixels are not supported (only 24 and 32)"},
        {"31 bits", with(valid, 16, 31), "31-bit pixels are not supported (only 24 and 32)"},
        {"0 bits", with(valid, 16, 0), "0-bit pixels are not supported (only 24 and 32)"},
        {"colour-mapped", with(valid, 2, 1), "colour-mapped images (type 1) are not supported"},
        {"run-length colour-mapped", with(valid, 2, 9), "colour-mapped images (type 9) are not supported"},
        {"grey-scale", with(valid, 2, 3), "grey-scale images (type 3) are not supported"},
        {"run-length grey-scale", with(valid, 2, 11), "grey-scale images (type 11) are not supported"},
        {"no image data", with(valid, 2, 0), "image type 0 is not supported (only 2 and 10, true colour)"},
        {"Huffman-coded colour-mapped", with(valid, 2, 32), "image type 32 is not supported (only 2 and 10, true colour)"},
        {"unknown colour-map type", with(valid, 1, 2), "colour-map type 2 is not supported"},
        {"ID field past the end", with(header(2, 0, 0, 24), 0, 10), "ID field or colour map cut short (18 of 28 bytes)"},
        {"colour map past the end", longMap, "ID field or colour map cut short (18 of 786 bytes)"},
        {"file ends between packets", runLength + Bytes{0x83, 1, 2, 3}, "run-length data ends at pixel 4 of 12"},
        {"file ends inside a raw packet", runLength + Bytes{0x03, 1, 2, 3, 4, 5, 6},
         "run-length packet at byte 18 runs past the end of the file"},
        {"file ends inside a run packet", runLength + Bytes{0x83, 1, 2, 3, 0x87, 1, 2},
         "run-length packet at byte 22 runs past the end of the file"},
        {"run packet past the image", runLength + Bytes{0xff, 1, 2, 3},
         "run-length packet at byte 18 runs past the image"},
        {"raw packet past the image", runLength + Bytes{0x89, 1, 2, 3, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9},
         "run-length packet at byte 22 runs past the image"},
    };
}

TEST(Tga, MalformedFilesAreRejectedWithTheirReason)
{
    enterTemporaryFolder(false);
    for (const Malformed& file : malformedFiles()) {
        SCOPED_TRACE(file.what);
        writeFile("bad.tga", file.bytes);
        imageWidth = 123;
        imageHeight = 45;
        CaptureStdout();
        CaptureStderr();
        const Loaded loaded = load("bad.tga");
        const std::string out = GetCapturedStdout();
        EXPECT_EQ(GetCapturedStderr(), "bad.tga: " + file.reason + "\n");
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(imageWidth, 123);
        EXPECT_EQ(imageHeight, 45);
        // The size line comes once the header is there, with what it claims.
        const Bytes& b = file.bytes;
        EXPECT_EQ(out, "[Texture Loading] : bad.tga\n" +
                           (b.size() < 18 ? "" : sizeLine(b[12] | b[13] << 8, b[14] | b[15] << 8)));
    }
}

TEST(Tga, WhatIsNotAPlainFileIsRejected)
{
    enterTemporaryFolder(false);
    std::filesystem::create_directory("folder.tga");
    ASSERT_EQ(mkfifo("fifo.tga", 0644), 0);
    for (const std::string name : {"folder.tga", "fifo.tga"}) {
        imageWidth = 7;
        CaptureStdout();
        CaptureStderr();
        // Opening a FIFO waits for a writer that never comes: the alarm ends
        // the test program if the reader does.
        alarm(10);
        EXPECT_FALSE(load(name).ok);
        alarm(0);
        EXPECT_EQ(GetCapturedStderr(), name + ": not a regular file\n");
        EXPECT_EQ(GetCapturedStdout(), "[Texture Loading] : " + name + "\n");
        EXPECT_EQ(imageWidth, 7);
    }
}

#if !defined(__SANITIZE_ADDRESS__)
// Decodes under an address-space limit far below 65535^2 x 4 bytes; exits 0
// when the reader gave up.
[[noreturn]] void decodeWithLittleMemory(const Bytes& file)
{
    const rlimit limit = {rlim_t(4) << 30, rlim_t(4) << 30};
    setrlimit(RLIMIT_AS, &limit);
    _exit(decodeTga(file.data(), file.size(), "huge.tga") ? 1 : 0);  // no exit handlers: the folders are the parent's
}

// The file holds enough run-length packets (128 pixels each) for the largest
// image; its pixel buffer fails to allocate.
TEST(TgaDeathTest, AllocationFailureIsReported)
{
    const size_t packets = (size_t(65535) * 65535 + 127) / 128;
    Bytes file = header(10, 65535, 65535, 24);
    file.resize(18 + packets * 4, 0xff);
    EXPECT_EXIT(decodeWithLittleMemory(file), testing::ExitedWithCode(0),
                "huge.tga: not enough memory for 65535 x 65535 pixels");
}
#endif

// ---------------------------------------------------------------- console

TEST(Tga, LinesAndSizeOverASequenceOfReads)
{
    enterTemporaryFolder(false);
    const Bytes pixels(3 * 5 * 3, 0);
    writeFile("first.tga", encodeTga(3, 5, pixels.data()));
    writeFile("second.tga", encodeTga(1, 1, pixels.data()));
    imageWidth = imageHeight = 0;

    CaptureStdout();
    CaptureStderr();
    EXPECT_TRUE(load("first.tga").ok);
    EXPECT_EQ(imageWidth, 3);
    EXPECT_EQ(imageHeight, 5);
    EXPECT_FALSE(load("missing.tga").ok);  // cannot be opened: silent
    EXPECT_EQ(imageWidth, 3);
    EXPECT_EQ(imageHeight, 5);
    EXPECT_TRUE(load("second.tga").ok);
    EXPECT_EQ(imageWidth, 1);
    EXPECT_EQ(imageHeight, 1);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(GetCapturedStdout(), "[Texture Loading] : first.tga\nwidth: 3, height: 5\n"
                                   "[Texture Loading] : second.tga\nwidth: 1, height: 1\n");
}

TEST(Tga, LinesReachAPipeThoughTheProgramNeverFlushes)
{
    enterTemporaryFolder(false);
    const Bytes pixels(2 * 2 * 3, 0);
    writeFile("image.tga", encodeTga(2, 2, pixels.data()));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Fully buffered standard output into the pipe, then an exit that
        // flushes nothing: only what the reader flushed itself gets through.
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
        delete[] loadTga("image.tga");
        _exit(0);
    }
    close(ends[1]);
    std::string out;
    char chunk[256];
    for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;)
        out.append(chunk, size_t(got));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(out, "[Texture Loading] : image.tga\nwidth: 2, height: 2\n");
}

}  // namespace
