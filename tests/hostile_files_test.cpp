// The real viewer on hostile image files, one run per case: the file stands
// in for one of the three images, the other two are the sample images. The
// viewer must keep drawing, print the loading lines only for what it read,
// name the file and the reason on standard error, and never allocate for
// pixels the file does not hold.
#include "sample_images.h"
#include "tga_bytes.h"
#include "viewer_process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>  // Required for: chmod(), mkfifo()

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {


enum Image { COLOR, DISPLACE, NORMAL };
const char* const FILES[] = {"texture/color.tga", "texture/displace.tga", "texture/normal.tga"};

// How far above a run on valid images a hostile run may peak: room for
// run-to-run noise, far below the gigabytes a trusted size would cost.
constexpr long RESIDENT_MARGIN_KB = 16 * 1024;

enum Kind { FILE_BYTES, DIRECTORY, FIFO };

struct Hostile {
    const char* what;
    Image image;
    Kind kind;
    Bytes bytes;         // the file, for FILE_BYTES
    std::string header;  // the size line it prints, if its header is complete
    std::string reason;
};

std::string sizeLine(int width, int height)
{
    return "width: " + std::to_string(width) + ", height: " + std::to_string(height) + "\n";
}

std::string loadingLine(Image image) { return std::string("[Texture Loading] : ") + FILES[image] + "\n"; }

const SampleImages& samples()
{
    static const SampleImages images = makeSampleImages();
    return images;
}

std::vector<Hostile> hostileFiles()
{
    const Bytes displace = encodeTga(SAMPLE_SIZE, SAMPLE_SIZE, samples().displace.data());
    const Bytes color = encodeTga(SAMPLE_SIZE, SAMPLE_SIZE, samples().color.data());

    Bytes colourMapped = header(1, 512, 512, 8);
    colourMapped[1] = 1;    // a colour map
    colourMapped[6] = 1;    // of 256 entries
    colourMapped[7] = 24;   // of three bytes
    colourMapped = colourMapped + Bytes(256 * 3 + 512 * 512, 0x40);

    // 30 raw packets of 128 pixels, then one that promises 128 more and
    // holds 10 bytes; enough data in all for the size check before decoding.
    Bytes runLength = header(10, 512, 512, 24);
    for (int packet = 0; packet < 30; ++packet)
        runLength = runLength + Bytes{0x7f} + Bytes(128 * 3, static_cast<unsigned char>(packet));
    runLength = runLength + Bytes{0x7f} + Bytes(10, 0x33);

    Bytes longId = header(2, 512, 512, 24) + Bytes(100, 0x21);
    longId[0] = 255;

    const std::string full = sizeLine(512, 512);
    return {
        {"header cut short", COLOR, FILE_BYTES, Bytes(color.begin(), color.begin() + 10), "",
         "header cut short (10 of 18 bytes)"},
        {"pixels cut short", DISPLACE, FILE_BYTES, Bytes(displace.begin(), displace.end() - 1000), full,
         "pixel data cut short (785432 of 786432 bytes)"},
        {"65535 x 65535 declared in 18 bytes", NORMAL, FILE_BYTES, header(2, 65535, 65535, 24),
         sizeLine(65535, 65535), "pixel data cut short (0 of 12884508675 bytes)"},
        {"16-bit pixels", DISPLACE, FILE_BYTES, header(2, 512, 512, 16) + Bytes(512 * 512 * 2, 0x7f), full,
         "16-bit pixels are not supported (only 24 and 32)"},
        {"colour-mapped", COLOR, FILE_BYTES, colourMapped, full, "colour-mapped images (type 1) are not supported"},
        {"run-length packet past the end", NORMAL, FILE_BYTES, runLength, full,
         "run-length packet at byte 11568 runs past the end of the file"},
        {"ID field past the end", DISPLACE, FILE_BYTES, longId, full,
         "ID field or colour map cut short (118 of 273 bytes)"},
        {"a directory", NORMAL, DIRECTORY, {}, "", "not a regular file"},
        {"a FIFO, which no one writes", COLOR, FIFO, {}, "", "not a regular file"},
    };
}

// A folder with the sample images in texture/.
std::string sampleFolder()
{
    const std::string dir = makeTempDir();
    std::filesystem::create_directory(dir + "/texture");
    EXPECT_EQ(writeSampleImages(dir + "/texture"), "");
    return dir;
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string expectedOut(Image hostile, const std::string& hostileLines)
{
    std::string out;
    for (Image image : {COLOR, DISPLACE, NORMAL})
        out += image == hostile ? hostileLines : loadingLine(image) + sizeLine(512, 512);
    return out;
}

std::string expectedErr(Image hostile, const std::string& reason)
{
    std::string err = std::string(FILES[hostile]) + ": " + reason + "\n";
    if (hostile == DISPLACE)
        err += std::string(FILES[DISPLACE]) + ": not loaded; the surface is drawn without relief\n";
    return err;
}

class HostileFiles : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Mesa's software renderer then draws on the viewer's own thread, one
        // frame at a time. With worker threads, how many frames are in flight
        // at the peak varies, and the peak with it, by tens of megabytes.
        setenv("LP_NUM_THREADS", "0", 1);
        const std::string dir = sampleFolder();
        valid_ = new ViewerRun(runViewer(dir, 1.0, true));
        std::filesystem::remove_all(dir);
    }

    static void TearDownTestSuite() { delete valid_; }

    // What every hostile run must show, whatever the file.
    static void expectSound(const ViewerRun& run, Image image, const std::string& lines, const std::string& reason)
    {
        EXPECT_TRUE(run.drewFrame);
        EXPECT_TRUE(run.stillRunning);
        EXPECT_EQ(run.out, expectedOut(image, lines));
        EXPECT_EQ(run.err, expectedErr(image, reason));
        EXPECT_GT(run.peakResidentKb, 0);
        EXPECT_LE(run.peakResidentKb, valid_->peakResidentKb + RESIDENT_MARGIN_KB);
    }

    static ViewerRun* valid_;
};

