// Draws the viewer's picture without a window and writes it as PNG: a still,
// or a turntable of frames turned about the vertical axis.
//     dispdome-render [options] OUTPUT.png
// The set-up and the frame are the viewer's own (initScene, reshape,
// drawFrame); only the GL context differs: EGL with no window, drawing into
// a pbuffer of the window's kind (8-bit colour, 24-bit depth).
#include "command_line.h"
#include "image_options.h"
#include "output_file.h"
#include "png_image.h"
#include "surface.h"
#include "viewer.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* PROGRAM = "dispdome-render";

// A turntable of one degree a frame at the finest.
constexpr int MOST_FRAMES = 360;

// The viewer's lighting normals unless --normals says otherwise.
constexpr SurfaceNormals NORMALS = SurfaceNormals::Viewer;

// --pan's X and Y move the surface right and up, and the frame translates
// by -cameraOffset: the offset's x and y are the pan's negated, and the
// other way round. (0 - v, not -v: an offset of 0 shows as 0, not -0.)
constexpr float panned(float v)
{
    return 0.0f - v;
}

// The usage, with the viewer's numbers taken from where they are defined.
const std::string USAGE = std::string(
    "Usage: dispdome-render [options] OUTPUT.png\n"
    "\n"
    "Draws what the viewer shows, from the images in texture/, without a window,\n"
    "display or GPU, and writes it as an 8-bit RGB PNG.\n"
    "\n"
    "Options (the first four set the camera as the viewer's mouse does):\n"
    "  --tilt DEG        angle about the horizontal axis (default ") + shown(START_ANGLES.x) + "): a vertical\n"
    "                    left drag's, " + shown(DEGREES_PER_PIXEL) + " degree a pixel, down +\n"
    "  --turn DEG        angle about the vertical axis (default " + shown(START_ANGLES.y) + "): a horizontal\n"
    "                    left drag's, " + shown(DEGREES_PER_PIXEL) + " degree a pixel, right +; past +-" +
    shown(ANGLE_LIMIT) + " it is 0\n"
    "  --pan X,Y         surface moved X right and Y up in scene units (default\n"
    "                    " + shown(panned(START_OFFSET.x)) + "," + shown(panned(START_OFFSET.y)) +
    "), as a Ctrl + left drag moves it\n"
    "  --distance D      camera's distance (default " + shown(START_OFFSET.z) + "), as a right drag sets it\n"
    "  --size WxH        picture size (default " + std::to_string(WINDOW_WIDTH) + "x" +
    std::to_string(WINDOW_HEIGHT) + ", the window's), up to the\n"
    "                    largest framebuffer GL makes\n"
    + lightOptionUsage() +
    "  --relief K        relief K times the viewer's (default 1: the height\n"
    "                    image's value divided by " + shown(DISPLACE_DIVISOR) + ")\n"
    "  --turntable N     N pictures (1 to " + std::to_string(MOST_FRAMES) + "), each turned 360/N degrees further,\n"
    "                    named OUTPUT-00.png, OUTPUT-01.png ...\n"
    + imageOptionsUsage(NORMALS) +
    "  -h, --help        show this text\n"
    "  --version         show the version\n"
    "A value follows its option after a space or an '=' (--tilt=40); -- ends\n"
    "the options.\n"
    "\n"
    "Without the viewer's colour image the surface is untextured, without its\n"
    "height image flat; an image --color or --displacement names must be read,\n"
    "and named heights must give relief. Each file appears once complete; a\n"
    "failure ends a turntable there. Exit status: 0 when written, 1 when GL,\n"
    "the picture, a named image or a file failed, 2 for bad arguments.\n";

struct Options {
    // The camera as the viewer starts it, each part replaced by its option
    // where given: --tilt and --turn the angles about x and y, --pan the
    // offset's x and y, --distance its z.
    Vector3 angles = START_ANGLES;
    Vector3 offset = START_OFFSET;
    Vector3 light = START_LIGHT;
    float relief = Displacement{}.scale;  // the viewer's own
    int width = WINDOW_WIDTH, height = WINDOW_HEIGHT;
    int frames = 0;  // 0: a still, named OUTPUT itself
    std::string output;
    ImageOptions images = {nullptr, nullptr, NORMALS};
};

// The whole text as an integer from 1 to most.
bool toCount(const char* text, long most, int& value)
{
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    value = int(n);
    return end != text && *end == '\0' && n >= 1 && n <= most;
}

