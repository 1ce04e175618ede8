// PNG and JPEG of every kind against ImageMagick's decoding of the same
// file, turned bottom row first; a phone photo's EXIF orientation; and
// damaged files, each refused in one line (or, for a damage libpng only
// warns of, read in silence).
#include "image.h"
#include "support.h"

#include <gtest/gtest.h>
#include <sys/resource.h>  // Required for: getrusage()
#include <zlib.h>  // Required for: crc32() and deflate(), to make PNGs that check out

#include <algorithm>
#include <memory>
#include <tuple>

namespace {

// With READ_IMAGE=file, the program only reads that file as the viewer
// reads its displacement image, prints its peak memory and exits: the
// reading in a process of its own.
[[maybe_unused]] const bool readAlone = std::getenv("READ_IMAGE") && []() -> bool {
    unsigned short* red16 = nullptr;
    const bool read = loadImage(std::getenv("READ_IMAGE"), &red16);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak %ld KB\n", usage.ru_maxrss);
    std::exit(read ? 0 : 1);
}();

// A PNG claiming width x height, whose data is count filtered rows of size
// zeros (filter 0, pixels 0) deflated at zlib's best, as tightly as it goes.
Bytes zeroPng(unsigned width, unsigned height, int depthAndColour, size_t size, size_t count)
{
    auto bigEndian = [](size_t v) { return Bytes{Bytef(v >> 24), Bytef(v >> 16), Bytef(v >> 8), Bytef(v)}; };
    auto chunk = [&](const std::string& type, const Bytes& data) {
        const Bytes body = Bytes(type.begin(), type.end()) + data;
        return bigEndian(data.size()) + body + bigEndian(crc32(0, body.data(), uInt(body.size())));
    };
    const Bytes rows(size * count);
    Bytes idat(compressBound(rows.size()));
    uLongf deflated = idat.size();
    idat.resize(compress2(idat.data(), &deflated, rows.data(), rows.size(), Z_BEST_COMPRESSION) == Z_OK ? deflated : 0);
    return Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'} +
           chunk("IHDR", bigEndian(width) + bigEndian(height) + Bytes{Bytef(depthAndColour >> 8), Bytef(depthAndColour), 0, 0, 0}) +
           chunk("IDAT", idat) + chunk("IEND", {});
}

// A JPEG with an EXIF orientation, put first as cameras do: APP1, "Exif", a
// little-endian TIFF header, one IFD of one entry: tag 0x112, a short.
Bytes withOrientation(const std::string& jpeg, char orientation)
{
    const std::string photo = jpeg.substr(0, 2) + std::string("\xff\xe1\0\x22" "Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 28) +
                              orientation + std::string(7, '\0') + jpeg.substr(2);
    return Bytes(photo.begin(), photo.end());
}

// What loadImage gives: RGBA (or "refused"), the 16-bit red channel as
// little-endian bytes (as ImageMagick's raw output here), and its standard error.
struct Loaded { std::string pixels, red16, err; };

Loaded load(const std::string& path)
{
    unsigned short* red = nullptr;
    testing::internal::CaptureStderr();
    const std::unique_ptr<PixelBuffer[]> pixels(loadImage(path.c_str(), &red));
    const std::unique_ptr<unsigned short[]> red16(red);
    Loaded loaded = {pixels ? std::string(pixels.get(), pixels.get() + imageWidth * imageHeight * 4) : "refused", "",
                     testing::internal::GetCapturedStderr()};
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

    // A phone photo under each EXIF orientation (6, "turn right to show",
    // for one held upright), as ImageMagick's -auto-orient shows it.
    for (char orientation = 1; orientation <= 8; ++orientation) {
        writeFile("photo.jpg", withOrientation(readFile("baseline.jpg"), orientation));
        const std::string shown = runCommand("convert photo.jpg -auto-orient -flip -depth 8 rgba:-").out;
        EXPECT_EQ(unlike(load("photo.jpg").pixels, shown, 2), 0u) << int(orientation);
        EXPECT_EQ(imageWidth * 100 + imageHeight, orientation >= 5 ? 17 * 100 + 33 : 33 * 100 + 17);
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
    Bytes badCrc = bytes(png), warned = bytes(png);
    badCrc[32] ^= 1;  // the last byte of IHDR's CRC
    warned[png.find("hello")] = 'j';  // a comment chunk that fails its CRC: libpng warns and skips it
    const size_t app0 = 4 + size_t(jpeg[4]) * 256 + size_t(jpeg[5]);  // where the marker after APP0 starts
    const std::pair<Bytes, std::string> files[] = {
        {bytes(png, 0, png.size() / 2), "bad PNG (cut short)"}, {badCrc, "bad PNG (IHDR: CRC error)"}, {Bytes(), "empty file"},
        {zeroPng(100000, 100000, 0x800, 0, 0), "100000 x 100000 is more pixels than an image may have (16384 x 16384 in all)"}, {warned, ""},
        {bytes(jpeg, 0, jpeg.size() / 2), "bad JPEG (Premature end of JPEG file)"},
        {bytes(jpeg, 0, app0) + Bytes{1, 2, 3} + bytes(jpeg, app0), "bad JPEG (Corrupt JPEG data: 3 extraneous bytes before marker 0xfe)"}};
    for (const auto& [file, reason] : files) {
        writeFile("odd", file);
        const Loaded loaded = load("odd");
        EXPECT_EQ(loaded.err, reason.empty() ? "" : "odd: " + reason + "\n");
        EXPECT_TRUE(loaded.pixels == (reason.empty() ? load("image.png").pixels : "refused")) << reason;
    }
}


// A claim the file cannot hold is refused from its size before anything is
// allocated: in an address space that takes a valid 8192 x 8192 16-bit image
// (384 MiB kept) but not the 1 GiB and more these claim, each gets its real
// reason, never one of memory, at the cost of a file that is not read. A
// valid image costs what is kept and no copy beside it: peak memory, each
// reading in a process of its own, over that of the first.
TEST(Image, MemoryIsWhatTheFileCanHoldAndTheImageKeeps)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's memory is not the reader's";
#endif
    enterTemporaryFolder(false);
    ASSERT_EQ(runCommand("convert -size 4096x8192 gradient:red-blue -quality 80 stored.jpg").status, 0);
    // 1-bit grey 16384 x 2048: 4,196,352 bytes of rows deflated to about
    // 4 KB, within 2% of what so small a file can hold; the same data
    // claiming 3072 rows is half again past it.
    const Bytes tiny = zeroPng(16384, 16384, 0x1006, 0, 0), longer = zeroPng(16384, 3072, 0x100, 2049, 2048);
    const std::string of = " is more than a file of ", most = " bytes of rows, at most 1032 a byte)";
    const std::tuple<std::string, Bytes, std::string, double> files[] = {
        {"raw.tga", tgaHeader(2, 16384, 16384, 32) + Bytes{1, 2, 3, 4}, "pixel data cut short (4 of 1073741824 bytes)", 0},
        {"rle.tga", tgaHeader(10, 16384, 16384, 24) + Bytes{0xff, 1, 2, 3}, "run-length data cut short (4 bytes cannot hold 268435456 pixels)", 0},
        {"tiny.png", tiny, "16384 x 16384" + of + std::to_string(tiny.size()) + " bytes can hold (2147500032" + most, 0},
        // A text chunk claiming 2 GiB, cut short: skipped unread, never reserved.
        {"text.png", Bytes(tiny.begin(), tiny.begin() + 33) + Bytes{0x7f, 0xff, 0xff, 0xff, 't', 'E', 'X', 't', 1, 2, 3, 4, 5, 6, 7, 8},
         "bad PNG (cut short)", 0},
        {"flat.png", zeroPng(16384, 2048, 0x100, 2049, 2048), "", 16384 * 2048 * 4},
        {"longer.png", longer, "16384 x 3072" + of + std::to_string(longer.size()) + " bytes can hold (6294528" + most, 0},
        // 16-bit grey: RGBA and the 16-bit height kept; a photo kept as shown.
        {"wide.png", zeroPng(8192, 8192, 0x1000, 16385, 8192), "", 8192 * 8192 * 6},
        {"turned.jpg", withOrientation(readFile("stored.jpg"), 6), "", 8192 * 4096 * 4}};
    double floor = 0;
    for (const auto& [file, bytes, reason, kept] : files) {
        writeFile(file, bytes);
        const Outcome read = runCommand("ulimit -v 600000; READ_IMAGE=" + file + " " +
                                        std::filesystem::read_symlink("/proc/self/exe").string());
        EXPECT_EQ(read.err + std::to_string(read.status), reason.empty() ? "0" : file + ": " + reason + "\n1");
        const double peak = std::stod("0" + read.out.substr(read.out.rfind("peak ") + 5)) * 1024;
        floor = floor ? floor : peak;
        EXPECT_LE(peak - floor, kept * 1.1 + (1 << 20)) << file;
    }
}

}  // namespace