ViewerRun* HostileFiles::valid_ = nullptr;

TEST_F(HostileFiles, ViewerKeepsDrawingAndSaysWhatIsWrong)
{
    ASSERT_TRUE(valid_->drewFrame);
    ASSERT_EQ(valid_->err, "");
    // Whatever one image's file holds, what is drawn is the same: the dome
    // without that image. The normal image is not drawn at all.
    std::vector<unsigned char> withoutImage[3];
    withoutImage[NORMAL] = valid_->frame;

    for (const Hostile& file : hostileFiles()) {
        SCOPED_TRACE(std::string(file.what) + " as " + FILES[file.image]);
        const std::string dir = sampleFolder();
        const std::string path = dir + "/" + FILES[file.image];
        std::filesystem::remove(path);
        if (file.kind == DIRECTORY)
            std::filesystem::create_directory(path);
        else if (file.kind == FIFO)
            ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        else
            writeFile(path, file.bytes);

        const ViewerRun run = runViewer(dir, 1.0, true);
        std::filesystem::remove_all(dir);
        expectSound(run, file.image, loadingLine(file.image) + file.header, file.reason);
        ASSERT_FALSE(run.frame.empty());
        if (withoutImage[file.image].empty())
            withoutImage[file.image] = run.frame;
        EXPECT_TRUE(run.frame == withoutImage[file.image]) << "the picture differs";
    }
}

TEST_F(HostileFiles, UnreadableFileIsNamedAndNotLoaded)
{
    if (!viewerHonoursPermissions())
        GTEST_SKIP() << "running as root, and root's power to read any file cannot be dropped here";
    const std::string dir = sampleFolder();
    ASSERT_EQ(chmod((dir + "/" + FILES[DISPLACE]).c_str(), 0), 0);
    const ViewerRun run = runViewer(dir, 1.0, false);
    std::filesystem::remove_all(dir);
    // Not opened: no loading lines for it.
    expectSound(run, DISPLACE, "", "cannot be opened (Permission denied)");
}

}  // namespace
