// The real viewer, run as a user runs it in a folder of images: what it
// prints, what its window shows on the X display, how the mouse moves the
// picture, and that a file it cannot use stops nothing.
#include "support.h"
#include "tga.h"

namespace {

// The viewer's 700 x 700 window, RGB, top row first, where it asked to be
// (no window manager runs).
std::string grab()
{
    EXPECT_EQ(std::make_tuple(WINDOW_WIDTH, WINDOW_HEIGHT, WINDOW_X, WINDOW_Y), std::make_tuple(700, 700, 250, 250));
    return runCommand("import -window root -crop 700x700+250+250 -depth 8 rgb:-").out;
}

// The window once it shows `expected`, else as it is when `patience` has
// passed. Looks alone cannot tell where a drag ends: the viewer takes in what
// came during a frame only before the next, so a frame drawn partway through
// a drag can stand, under load, for several looks.
std::string showing(const std::string& expected, std::chrono::seconds patience)
{
    const auto end = std::chrono::steady_clock::now() + patience;
    std::string now = grab();
    while (now != expected && std::chrono::steady_clock::now() < end)
        now = grab();
    return now;
}

// Runs the viewer in the working directory and makes each drag from 600, 500
// (xdotool, screen coordinates; the first only puts the pointer there): the
// picture after each, awaited as the drag's expected one. Then kills it as the
// window system would, so what it printed is what it flushed; status 0 when
// it was still running.
std::pair<Outcome, std::vector<std::string>> runViewer(const std::vector<std::pair<std::string, std::string>>& drags)
{
    const pid_t pid = fork();
    if (pid < 0)  // kill(-1) below would end every process of ours
        std::abort();
    if (pid == 0)
        _exit(execl("/bin/sh", "sh", "-c", "exec '" VIEWER_BINARY "' >.stdout 2>.stderr", nullptr));
    // A minute for set-up under sanitizers; once a picture has not come, the
    // test has failed, and the rest are taken as they are.
    std::vector<std::string> pictures;
    std::chrono::seconds patience(60);
    for (const auto& [drag, expected] : drags) {
        EXPECT_EQ(runCommand("xdotool mousemove 600 500 " + drag).status, 0);
        pictures.push_back(showing(expected, patience));
        if (pictures.back() != expected)
            patience = std::chrono::seconds(0);
    }
    int status = 0;
    const bool running = kill(pid, SIGKILL) == 0 && waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) &&
                         WTERMSIG(status) == SIGKILL;
    return {{running ? 0 : 1, readFile(".stdout"), readFile(".stderr")}, pictures};
}

// The column where the dome begins on row 240 from the top, across its middle.
size_t domeStart(const std::string& picture) { return picture.find_first_not_of('\xff', 240 * 700 * 3) / 3 % 700; }

