// PNG and JPEG of every kind against ImageMagick's decoding of the same
// file, turned bottom row first; a photo under each EXIF orientation; and
// damaged files, each refused in one line (or, for a damage libpng only
// warns of, read in silence), read where memory is short so that a picture
// past the ceiling cannot be allocated unnoticed.
#include "image.h"
#include "support.h"

#include <gtest/gtest.h>
#include <zlib.h>  // Required for: crc32(), to make a PNG header that checks out

#include <sys/resource.h>  // Required for: setrlimit(), to bound the child's memory

#include <algorithm>
#include <memory>
#include <tuple>

namespace {

// What loadImage gives: RGBA (or "refused"), the 16-bit red channel as
// little-endian bytes (as ImageMagick's raw output here), its standard output
// (the size line) and its standard error.
struct Loaded { std::string pixels, red16, out, err; };

Loaded load(const std::string& path)
{
    unsigned short* red = nullptr;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const std::unique_ptr<PixelBuffer[]> pixels(loadImage(path.c_str(), &red));
    const std::unique_ptr<unsigned short[]> red16(red);
    Loaded loaded = {pixels ? std::string(pixels.get(), pixels.get() + imageWidth * imageHeight * 4) : "refused", "",
                     testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    for (int n = 0; red && n < imageWidth * imageHeight; ++n)
        loaded.red16 += {char(red[n]), char(red[n] >> 8)};
    return loaded;
}

TEST(Image, EachKindIsImageMagicksPictureBottomRowFirst)
{
    // A 16-bit source of 33 x 17 noisy pixels with alpha, made into each kind.
    enterTemporaryFolder(false);
    std::string pam = "P7\nWIDTH 33\nHEIGHT 17\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (unsigned n = 0; n < 33 * 17 * 8; ++n)
        pam += char(n * 2654435761u >> 13);
    writeFile("source.pam", Bytes(pam.begin(), pam.end()));
    // A JPEG is decoded by libjpeg-turbo on both sides, but ImageMagick may
    // choose another IDCT or upsampling: a level or two. ImageMagick rounds
    // 16 bits to 8 its own way, a level apart at times: the 8-bit red of a
    // 16-bit file is checked against v * 255 / 65535 rounded, v its 16-bit red.
    const std::pair<std::string, int> kinds[] = {
        {"-alpha off -type Grayscale -depth 8 grey.png", 0}, {"-type GrayscaleAlpha -depth 8 grey-alpha.png", 0},
        {"PNG24:rgb.png", 0}, {"PNG32:rgba.png", 0}, {"-alpha off -colors 200 PNG8:palette.png", 0},
        {"-alpha off -type Grayscale -depth 16 grey16.png", 1}, {"PNG48:rgb16.png", 1}, {"PNG64:rgba16.png", 1},
        {"-interlace PNG PNG32:interlaced.png", 0}, {"-interlace PNG PNG64:interlaced16.png", 1},
        {"-alpha off baseline.jpg", 2}, {"-alpha off -interlace JPEG progressive.jpg", 2}, {"-alpha off -type Grayscale grey.jpg", 2}};
    for (const auto& [kind, levels] : kinds) {
        const std::string file = kind.substr(kind.find_last_of(" :") + 1);
        ASSERT_EQ(runCommand("convert source.pam " + kind).status, 0) << kind;
        const Loaded loaded = load(file);
        EXPECT_EQ(unlike(loaded.pixels, runCommand("convert " + file + " -flip -depth 8 rgba:-").out, levels), 0u) << file;
        const bool wide = file.find("16") != file.npos;
        const std::string red16 = runCommand("convert " + file + " -flip -channel R -separate -depth 16 gray:-").out;
        EXPECT_TRUE(loaded.red16 == (wide ? red16 : "")) << file;
        for (size_t n = 0; wide && n < red16.size() / 2 && n < loaded.pixels.size() / 4; ++n)
            EXPECT_EQ(uint8_t(loaded.pixels[4 * n]), unsigned((uint8_t(red16[2 * n]) + 256u * uint8_t(red16[2 * n + 1])) * 255 / 65535.0 + 0.5)) << file;
        EXPECT_EQ(loaded.err, "") << file;
    }

    // A phone photo under each EXIF orientation, as ImageMagick's -auto-orient
    // shows it; turned a quarter (5 to 8), its size line gives the size shown.
    // APP1: "Exif", a little-endian TIFF header, one IFD of one entry: tag
    // 0x112, orientation, a short. Put first, as cameras do.
    for (char tag = 1; tag <= 8; ++tag) {
        const std::string jpeg = readFile("baseline.jpg"), photo = jpeg.substr(0, 2) + std::string("\xff\xe1\0\x22" "Exif\0\0II*\0"
            "\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 28) + tag + std::string(7, '\0') + jpeg.substr(2);
        writeFile("photo.jpg", Bytes(photo.begin(), photo.end()));
        const Loaded shown = load("photo.jpg");
        EXPECT_EQ(shown.out.substr(shown.out.find('\n') + 1), tag < 5 ? "width: 33, height: 17\n" : "width: 17, height: 33\n") << int(tag);
        EXPECT_EQ(imageWidth * 100 + imageHeight, tag < 5 ? 3317 : 1733) << int(tag);
        EXPECT_EQ(unlike(shown.pixels, runCommand("convert photo.jpg -auto-orient -flip -depth 8 rgba:-").out, 2), 0u) << int(tag);
    }
}

TEST(Image, DamagedFilesAreRefusedInOneLine)
{
    enterTemporaryFolder(false);
    ASSERT_EQ(runCommand("convert -size 40x30 plasma: -set comment hello image.png && convert image.png image.jpg").status, 0);
    const std::string png = readFile("image.png"), jpeg = readFile("image.jpg");
    auto bytes = [](const std::string& text, size_t from = 0, size_t to = std::string::npos) {
        return Bytes(text.begin() + from, text.begin() + std::min(to, text.size()));
    };
    // IHDR claiming 100000 x 100000, its CRC made to match.
    Bytes huge = bytes(png);
    for (size_t k = 0; k < 12; ++k)  // width and height big-endian, then the CRC of the chunk
        huge[16 + k + k / 8 * 5] = static_cast<unsigned char>((k < 8 ? 100000 : crc32(0, &huge[12], 17)) >> (24 - 8 * (k % 4)));
    // A JPEG frame (SOF0: length, precision, height, width) claiming 65500 x
    // 65500 (0xffdc), which libjpeg takes.
    Bytes tall = bytes(jpeg);
    for (size_t k = 0, at = jpeg.find("\xff\xc0") + 5; k < 4; ++k)
        tall[at + k] = k % 2 ? 0xdc : 0xff;
    Bytes badCrc = bytes(png), warned = bytes(png);
    badCrc[32] ^= 1;  // the last byte of IHDR's CRC
    warned[png.find("hello")] = 'j';  // a comment chunk that fails its CRC: libpng warns and skips it
    const size_t app0 = 4 + size_t(jpeg[4]) * 256 + size_t(jpeg[5]);  // where the marker after APP0 starts
    const std::pair<Bytes, std::string> files[] = {
        {bytes(png, 0, png.size() / 2), "bad PNG (cut short)"}, {badCrc, "bad PNG (IHDR: CRC error)"}, {Bytes(), "empty file"},
        {huge, "100000 x 100000 is more pixels than an image may have (16384 x 16384 in all)"}, {warned, ""},
        {tall, "65500 x 65500 is more pixels than an image may have (16384 x 16384 in all)"},
        {bytes(jpeg, 0, jpeg.size() / 2), "bad JPEG (Premature end of JPEG file)"},
        {bytes(jpeg, 0, app0) + Bytes{1, 2, 3} + bytes(jpeg, app0), "bad JPEG (Corrupt JPEG data: 3 extraneous bytes before marker 0xfe)"}};
    // Read in a child that may take only 256 MiB more address space than
    // this process has: there a picture past the ceiling cannot be allocated,
    // where an overcommitting system would grant it untouched. None is tried.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit = {rlim_t(pages) * sysconf(_SC_PAGESIZE) + (256 << 20), RLIM_INFINITY};
    const pid_t child = fork();
    if (child == 0) {
        setrlimit(RLIMIT_AS, &limit);
        for (const auto& [file, reason] : files) {
            writeFile("odd", file);
            const Loaded loaded = load("odd");
            EXPECT_EQ(loaded.err, reason.empty() ? "" : "odd: " + reason + "\n");
            EXPECT_TRUE(loaded.pixels == (reason.empty() ? load("image.png").pixels : "refused")) << reason;
        }
        _exit(testing::Test::HasFailure());
    }
    int status = -1;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0) << "wait status " << status << ": a failure above, or the child died";
}

}  // namespace
