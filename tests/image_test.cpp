// PNG and JPEG of every kind against ImageMagick's decoding of the same
// file, turned bottom row first; a photo under each EXIF orientation; and
// damaged files, each refused in one line (or, for a damage libpng only
// warns of, read in silence), read where memory is short so that a picture
// past the ceiling cannot be allocated unnoticed.
#include "image.h"
#include "support.h"

#include <sys/resource.h>  // Required for: setrlimit(), to bound a reading's memory

namespace {

// Runs body in a child process that may take at most spare bytes more
// address space than this one has; a failure there, or its death, fails
// the test.
void inChild(size_t spare, const std::function<void()>& body)
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit = {rlim_t(pages) * sysconf(_SC_PAGESIZE) + spare, RLIM_INFINITY};
    const pid_t child = fork();
    if (child == 0) {
        setrlimit(RLIMIT_AS, &limit);
        body();
        _exit(testing::Test::HasFailure());
    }
    int status = -1;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0) << "wait status " << status << ": a failure above, or the child died";
}

// What loadImage gives: RGBA (or "refused"), the 16-bit red channel as
// little-endian bytes (as ImageMagick's raw output here), its standard output
// (the size line) and its standard error.
struct Loaded { std::string pixels, red16, out, err; };

Loaded load(const std::string& path, int* size = nullptr)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const ImageRead image = loadImage(path.c_str(), true);
    const size_t pixels = image.pixels ? size_t(image.width) * size_t(image.height) : 0;  // a refusal's claim may overflow
    Loaded loaded = {image.pixels ? std::string(image.pixels.get(), image.pixels.get() + pixels * 4) : "refused", "",
                     testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    for (size_t n = 0; image.red16 && n < pixels; ++n)
        loaded.red16 += {char(image.red16[n]), char(image.red16[n] >> 8)};
    if (size)
        *size = image.width * 100 + image.height;
    return loaded;
}

TEST(Image, EachKindIsImageMagicksPictureBottomRowFirst)
{
    // The noisy source, made into each kind.
    enterTemporaryFolder(false);
    writeNoisySource("source.pam");
    // A JPEG is decoded by libjpeg-turbo on both sides, but ImageMagick may
    // choose another IDCT or upsampling: a level or two. ImageMagick rounds
    // 16 bits to 8 its own way, a level apart at times: the 8-bit red of a
    // 16-bit file is checked against v * 255 / 65535 rounded, v its 16-bit red.
    // Both decode a WebP with libwebp and its default upsampling.
    const std::pair<std::string, int> kinds[] = {
        {"-alpha off -type Grayscale -depth 8 grey.png", 0}, {"-type GrayscaleAlpha -depth 8 grey-alpha.png", 0},
        {"PNG24:rgb.png", 0}, {"PNG32:rgba.png", 0}, {"-alpha off -colors 200 PNG8:palette.png", 0},
        {"-alpha off -type Grayscale -depth 16 grey16.png", 1}, {"PNG48:rgb16.png", 1}, {"PNG64:rgba16.png", 1},
        {"-interlace PNG PNG32:interlaced.png", 0}, {"-interlace PNG PNG64:interlaced16.png", 1},
        {"-alpha off baseline.jpg", 2}, {"-alpha off -interlace JPEG progressive.jpg", 2}, {"-alpha off -type Grayscale grey.jpg", 2},
        {"-define webp:lossless=true lossless.webp", 0}, {"-alpha off -quality 80 lossy.webp", 0}};
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
    for (char tag = 1; tag <= 8; ++tag) {
        writeFile("photo.jpg", withOrientation(readFile("baseline.jpg"), tag));
        int size = 0;
        const Loaded shown = load("photo.jpg", &size);
        EXPECT_EQ(shown.out.substr(shown.out.find('\n') + 1), tag < 5 ? "width: 33, height: 17\n" : "width: 17, height: 33\n") << int(tag);
        EXPECT_EQ(size, tag < 5 ? 3317 : 1733) << int(tag);
        EXPECT_EQ(unlike(shown.pixels, runCommand("convert photo.jpg -auto-orient -flip -depth 8 rgba:-").out, 2), 0u) << int(tag);
    }
}

