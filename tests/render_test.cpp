// The real dispdome-render program, no display needed: its pictures against
// two made once by llvmpipe from the sample images and looked at, the relief read from
// displacement images of other shapes, a turntable through the README's GIF
// command, and refusals that leave the folder as it was, among them sizes
// past the largest GL draws, as GL says.
#include "support.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

namespace {

const std::string RENDER = std::string("'") + RENDER_BINARY + "' ";
const std::string TEXTURE_LINES = "[Texture Loading] : texture/color.tga\nwidth: 512, height: 512\n"
                                  "[Texture Loading] : texture/displace.tga\nwidth: 512, height: 512\n"
                                  "[Texture Loading] : texture/normal.tga\nwidth: 512, height: 512\n";

// A PNG's pixels as ImageMagick decodes them: RGB, top row first.
std::string pixels(const std::string& png) { return runCommand("convert '" + png + "' -depth 8 rgb:-").out; }

// What dispdome-render meets on Mesa's surfaceless EGL display: the
// renderer, the largest picture GL draws (renderbuffers and viewport) and the
// widest pbuffer EGL says it makes.
using Limits = std::tuple<std::string, GLint, GLint, EGLint>;

Limits eglLimits()
{
    const EGLDisplay display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress(
        "eglGetPlatformDisplayEXT"))(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    const EGLint wanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    GLint renderbuffer = 0, viewport[2] = {0, 0};
    Limits limits = {"", 0, 0, 0};
    // A context current on no surface, as Mesa allows.
    if (eglInitialize(display, nullptr, nullptr) && eglBindAPI(EGL_OPENGL_API) &&
        eglChooseConfig(display, wanted, &config, 1, &count) && count == 1 &&
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE,
                       eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr))) {
        glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
        glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
        limits = {reinterpret_cast<const char*>(glGetString(GL_RENDERER)), std::min(renderbuffer, viewport[0]),
                  std::min(renderbuffer, viewport[1]), 0};
        eglGetConfigAttrib(display, config, EGL_MAX_PBUFFER_WIDTH, &std::get<3>(limits));
    }
    eglTerminate(display);
    return limits;
}

// How far a's colours lie from b's on average over b's surface (not white),
// in levels: the largest of the three channels' mean signed differences.
double colourShift(const std::string& a, const std::string& b)
{
    double sum[3] = {0, 0, 0}, surface = 1;
    for (size_t n = 0; n + 3 <= std::min(a.size(), b.size()); n += 3) {
        surface += b.compare(n, 3, "\xff\xff\xff") != 0;
        for (int c = 0; c < 3; ++c)
            sum[c] += int(static_cast<unsigned char>(a[n + c])) - static_cast<unsigned char>(b[n + c]);
    }
    return std::max({std::fabs(sum[0]), std::fabs(sum[1]), std::fabs(sum[2])}) / surface;
}

TEST(Render, PicturesAreTheViewersAndHeightsOfAnySizeGiveRelief)
{
    // The first view; and one turned to the back, where the strips are drawn
    // front to back, tilted and zoomed in until the near edge is under a unit
    // from the eye. Another llvmpipe build or CPU may round a colour or an
    // edge pixel differently by a level or two, so up to 0.5% of the pixels
    // may be off by more than 2 levels; a wrong light, clipping plane, depth
    // test or texture mode changes tens of thousands. Rounding goes either
    // way and cancels out in the mean colour, which a fainter light moves by
    // a level or more.
    // The reference pictures are llvmpipe's; the tests' environment pins it
    // for EGL, whatever GPU the machine has.
    EXPECT_NE(std::get<0>(eglLimits()).find("llvmpipe"), std::string::npos) << std::get<0>(eglLimits());
    enterTemporaryFolder(true);
    const std::pair<std::string, std::string> views[] = {{"", "render_first.png"},
                                                         {"--tilt 20 --turn 160 --distance 3.5 ", "render_turned.png"}};
    for (const auto& [options, reference] : views) {
        const Outcome run = runCommand(RENDER + options + reference);
        EXPECT_EQ(run.out + run.err, TEXTURE_LINES + "wrote " + reference + ": 700 x 700\n");
        const std::string picture = pixels(reference), expected = pixels(REFERENCE_FOLDER + reference);
        EXPECT_LE(unlike(picture, expected, 2), 700u * 700 / 200) << reference;
        EXPECT_LT(colourShift(picture, expected), 0.5) << reference;
    }

    // Heights of any size give relief: 300 x 200, and a single texel (a
    // lift all over), are drawn without a word, unlike the plain dome that
    // a missing image gets with its line.
    std::filesystem::remove("texture/displace.tga");
    const Outcome plain = runCommand(RENDER + "plain.png");
    EXPECT_EQ(plain.err, "texture/displace.tga: not loaded; the surface is drawn without relief\n");
    for (const Bytes& image : {tgaHeader(2, 300, 200, 24) + Bytes(300 * 200 * 3, 200), tgaHeader(2, 1, 1, 24) + Bytes(3, 255)}) {
        writeFile("texture/displace.tga", image);
        const Outcome run = runCommand(RENDER + "out.png");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_GT(unlike(pixels("out.png"), pixels("plain.png"), 2), 1000u);
    }

    // A turntable of four: frame 2 is the view turned 180 degrees; the
    // README's command makes the GIF of them.
    ASSERT_EQ(runCommand(RENDER + "--size 64x48 --turn 180 turned.png && " + RENDER + "--size 64x48 --turntable 4 dome.png")
                  .status, 0);
    EXPECT_TRUE(pixels("dome-02.png") == pixels("turned.png"));
    const std::string readme = readFile(README_FILE);
    const size_t from = readme.find("## Pictures without a display");
    std::istringstream section(readme.substr(from, readme.find("\n## ", from) - from));
    for (std::string line; std::getline(section, line);)
        EXPECT_TRUE(line.rfind("    convert", 0) != 0 || runCommand(line).status == 0) << line;
    EXPECT_EQ(runCommand("identify -format '%wx%h ' dome.gif").out, "64x48 64x48 64x48 64x48 ");
}

