// TIFFs of every kind read, as ImageMagick writes them, against its own
// decoding turned bottom row first; a turned one; and damaged or
// unsupported files, each refused in one line, libtiff printing nothing.
#include "image.h"
#include "support.h"

namespace {

// What loadImage gives: RGBA (or "refused"), the 16-bit red channel and the
// float heights as this machine's bytes (little-endian, as asked of
// ImageMagick here), the size line and standard error.
struct Loaded { std::string pixels, red16, heights, out, err; };

Loaded load(const std::string& path)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const ImageRead image = loadImage(path.c_str(), true);
    auto bytes = [&](const void* kept, size_t each) {  // a refusal's size may overflow, but nothing is kept
        return std::string(static_cast<const char*>(kept), kept ? size_t(image.width) * size_t(image.height) * each : 0);
    };
    return {image.pixels ? bytes(image.pixels.get(), 4) : "refused", bytes(image.red16.get(), 2), bytes(image.heights.get(), 4),
            testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

// ImageMagick's picture of file after options, bottom row first: RGBA
// rounded from 16 bits to 8 as ours is, and the red channel at 16 bits.
std::pair<std::string, std::string> magick(const std::string& file, const std::string& options = "")
{
    const std::string wide = runCommand("convert " + file + options + " -flip -depth 16 -endian LSB rgba:-").out;
    std::string pixels, red16;
    for (size_t n = 0; n + 1 < wide.size(); n += 2) {
        const unsigned v = uint8_t(wide[n]) + 256u * uint8_t(wide[n + 1]);
        pixels += char(unsigned(v * 255 / 65535.0 + 0.5));
        if (n % 8 == 0)
            red16 += wide.substr(n, 2);
    }
    return {pixels, red16};
}

TEST(Tiff, EachKindIsImageMagicksPictureBottomRowFirst)
{
    // The noisy source in each kind and each way of storing it: tiles of 16
    // leave part tiles at the edges.
    enterTemporaryFolder(false);
    writeNoisySource("source.pam");
    const std::string tiles = " -define tiff:tile-geometry=16x16", floats = " -define quantum:format=floating-point -depth 32";
    const std::string stores[] = {
        " -depth 8 -compress none", " -depth 16 -compress lzw" + tiles, " -depth 8 -compress zip" + tiles,
        " -depth 16 -compress rle", " -depth 16 -compress zip -interlace plane -define tiff:endian=msb",
        " -depth 8 -compress lzw TIFF64:", floats + " -compress zip -define tiff:predictor=3",
        floats + " -compress lzw -define tiff:predictor=1 -interlace plane -define tiff:endian=msb" + tiles};
    for (const std::string kind : {" -alpha off -type Grayscale", " -type GrayscaleAlpha", " -alpha off -type TrueColor", " -type TrueColorAlpha"})
        for (const std::string& store : stores) {
            SCOPED_TRACE(kind + store);
            ASSERT_EQ(runCommand("convert source.pam" + kind + store + (store.back() == ':' ? "" : " ") + "image.tif").status, 0);
            const Loaded loaded = load("image.tif");
            const auto [pixels, red16] = magick("image.tif");
            EXPECT_TRUE(loaded.pixels == pixels);
            EXPECT_TRUE(loaded.red16 == (store.find("depth 16") != store.npos ? red16 : ""));
            // The heights: the grey's or red's floats as ImageMagick gives
            // them, grey as grey (made colour, its floats move a last bit).
            const bool grey = kind.find("Gray") != kind.npos;
            const std::string all = store.find(floats) == 0 ? runCommand("convert image.tif -flip" + floats + " -endian LSB " + (grey ? "gray:-" : "rgba:-")).out : "";
            std::string heights;
            for (size_t n = 0; n < all.size(); n += grey ? 4 : 16)
                heights += all.substr(n, 4);
            EXPECT_TRUE(loaded.heights == heights);
            EXPECT_EQ(loaded.out + loaded.err, "[Texture Loading] : image.tif\nwidth: 33, height: 17\n");
        }
    // Turned right as stored (orientation 6): shown as ImageMagick turns it upright.
    ASSERT_EQ(runCommand("convert source.pam -orient RightTop -compress zip turned.tif").status, 0);
    ASSERT_EQ(runCommand("identify -format %[orientation] turned.tif").out, "RightTop");
    const Loaded turned = load("turned.tif");
    EXPECT_TRUE(turned.pixels == magick("turned.tif", " -auto-orient").first);
    EXPECT_EQ(turned.out, "[Texture Loading] : turned.tif\nwidth: 17, height: 33\n");
}

// The byte where a tag's value, or the next IFD's offset (tag 0), sits in
// the first IFD of a little-endian TIFF; and 32-bit values put in place.
size_t valueAt(const std::string& tiff, unsigned tag)
{
    auto number = [&](size_t at, int bytes) { size_t v = 0; while (bytes--) v = v << 8 | uint8_t(tiff[at + bytes]); return v; };
    const size_t ifd = number(4, 4), end = ifd + 2 + 12 * number(ifd, 2);
    for (size_t entry = ifd + 2; entry < end; entry += 12)
        if (number(entry, 2) == tag)
            return entry + 8;
    return end;  // tag 0 is none: the next IFD's offset
}

Bytes with(std::string tiff, std::vector<std::pair<size_t, uint32_t>> values)
{
    for (const auto& [at, value] : values)
        std::memcpy(&tiff[at], &value, 4);
    return Bytes(tiff.begin(), tiff.end());
}

TEST(Tiff, DamagedOrUnreadFilesAreRefusedInOneLine)
{
    enterTemporaryFolder(false);
    // ImageMagick complains of a predictor it cannot set on uncompressed
    // floats, but writes them whole: that file is read as it reads it.
    ASSERT_EQ(runCommand("convert -size 33x17 plasma: -depth 8 -compress lzw lzw.tif && convert lzw.tif -type Grayscale -compress none "
                         "plain.tif && convert lzw.tif -colors 9 palette.tif && convert lzw.tif -monochrome -depth 1 one-bit.tif && "
                         "{ convert plain.tif -define quantum:format=floating-point -depth 32 float.tif 2>/dev/null; true; }").status, 0);
    const std::string lzw = readFile("lzw.tif"), plain = readFile("plain.tif"), floats = readFile("float.tif");
    auto number = [](const std::string& tiff, size_t at) { uint32_t v; std::memcpy(&v, &tiff[at], 4); return std::to_string(v); };
    const std::string ifd = number(lzw, 4), stripBytes = number(lzw, valueAt(lzw, 279));
    const size_t nanAt = std::stoul(number(floats, valueAt(floats, 273))) + 4 * (7 * 33 + 3);
    const std::pair<Bytes, std::string> files[] = {
        {with(floats, {}), ""}, {with(plain, {{valueAt(plain, 262), 0}}), ""},  // grey with white as zero
        {with(lzw.substr(0, lzw.size() / 2), {}), "bad TIFF (cut short: its first IFD, at byte " + ifd + ", runs past the end of the file, " + std::to_string(lzw.size() / 2) + " bytes)"},
        {with(lzw, {{valueAt(lzw, 0), std::stoul(ifd)}}), "bad TIFF (its chain of IFDs loops: the IFD at byte " + ifd + " comes again)"},
        {with(plain, {{valueAt(plain, 273), plain.size() - 99}}), "bad TIFF (strip 0 reaches past the end of the file: 561 bytes at byte " + std::to_string(plain.size() - 99) + " of " + std::to_string(plain.size()) + ")"},
        {with(floats, {{nanAt, 0x7fc00000}}), "a NaN height at column 3, row 7 (heights must be finite numbers)"},
        {with(floats, {{nanAt + 4, 0xff800000}}), "an infinite height at column 4, row 7 (heights must be finite numbers)"},
        {with(lzw, {{valueAt(lzw, 256), 16384}, {valueAt(lzw, 257), 16384}, {valueAt(lzw, 278), 16384}}),
         "claims 16384 x 16384 at 24 bits a pixel, more than its " + stripBytes + " bytes of LZW data can hold"},
        {Bytes(lzw.begin(), lzw.begin() + 4), "bad TIFF (header cut short: 4 of 8 bytes)"},
        {with(readFile("palette.tif"), {}), "colour-mapped (palette) TIFF is not supported, only grey and RGB: save it as RGB"},
        {with(readFile("one-bit.tif"), {}), "1-bit samples are not supported (only 8 and 16 bits, and 32-bit floats)"}};
    for (const auto& [bytes, reason] : files) {
        writeFile("odd.tif", bytes);
        const Loaded loaded = load("odd.tif");
        EXPECT_EQ(loaded.err, reason.empty() ? "" : "odd.tif: " + reason + "\n");
        EXPECT_TRUE(loaded.pixels == (reason.empty() ? magick("odd.tif").first : "refused")) << reason;
    }
}

}  // namespace