TEST(Image, DamagedFilesAreRefusedInOneLineLargeOnesCostWhatIsKept)
{
    enterTemporaryFolder(false);
    ASSERT_EQ(runCommand("convert -size 40x30 plasma: -set comment hello image.png && convert image.png image.jpg && "
                         "convert image.png -alpha off image.webp").status, 0);
    const std::string png = readFile("image.png"), jpeg = readFile("image.jpg"), webp = readFile("image.webp");
    auto bytes = [](const std::string& text, size_t from = 0, size_t to = std::string::npos) {
        return Bytes(text.begin() + from, text.begin() + std::min(to, text.size()));
    };
    // A JPEG frame (SOF0: length, precision, height, width) claiming 65500 x
    // 65500 (0xffdc), which libjpeg takes.
    Bytes tall = bytes(jpeg);
    for (size_t k = 0, at = jpeg.find("\xff\xc0") + 5; k < 4; ++k)
        tall[at + k] = k % 2 ? 0xdc : 0xff;
    Bytes badCrc = bytes(png), warned = bytes(png);
    badCrc[32] ^= 1;  // the last byte of IHDR's CRC
    warned[png.find("hello")] = 'j';  // a comment chunk that fails its CRC: libpng warns and skips it
    const size_t app0 = 4 + size_t(jpeg[4]) * 256 + size_t(jpeg[5]);  // where the marker after APP0 starts
    // A lossy WebP's frame (its 14-bit width and height after the start
    // code) claiming 16383 x 16383.
    Bytes wide = bytes(webp);
    for (size_t k = 0, at = webp.find("\x9d\x01\x2a") + 3; k < 4; ++k)
        wide[at + k] = k % 2 ? 0x3f : 0xff;
    // Claims the file cannot hold, refused from its size before anything is
    // allocated: 16384 x 16384 of 16-bit RGBA in a tiny PNG, and in tiny
    // TGAs uncompressed and run-length encoded; 1-bit grey 16384 x 3072 in a
    // PNG of 4 KB that holds its 2048 rows (see below), half again past the
    // bound; a text chunk claiming 2 GiB, skipped unread, never reserved.
    const Bytes tiny = zeroPng(16384, 16384, 0x1006, 0, 0), longer = zeroPng(16384, 3072, 0x100, 2049, 2048);
    const std::pair<Bytes, std::string> files[] = {
        {tiny, "16384 x 16384 is more than a file of 65 bytes can hold (2147500032 bytes of rows, at most 1032 a byte)"},
        {longer, "16384 x 3072 is more than a file of " + std::to_string(longer.size()) + " bytes can hold (6294528 bytes of rows, at most 1032 a byte)"},
        {tgaHeader(2, 16384, 16384, 32) + Bytes{1, 2, 3, 4}, "pixel data cut short (4 of 1073741824 bytes)"},
        {tgaHeader(10, 16384, 16384, 24) + Bytes{0xff, 1, 2, 3}, "run-length data cut short (4 bytes cannot hold 268435456 pixels)"},
        {Bytes(tiny.begin(), tiny.begin() + 33) + Bytes{0x7f, 0xff, 0xff, 0xff, 't', 'E', 'X', 't', 1, 2, 3, 4, 5, 6, 7, 8}, "bad PNG (cut short)"},
        {bytes(png, 0, png.size() / 2), "bad PNG (cut short)"}, {badCrc, "bad PNG (IHDR: CRC error)"}, {Bytes(), "empty file"},
        {zeroPng(100000, 100000, 0x800, 0, 0), "100000 x 100000 is more pixels than an image may have (16384 x 16384 in all)"}, {warned, ""},
        {tall, "65500 x 65500 is more pixels than an image may have (16384 x 16384 in all)"},
        {bytes(jpeg, 0, jpeg.size() / 2), "bad JPEG (Premature end of JPEG file)"},
        {bytes(jpeg, 0, app0) + Bytes{1, 2, 3} + bytes(jpeg, app0), "bad JPEG (Corrupt JPEG data: 3 extraneous bytes before marker 0xfe)"},
        {wide, "claims 16383 x 16383, more pixels than " + std::to_string(webp.size()) + " bytes of lossy WebP can hold"},
        {bytes(webp, 0, webp.size() / 2), "bad WebP (truncated)"}};
    // Read in a child that may take only 256 MiB more address space than
    // this process has: there a picture past the ceiling cannot be allocated,
    // where an overcommitting system would grant it untouched. None is tried.
    inChild(256 << 20, [&] {
        for (const auto& [file, reason] : files) {
            writeFile("odd", file);
            const Loaded loaded = load("odd");
            EXPECT_EQ(loaded.err, reason.empty() ? "" : "odd: " + reason + "\n");
            EXPECT_TRUE(loaded.pixels == (reason.empty() ? load("image.png").pixels : "refused")) << reason;
        }
    });

    // A valid image costs what is kept and no copy beside it: read in a
    // process of its own that may take no more address space beyond its own
    // than the kept bytes and 10% (a bound on its peak memory too). 1-bit
    // grey 16384 x 2048: 4,196,352 bytes of rows deflated to about 4 KB,
    // within 2% of what so small a file can hold, still read; 16-bit grey,
    // kept as RGBA and the 16-bit height; a photo kept as shown.
    ASSERT_EQ(runCommand("convert -size 4096x8192 gradient:red-blue -quality 80 stored.jpg").status, 0);
    const std::pair<Bytes, double> large[] = {{zeroPng(16384, 2048, 0x100, 2049, 2048), 16384 * 2048 * 4},
                                              {zeroPng(8192, 8192, 0x1000, 16385, 8192), 8192 * 8192 * 6},
                                              {withOrientation(readFile("stored.jpg"), 6), 8192 * 4096 * 4}};
    for (const auto& [bytes, kept] : large) {
        writeFile("image", bytes);
        inChild(size_t(kept * 1.1), [&] { EXPECT_TRUE(loadImage("image", true).pixels); });
    }
}