TEST(Render, APngOrJpegServesWhereNoTgaIsAndATgaThatIsThereWins)
{
    // The sample images also as PNG (the heights at 16 bits, v * 257, which
    // give the same T = v / 255) and the colour as JPEG: the TGAs are read.
    // Without them the PNGs, which must give the same picture, then the
    // JPEG. An empty TGA beside the PNG still wins; it, or a JPEG cut short,
    // gets its line and the picture is drawn without colour.
    enterTemporaryFolder(true);
    ASSERT_EQ(runCommand("cd texture && convert color.tga -auto-orient color.png && convert color.png color.jpg && "
                         "convert displace.tga -auto-orient -depth 16 displace.png").status, 0);
    auto render = [](const std::string& remove) {
        const Outcome run = runCommand("rm -f " + remove + " && " + RENDER + "out.png");
        return std::tuple(run.out, run.err, pixels("out.png"));
    };
    const auto [tgaOut, tgaErr, tgaPicture] = render("");
    EXPECT_EQ(tgaOut, TEXTURE_LINES + "wrote out.png: 700 x 700\n");
    const auto [pngOut, pngErr, pngPicture] = render("texture/color.tga texture/displace.tga");
    EXPECT_EQ(pngOut.rfind("[Texture Loading] : texture/color.png\nwidth: 512, height: 512\n"
                           "[Texture Loading] : texture/displace.png\nwidth: 512, height: 512\n", 0), 0u);
    EXPECT_TRUE(pngPicture == tgaPicture);
    writeFile("texture/color.tga", {});
    const auto [emptyOut, emptyErr, emptyPicture] = render("");
    EXPECT_EQ(emptyErr, "texture/color.tga: empty file\n");
    const std::string jpegOut = std::get<0>(render("texture/color.tga texture/color.png"));
    EXPECT_EQ(jpegOut.rfind("[Texture Loading] : texture/color.jpg\nwidth: 512", 0), 0u);
    const std::string jpeg = readFile("texture/color.jpg");
    writeFile("texture/color.jpg", Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
    const auto [cutOut, cutErr, cutPicture] = render("");
    EXPECT_EQ(cutErr, "texture/color.jpg: bad JPEG (Premature end of JPEG file)\n");
    EXPECT_TRUE(cutPicture == std::get<2>(render("texture/color.jpg")) && emptyPicture == cutPicture);
}

TEST(Render, RefusalsSayWhyAndLeaveTheFolderAsItWas)
{
    // A picture a pixel wider or taller than GL draws here, as GL says.
    const auto [renderer, width, height, pbufferWidth] = eglLimits();
    const std::string wide = std::to_string(width + 1), tall = std::to_string(height + 1),
                      most = " is larger than GL draws here (" + std::to_string(width) + " x " +
                             std::to_string(height) + " at most)\n";
    enterTemporaryFolder(true);
    std::filesystem::create_directory("folder.png");
    writeFile("old.png", {'o', 'l', 'd'});
    EXPECT_EQ(refusalsUnlike({
        {RENDER + "--pan 1 a.png", 2, "dispdome-render: --pan needs X,Y in scene units, such as 0.5,-1, not '1'\n"},
        {RENDER + "--size " + wide + "x2 a.png", 2, "dispdome-render: " + wide + " x 2" + most},
        {RENDER + "--size 2x" + tall + " a.png", 2, "dispdome-render: 2 x " + tall + most},
        {RENDER + "folder.png", 1, "folder.png: is a directory\n"},
        // Past a file-size limit of 10 KB.
        {"ulimit -f 10; " + RENDER + "old.png", 1, "old.png: cannot be written (File too large)\n"},
              }), "");
    EXPECT_EQ(readFile("old.png"), "old");
    // As wide as GL draws: drawn, unless EGL says its pbuffers are narrower
    // and refuses (Mesa says 4096 and makes wider ones).
    const Outcome widest = runCommand(RENDER + "--size " + std::to_string(width) + "x1 wide.png");
    EXPECT_TRUE(widest.status == 0 || (width > pbufferWidth && widest.status == 1)) << renderer << ": " << widest.err;
}

}  // namespace
