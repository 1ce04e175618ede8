// The real viewer, run as a user runs it in a folder of images: what it
// prints, what its window shows on the X display, how the mouse moves the
// picture, and how it lives with files it cannot use.
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>     // Required for: open()
#include <sys/stat.h>  // Required for: mkfifo()
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

namespace {

const std::string SIX_LINES = "[Texture Loading] : texture/color.tga\nwidth: 512, height: 512\n"
                              "[Texture Loading] : texture/displace.tga\nwidth: 512, height: 512\n"
                              "[Texture Loading] : texture/normal.tga\nwidth: 512, height: 512\n";

// The viewer's 700 x 700 window, RGB, top row first, where it asked to be
// (no window manager runs).
std::string grab() { return runCommand("import -window root -crop 700x700+250+250 -depth 8 rgb:-").out; }

bool waitFor(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // set-up under sanitizers
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return done();
}

// A frame is up once the window's top row shows the white background; the
// root window under it is a black and white stipple.
bool frameShown() { return grab().compare(0, 48, std::string(48, '\xff')) == 0; }

// Starts the viewer in the working directory and waits for its first frame.
pid_t startViewer()
{
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        execl(VIEWER_BINARY, VIEWER_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_TRUE(waitFor(frameShown)) << "no frame";
    return pid;
}

// Kills it as the window system would; what it printed is what it flushed.
// Status 0 when it was still running.
Outcome stopViewer(pid_t pid)
{
    int status = 0;
    const bool running = waitpid(pid, &status, WNOHANG) == 0;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    waitFor([] { return !frameShown(); });
    return {running ? 0 : 1, readFile(".stdout"), readFile(".stderr")};
}

// Dome pixels (not white) and the mean column they lie in.
std::pair<int, double> dome(const std::string& frame)
{
    int count = 0;
    double columns = 0;
    for (size_t n = 0; n < frame.size(); n += 3)
        if (frame.compare(n, 3, "\xff\xff\xff") != 0) {
            ++count;
            columns += n / 3 % 700;
        }
    return {count, columns / std::max(count, 1)};
}

// The window once two looks in a row agree and differ from `unlike`: the
// picture has settled.
std::string settled(const std::string& unlike = "")
{
    std::string last, now;
    EXPECT_TRUE(waitFor([&] {
        last = std::exchange(now, grab());
        return now == last && now != unlike;
    }));
    return now;
}

// Drags with xdotool (screen coordinates) and waits for the new picture.
std::string dragged(const std::string& before, const std::string& drag)
{
    EXPECT_EQ(runCommand("xdotool mousemove 600 500 " + drag).status, 0);
    return settled(before);
}

TEST(Viewer, DrawsTheTexturedReliefAndFollowsTheMouse)
{
    // The sample images as the run script makes them, but a plain green
    // colour image: lit colour times texture leaves no red or blue.
    enterTemporaryFolder(false);
    const std::string tga = " -type TrueColor -compress None texture/";
    ASSERT_EQ(runCommand(MAKE_SAMPLES_BINARY).status, 0);
    ASSERT_EQ(runCommand("convert -size 512x512 xc:lime" + tga + "color.tga").status, 0);
    pid_t viewer = startViewer();
    const std::string relief = settled();
    // Ctrl + left pans 40 pixels right: the dome follows, about 34 pixels at
    // its distance. A left drag down tilts it.
    const std::string panned = dragged(relief, "keydown ctrl mousedown 1 mousemove 620 500 mousemove 640 500 mouseup 1 keyup ctrl");
    EXPECT_NEAR(dome(panned).second - dome(relief).second, 34, 8);
    dragged(panned, "mousedown 1 mousemove 600 520 mousemove 600 540 mouseup 1");
    const Outcome run = stopViewer(viewer);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, SIX_LINES);
    EXPECT_EQ(run.err, "");

    ASSERT_EQ(runCommand("convert -size 512x512 xc:black" + tga + "displace.tga").status, 0);
    viewer = startViewer();
    const std::string plain = settled();
    stopViewer(viewer);
    int lit = 0;
    for (size_t n = 0; n < plain.size(); n += 3)
        if (plain.compare(n, 3, "\xff\xff\xff") != 0) {
            ASSERT_TRUE(plain[n] == 0 && plain[n + 2] == 0) << "red or blue on the dome at byte " << n;
            lit += plain.compare(n, 3, relief, n, 3) != 0;
        }
    EXPECT_GT(dome(plain).first, 700 * 700 / 10);
    EXPECT_GT(lit, dome(plain).first / 10) << "the relief changes how the dome is lit";
}

TEST(Viewer, GoesOnWithoutTheImagesItCannotUse)
{
    // Nothing to read: the plain dome, untextured.
    enterTemporaryFolder(false);
    pid_t viewer = startViewer();
    EXPECT_GT(dome(settled()).first, 700 * 700 / 10);
    const Outcome bare = stopViewer(viewer);
    EXPECT_EQ(bare.status, 0);
    EXPECT_EQ(bare.out, "");
    EXPECT_EQ(bare.err, "texture/displace.tga: not loaded; the surface is drawn without relief\n");

    // A FIFO no one writes, a displacement image too small to sample, and a
    // header that claims 65535 x 65535 pixels.
    std::filesystem::create_directory("texture");
    ASSERT_EQ(mkfifo("texture/color.tga", 0644), 0);
    ASSERT_EQ(runCommand("convert -size 256x256 xc:white -type TrueColor -compress None texture/displace.tga").status, 0);
    writeFile("texture/normal.tga", tgaHeader(2, 65535, 65535, 24));
    const Outcome run = stopViewer(startViewer());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[Texture Loading] : texture/color.tga\n"
                       "[Texture Loading] : texture/displace.tga\nwidth: 256, height: 256\n"
                       "[Texture Loading] : texture/normal.tga\nwidth: 65535, height: 65535\n");
    EXPECT_EQ(run.err, "texture/color.tga: not a regular file\n"
                       "texture/normal.tga: pixel data cut short (0 of 12884508675 bytes)\n"
                       "texture/displace.tga: 256 x 256 is smaller than 512 x 512; the surface is drawn without relief\n");
}

}  // namespace