TEST(Viewer, DrawsTheDomeFollowsTheMouseAndPassesOverAFifo)
{
    // The sample images, as the run script makes them, turned into the
    // pictures a user starts from: upright, and numbered row by row in their
    // first two columns so that no two rows are alike. Those become the three
    // files by every command the README gives for it, as written: the colour
    // image ends colour-mapped, the height map grey-scale and run-length
    // encoded.
    enterTemporaryFolder(false);
    ASSERT_EQ(runCommand(std::string(MAKE_SAMPLES_BINARY) + " && convert -size 2x512 xc: -fx 'i ? int(j/256)/255 :"
                         " j%256/255' rows.png && for f in color displace normal; do convert texture/$f.tga -auto-orient"
                         " rows.png -composite $f.png; done && convert color.png PNG8:palette.png && convert color.png"
                         " photo.jpg && convert displace.png -type Grayscale heights.png && mv normal.png normals.png")
                  .status, 0);
    const std::string readme = readFile(README_FILE);
    const size_t from = readme.find("## Using your own images");
    std::istringstream section(readme.substr(from, readme.find("\n## ", from) - from));
    for (std::string line; std::getline(section, line);) {
        if (line.rfind("    ", 0) != 0)  // the indented lines are commands
            continue;
        // A backslash at the end continues one on the next line.
        for (std::string more; line.back() == '\\' && std::getline(section, more);)
            line += "\n" + more;
        EXPECT_EQ(runCommand(line).status, 0) << line;
        // What it wrote stands the right way up: the viewer's texture row 0,
        // which GL lays at the bottom, is the source's bottom row, and so on
        // up. The source is read by ImageMagick from a PNG or JPEG, which
        // has one row order only.
        std::istringstream words(line);
        std::string command, source, target;
        words >> command >> source;
        for (std::string word; words >> word;)
            target = word;
        if (command != "convert")
            continue;
        testing::internal::CaptureStdout();
        const std::unique_ptr<PixelBuffer[]> pixels(loadTga(target.c_str()));
        testing::internal::GetCapturedStdout();
        const std::string bottomUp = runCommand("convert " + source + " -flip rgba:-").out;
        EXPECT_TRUE(pixels && bottomUp.size() == 512 * 512 * 4 && bottomUp.compare(0, bottomUp.npos,
                    reinterpret_cast<const char*>(pixels.get()), bottomUp.size()) == 0) << line;
    }
    // The sample images are never written over one's own, nor beside them.
    // The README's PNG and JPEG lie beside the TGAs, which the viewer reads.
    const Outcome samples = runCommand("mv texture/color.tga . && " MAKE_SAMPLES_BINARY "; ls texture; mv color.tga texture");
    EXPECT_EQ(samples.out + samples.err,
              "color.jpg\ndisplace.png\ndisplace.tga\nnormal.tga\ntexture/displace.tga: already there, not overwritten\n");
    EXPECT_EQ(readFile("texture/color.tga").substr(2, 1) + readFile("texture/displace.tga").substr(2, 1), "\1\13");
    // A normal image (never drawn) that is a FIFO no one writes: it must not
    // be opened. A left drag down tilts the dome. Ctrl + left then pans 40
    // pixels right: the dome follows, about 34 pixels at its distance. Last,
    // a drag right and up turns it until its top stands in front of its far
    // slope, which only a window with a depth buffer hides. dispdome-render
    // draws the same pictures without a window, pixel for pixel, and each is
    // awaited as it draws it; the two 20-pixel pan steps leave 0.399999976 in
    // single precision.
    ASSERT_EQ(runCommand("rm texture/normal.tga && mkfifo texture/normal.tga").status, 0);
    const std::vector<std::pair<std::string, std::string>> views = {
        {"", " "},
        {"mousedown 1 mousemove 600 520 mousemove 600 540 mouseup 1", " --tilt 40 "},
        {"keydown ctrl mousedown 1 mousemove 620 500 mousemove 640 500 mouseup 1 keyup ctrl",
         " --tilt 40 --pan 0.399999976,0 "},
        {"mousedown 1 mousemove 660 495 mousemove 720 490 mouseup 1", " --tilt 30 --turn 120 --pan 0.399999976,0 "}};
    std::vector<std::pair<std::string, std::string>> drags;
    for (const auto& [drag, options] : views)
        drags.emplace_back(drag, runCommand(std::string(RENDER_BINARY) + options +
                                            "a.png >/dev/null && convert a.png -depth 8 rgb:-").out);
    const auto [run, pictures] = runViewer(drags);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[Texture Loading] : texture/color.tga\nwidth: 512, height: 512\n"
                       "[Texture Loading] : texture/displace.tga\nwidth: 512, height: 512\n"
                       "[Texture Loading] : texture/normal.tga\n");
    EXPECT_EQ(run.err, "texture/normal.tga: not a regular file\n");
    EXPECT_NEAR(double(domeStart(pictures[2])) - domeStart(pictures[1]), 34, 5);
    for (size_t i = 0; i < views.size(); ++i)
        EXPECT_EQ(unlike(drags[i].second, pictures[i], 0), 0u) << views[i].second;
}

}  // namespace