// Starts command in the working folder, its standard error kept in .err,
// and waits at most ten seconds for that to hold each of lines; then ends
// it (the viewer never ends by itself). The lines still missing then. A
// program that opens a FIFO to read waits for ever; one that refuses it
// says so at once, but a loaded machine may take seconds to start it.
std::string missingSoon(const std::string& command, const std::vector<std::string>& lines)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        _exit(execl("/bin/sh", "sh", "-c", (command + " >/dev/null 2>.err").c_str(), nullptr));
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string missing;
    do {
        usleep(5000);
        const std::string err = readFile(".err");
        missing.clear();
        for (const std::string& line : lines)
            if (err.find(line + "\n") == std::string::npos)
                missing += line + "\n";
    } while (!missing.empty() && std::chrono::steady_clock::now() < end);
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return missing.empty() ? "" : missing + "in:\n" + readFile(".err");
}

TEST(Image, AFifoIsRefusedAtOnceByEveryProgramAsEveryKind)
{
    // A FIFO no one writes, named as each kind of image, given as the colour
    // and as the height image: opening it to read would wait for ever.
    enterTemporaryFolder(true);
    for (const std::string kind : {"tga", "png", "jpg"}) {
        const std::string fifo = "fifo." + kind, line = fifo + ": not a regular file";
        ASSERT_EQ(runCommand("rm -f fifo.* && mkfifo " + fifo).status, 0);
        for (const std::string option : {" --color ", " --displacement "}) {
            EXPECT_EQ(missingSoon("exec '" EXPORT_BINARY "'" + option + fifo + " out.ply", {line}), "") << option;
            EXPECT_EQ(missingSoon("exec '" RENDER_BINARY "'" + option + fifo + " out.png", {line}), "") << option;
        }
    }
    // The viewer finds both in texture/, where no TGA of the name is.
    for (const std::string kind : {"tga", "png", "jpg"}) {
        const std::string color = "texture/color." + kind, displace = "texture/displace." + kind;
        ASSERT_EQ(runCommand("rm -f texture/color.* texture/displace.* && mkfifo " + color + " " + displace).status, 0);
        EXPECT_EQ(missingSoon("exec '" VIEWER_BINARY "'", {color + ": not a regular file",
                                                                      displace + ": not a regular file"}), "");
    }
}

TEST(Image, FirstBytesChooseTheKindAndANameOnlyWhereTheySayNothing)
{
    // A file whose first bytes say nothing, named as a kind read, in any
    // case, is refused as that kind, and no size is read from it as if it
    // were another.
    enterTemporaryFolder(false);
    ASSERT_EQ(runCommand("convert -size 5x3 plasma: picture.png && convert picture.png picture.jpg && "
                         "convert picture.png picture.tga && convert picture.png map.heic && "
                         "convert picture.png gif:map.tga && convert picture.png bmp3:map.bmp").status, 0);
    const std::string tga = readFile("picture.tga");
    char tgaStart[40];
    std::snprintf(tgaStart, sizeof tgaStart, "starts with 0x%02x 0x%02x", uint8_t(tga[0]), uint8_t(tga[1]));
    const std::string notPng = ": bad PNG (no PNG signature: not a PNG file)\n";
    const std::tuple<std::string, std::string, std::string> files[] = {
        {"text.png", "hello, I am no picture at all", notPng}, {"tga.PNG", tga, notPng},
        {"tga.jpg", tga, ": bad JPEG (Not a JPEG file: " + std::string(tgaStart) + ")\n"},
        {"empty.Jpg", "", ": empty file\n"}};
    for (const auto& [name, bytes, line] : files) {
        writeFile(name, Bytes(bytes.begin(), bytes.end()));
        const Loaded loaded = load(name);
        EXPECT_EQ(loaded.out + loaded.err, "[Texture Loading] : " + name + "\n" + name + line);
    }
    // Kinds known but not read are named, whatever the file's name says.
    for (const auto& [name, kind] : {std::pair("map.heic", "a HEIC"), std::pair("map.tga", "a GIF"),
                                     std::pair("map.bmp", "a BMP")})
        EXPECT_EQ(load(name).err, name + std::string(": ") + kind + " image; dispdome reads " + KINDS_READ + "\n");
    // Known first bytes win over any name; a name of a kind not read says
    // nothing.
    for (const auto& [name, source] : {std::pair("png.tga", "picture.png"), std::pair("jpeg.image", "picture.jpg"),
                                       std::pair("tga.gif", "picture.tga"), std::pair("jpeg.png", "picture.jpg"),
                                       std::pair("png.JPEG", "picture.png")}) {
        std::filesystem::copy_file(source, name);
        const Loaded loaded = load(name);
        EXPECT_EQ(loaded.out + loaded.err, "[Texture Loading] : " + std::string(name) + "\nwidth: 5, height: 3\n");
        EXPECT_TRUE(loaded.pixels == load(source).pixels) << name;
    }
}

}  // namespace