// -1 to go on, else the exit status.
int parseArguments(int argc, char** argv, Options& o)
{
    auto number = [](float& value) { return [&value](const char* text) { return toFloat(text, value); }; };
    std::vector<Option> options = {
        valuedOption(PROGRAM, "tilt", "a number", number(o.angles.x)),
        valuedOption(PROGRAM, "turn", "a number", number(o.angles.y)),
        valuedOption(PROGRAM, "pan", "X,Y in scene units, such as 0.5,-1", [&o](const char* value) {
            float x = 0, y = 0;
            if (!splitPair(value, ',', [&](const char* a, const char* b) { return toFloat(a, x) && toFloat(b, y); }))
                return false;
            o.offset.x = panned(x);
            o.offset.y = panned(y);
            return true;
        }),
        valuedOption(PROGRAM, "distance", "a number", number(o.offset.z)),
        valuedOption(PROGRAM, "size", "WxH in pixels, such as 1920x1080", [&o](const char* value) {
            return splitPair(value, 'x', [&](const char* w, const char* h) {
                return toCount(w, 1L << 30, o.width) && toCount(h, 1L << 30, o.height);
            });
        }),
        lightOption(PROGRAM, o.light),
        valuedOption(PROGRAM, "relief", "a number", number(o.relief)),
        valuedOption(PROGRAM, "turntable", "a number of frames from 1 to 360",
               [&o](const char* value) { return toCount(value, MOST_FRAMES, o.frames); }),
    };
    for (Option& shared : imageOptions(PROGRAM, o.images))
        options.push_back(std::move(shared));
    const int status = readCommandLine(argc, argv, PROGRAM, USAGE.c_str(), options, [&o](const char* argument) {
        if (!o.output.empty())
            return secondName(PROGRAM, "output file", argument, false);
        o.output = argument;
        // A name before the extension: a turntable's frames go between.
        if (o.output.size() <= 4 || !hasSuffix(o.output, ".png")) {
            report(PROGRAM, "%s: the output's name must end in .png", o.output.c_str());
            return STATUS_BAD_ARGUMENTS;
        }
        return -1;
    });
    if (status >= 0)
        return status;
    if (o.output.empty())
        return noOutputGiven(PROGRAM);
    return -1;
}

// An image named on the command line must be there: the reader passes over
// a missing file in silence, as the viewer's own may be missing. False after
// one line on standard error.
bool namedImagesThere(const Options& o)
{
    for (const char* file : {o.images.color, o.images.displacement}) {
        std::error_code error;
        if (file && std::filesystem::status(file, error).type() == std::filesystem::file_type::not_found) {
            report(file, "cannot be opened (%s)", error.message().c_str());
            return false;
        }
    }
    return true;
}

// Frame k of a turntable of n: OUTPUT with "-k" before ".png", k padded to
// two digits, or to the digits of n - 1 where there are more.
std::string frameName(const std::string& output, int k, int n)
{
    const size_t digits = std::max<size_t>(2, std::to_string(n - 1).size());
    std::string number = std::to_string(k);
    number.insert(0, digits - number.size(), '0');
    return output.substr(0, output.size() - 4) + "-" + number + output.substr(output.size() - 4);
}

// The picture is drawn into an EGL pbuffer of 8-bit red, green and blue and
// a 24-bit depth buffer, as the viewer's window has. Mesa keeps such a
// pbuffer in the X window's pixel format (XRGB): in a framebuffer object
// (RGBA) llvmpipe rounds a few colours the other way.
const EGLint PICTURE_CONFIG[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                 EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_DEPTH_SIZE, 24, EGL_NONE};

// Mesa's surfaceless platform, or else EGL's default display; no display
// when neither initialises.
EGLDisplay openDisplay()
{
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto platformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (client && std::strstr(client, "EGL_MESA_platform_surfaceless") && platformDisplay) {
        EGLDisplay display = platformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
            return display;
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    return display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr) ? display : EGL_NO_DISPLAY;
}

// The first config with exactly 8 bits of each colour and 24 of depth (EGL
// lists deeper ones first); without alpha, as the window, where there is one.
bool chooseConfig(EGLDisplay display, EGLConfig& chosen)
{
    EGLConfig configs[256];
    EGLint count = 0;
    if (!eglChooseConfig(display, PICTURE_CONFIG, configs, 256, &count))
        return false;
    int best = -1;
    for (int k = 0; k < count; ++k) {
        EGLint red = 0, alpha = 0, depth = 0;
        eglGetConfigAttrib(display, configs[k], EGL_RED_SIZE, &red);
        eglGetConfigAttrib(display, configs[k], EGL_ALPHA_SIZE, &alpha);
        eglGetConfigAttrib(display, configs[k], EGL_DEPTH_SIZE, &depth);
        if (red == 8 && depth == 24 && (best < 0 || alpha == 0)) {
            best = k;
            if (alpha == 0)
                break;
        }
    }
    if (best >= 0)
        chosen = configs[best];
    return best >= 0;
}

// An OpenGL context current on a pbuffer of width x height. Returns the exit
// status after one line on standard error, or -1 when made.
int makeContext(int width, int height)
{
    auto fail = [](int status, const std::string& why) {
        report(PROGRAM, "%s", why.c_str());
        return status;
    };
    const EGLDisplay display = openDisplay();
    if (display == EGL_NO_DISPLAY)
        return fail(STATUS_FAILED, "no EGL display: neither Mesa's surfaceless platform nor EGL's default display works "
                            "(Debian: libegl-mesa0)");
    // Desktop OpenGL's compatibility profile: the viewer is fixed-function.
    EGLConfig config = nullptr;
    if (!eglBindAPI(EGL_OPENGL_API) || !chooseConfig(display, config))
        return fail(STATUS_FAILED, "EGL offers no desktop OpenGL with 8-bit colour and a 24-bit depth buffer here");
    // GL says how large a picture it draws; it needs a current context to
    // say it, so the context starts on a pbuffer of one pixel.
    const EGLint onePixel[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    const EGLSurface probe = eglCreatePbufferSurface(display, config, onePixel);
    const EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (probe == EGL_NO_SURFACE || context == EGL_NO_CONTEXT || !eglMakeCurrent(display, probe, probe, context))
        return fail(STATUS_FAILED, "EGL cannot make an OpenGL context");
    GLint renderbuffer = 0, viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    const int largestWidth = std::min(renderbuffer, viewport[0]), largestHeight = std::min(renderbuffer, viewport[1]);
    if (width > largestWidth || height > largestHeight)
        return fail(STATUS_BAD_ARGUMENTS, std::to_string(width) + " x " + std::to_string(height) +
                                       " is larger than GL draws here (" + std::to_string(largestWidth) + " x " +
                                       std::to_string(largestHeight) + " at most)");
    const EGLint size[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    const EGLSurface surface = eglCreatePbufferSurface(display, config, size);
    if (surface == EGL_NO_SURFACE || !eglMakeCurrent(display, surface, surface, context))
        return fail(STATUS_FAILED, "EGL cannot make a picture of " + std::to_string(width) + " x " + std::to_string(height));
    return -1;
}

// zlib level for the PNGs: about 14 ms for a 700 x 700 frame, against 21-25
// for zlib's default 6 and 80-100 for 9, for files 45-55% larger than 6's
// (50-70 KB): the frame itself takes about 150 ms (docs/performance.md).
constexpr int PNG_LEVEL = 1;

// The picture as PNG: read back bottom row first, stored top row first.
std::vector<unsigned char> framePng(int width, int height, std::vector<unsigned char>& rgb)
{
    const size_t row = size_t(width) * 3;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    for (size_t top = 0, bottom = size_t(height) - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(&rgb[top * row], &rgb[top * row] + row, &rgb[bottom * row]);
    return encodePng(width, height, rgb.data(), PNG_LEVEL);
}

// Draws and writes every frame, each file as soon as its frame is drawn.
int render(const Options& o)
{
    auto fail = [](const std::string& why) {
        report(PROGRAM, "%s", why.c_str());
        return STATUS_FAILED;
    };
    if (!namedImagesThere(o))
        return STATUS_FAILED;
    const int noContext = makeContext(o.width, o.height);
    if (noContext >= 0)
        return noContext;
    std::vector<unsigned char> rgb;
    try {
        rgb.resize(size_t(o.width) * size_t(o.height) * 3);
    } catch (const std::bad_alloc&) {
        return fail("no memory for a picture of " + std::to_string(o.width) + " x " + std::to_string(o.height));
    }

    // The viewer's set-up from our images, relief, normals and light: images
    // named on the command line that are not read end the run before the
    // surface is built.
    ViewerStart start;
    start.colorFile = o.images.color;
    start.displaceFile = o.images.displacement;
    start.relief = o.relief;
    start.normals = o.images.normals;
    start.light = o.light;
    if (!initScene(start))
        return STATUS_FAILED;
    reshape(o.width, o.height);
    // As the mouse would leave the camera.
    cameraAngles = o.angles;
    limitAngles(cameraAngles);
    cameraOffset = o.offset;
    const float turn = cameraAngles.y;
    const int count = o.frames > 0 ? o.frames : 1;
    for (int k = 0; k < count; ++k) {
        const std::string name = o.frames > 0 ? frameName(o.output, k, count) : o.output;
        // The turntable keeps turning where a drag would snap to 0: one turn
        // less is the same view.
        const float angle = turn + float(k) * 360.0f / float(count);
        cameraAngles.y = angle > 360.0f ? angle - 360.0f : angle;
        drawFrame();
        const std::vector<unsigned char> png = framePng(o.width, o.height, rgb);
        if (png.empty() || glGetError() != GL_NO_ERROR)
            return fail("cannot make the picture for " + name);
        if (!writeWholeOutput(name, png.data(), png.size()))
            return STATUS_FAILED;
        std::printf("wrote %s: %d x %d\n", name.c_str(), o.width, o.height);
    }
    return STATUS_WRITTEN;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    const int status = parseArguments(argc, argv, options);
    return status >= 0 ? status : render(options);
}
