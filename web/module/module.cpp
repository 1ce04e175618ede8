// The web page's way into the desktop's own readers, surface and export,
// compiled to WebAssembly (web/CMakeLists.txt): bytes in, bytes out.
// Nothing is decided here; every answer is the desktop code's.

#include "export_surface.h"
#include "image.h"
#include "image_files.h"
#include "mesh_writers.h"
#include "navigation.h"
#include "output_file.h"
#include "surface.h"
#include "web_page.h"

#include <emscripten/emscripten.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// One reading kept for the page: the image and the line the desktop would
// have printed on standard error when it refused the file ("" when read).
struct Decoded {
    ImageRead image;
    std::string refusal;
};

// The module prints nothing: the reader's console lines go to a file of its
// own, and its one line on standard error is read back from there.
constexpr const char* REFUSAL_FILE = "/refusal";

// The last surface evaluated, until the page has taken it.
std::vector<StripVertex> grid;

// The last strips' indices and line asked for, until the next ask.
std::vector<std::uint32_t> strips;
std::string textureLine;

// The parts the page that holds this module is made of, as it gave them:
// what the export writes pages with here.
WebPageParts pageParts;

// The bytes the export has written so far, told to the module's owner
// (Module.onWritten), where the export's progress is shown.
EM_JS(void, tellWritten, (double total), {
    if (Module.onWritten)
        Module.onWritten(total);
});

void toldWritten(size_t total) { tellWritten(double(total)); }

std::string lastLine()
{
    std::fflush(stderr);
    std::rewind(stderr);
    std::string line;
    char part[256];
    while (std::fgets(part, sizeof part, stderr))
        line += part;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

}  // namespace

const WebPageParts& builtInPageParts() { return pageParts; }

extern "C" {

// One of the page's parts, by the name its markup includes it by, and the
// module as the page carries it (deflated, in base64).
EMSCRIPTEN_KEEPALIVE void usePagePart(const char* name, const char* text) { pageParts.texts[name] = text; }
EMSCRIPTEN_KEEPALIVE void usePageModule(const char* base64) { pageParts.module = base64; }

// About how many bytes dispdome-export writes for a mesh of format, with a
// colour picture of width x height (meshBytesEstimate).
EMSCRIPTEN_KEEPALIVE double meshEstimate(const char* format, int width, int height)
{
    return meshBytesEstimate(format, width, height);
}

// dispdome-export's run on files in the module's own file system, with the
// arguments argv as its command line would give them: its exit status,
// its console lines on the module's standard output and error.
EMSCRIPTEN_KEEPALIVE int exportFiles(int argc, char** argv)
{
    // Emscripten's file system starts with a mask that leaves a new file
    // no permissions at all; a desktop's usual one.
    umask(022);
    outputWritten = toldWritten;
    return exportMain(argc, argv);
}

// Reads size bytes of the file name as the desktop does (the name chooses
// the decoder). Heights (when heights is not 0) keep their 16-bit red
// channel, and are refused as dispdome-render refuses them when they give
// no relief. Give the result to the decoded functions below, then to
// decodedFree; null when there is no memory for the answer.
EMSCRIPTEN_KEEPALIVE Decoded* decode(const unsigned char* data, size_t size, const char* name, int heights)
{
    auto* decoded = new (std::nothrow) Decoded;
    if (!decoded)
        return nullptr;
    std::freopen("/dev/null", "w", stdout);
    std::freopen(REFUSAL_FILE, "w+", stderr);
    // decodeImage, with the heights' own refusal before the lines.
    ImageRead& image = decoded->image;
    image = decodeNamed(data, size, name, heights != 0);
    const std::string refusal = heights ? noReliefLine(displacementOf(image, 1.0f), "draw") : "";
    if (!refusal.empty()) {
        refuse(image, "%s", refusal.c_str());
        image.pixels.reset();
    }
    reportImage(name, image);
    std::fflush(stdout);
    decoded->refusal = lastLine();
    return decoded;
}

// The size as the header claims (also when refused later).
EMSCRIPTEN_KEEPALIVE int decodedWidth(const Decoded* d) { return d->image.width; }
EMSCRIPTEN_KEEPALIVE int decodedHeight(const Decoded* d) { return d->image.height; }
// RGBA, 4 bytes a pixel, in the desktop's row order (row 0 at the bottom,
// a JPEG turned by its EXIF orientation); null when refused.
EMSCRIPTEN_KEEPALIVE const unsigned char* decodedPixels(const Decoded* d) { return d->image.pixels.get(); }
// "<name>: <reason>" when refused, else "".
EMSCRIPTEN_KEEPALIVE const char* decodedRefusal(const Decoded* d) { return d->refusal.c_str(); }
EMSCRIPTEN_KEEPALIVE void decodedFree(Decoded* d) { delete d; }

// A vertex as surfaceVertices gives it: its bytes, and where its texture
// coordinate (part 0), normal (1) and position (2) start in them.
EMSCRIPTEN_KEEPALIVE int vertexBytes() { return sizeof(StripVertex); }
EMSCRIPTEN_KEEPALIVE int vertexPart(int part)
{
    const size_t at[] = {offsetof(StripVertex, s), offsetof(StripVertex, nx), offsetof(StripVertex, x)};
    return part >= 0 && part < 3 ? int(at[part]) : -1;
}

// Every grid sample as the desktop's surfaceGrid() gives it (s t, normal,
// x y z: 8 floats each), displaced by the heights d (null: none) at relief
// scale relief, with the displaced surface's own normals when displaced is
// not 0, as the export writes them. The module keeps them until
// surfaceVerticesFree() or the next call. Null when memory runs out.
EMSCRIPTEN_KEEPALIVE const StripVertex* surfaceVertices(const Decoded* d, float relief, int displaced)
{
    static const bool built = (buildSurfaceTables(), true);
    (void)built;
    grid = {};
    // Room for the grid and the strip it is made from, asked for first:
    // this module has no exceptions, so a failing allocation would stop it.
    void* room = std::malloc((size_t(GRID_SAMPLES) * GRID_SAMPLES + STRIP_VERTICES) * sizeof(StripVertex));
    if (!room)
        return nullptr;
    std::free(room);
    const ImageRead none;
    grid = surfaceGrid(displacementOf(d ? d->image : none, relief));
    if (displaced)
        useDisplacedNormals(grid);
    return grid.data();
}

EMSCRIPTEN_KEEPALIVE void surfaceVerticesFree() { grid = {}; }

// The camera as the page holds it, 6 floats: its offset x y z, then its
// angles x y z (degrees). cameraDrag moves it as the viewer's drag moves
// by (dx, dy) pixels in mode (DRAG_ROTATE 0, DRAG_ZOOM 1, DRAG_PAN 2).
EMSCRIPTEN_KEEPALIVE void cameraDrag(int mode, double dx, double dy, float* camera)
{
    Vector3 offset = {camera[0], camera[1], camera[2]}, angles = {camera[3], camera[4], camera[5]};
    dragCamera(mode, dx, dy, offset, angles);
    const float moved[6] = {offset.x, offset.y, offset.z, angles.x, angles.y, angles.z};
    std::memcpy(camera, moved, sizeof moved);
}

// Into out, 41 floats: the viewer's model-view matrix for the camera, its
// projection for a width x height viewport (column-major, 16 each) and
// the normal matrix (3 x 3).
EMSCRIPTEN_KEEPALIVE void cameraMatrices(const float* camera, int width, int height, float* out)
{
    const Matrix4 modelView = cameraModelView({camera[0], camera[1], camera[2]}, {camera[3], camera[4], camera[5]});
    std::memcpy(out, modelView.m, sizeof modelView.m);
    std::memcpy(out + 16, cameraProjection(width, height).m, sizeof modelView.m);
    normalMatrix(modelView, out + 32);
}

// The grid indices of the strips over every step-th sample, in the order
// they are drawn, parted by 0xffffffff; stripIndexCount() of them, kept
// until the next call.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* stripIndexList(int step)
{
    strips = stripIndices(step);
    return strips.data();
}
EMSCRIPTEN_KEEPALIVE int stripIndexCount() { return int(strips.size()); }

// The viewer's line for a colour image GL does not take as a texture,
// kept until the next call.
EMSCRIPTEN_KEEPALIVE const char* textureTooLargeLine(const char* name, int width, int height, int largest)
{
    textureLine = textureTooLarge(name, width, height, largest);
    return textureLine.c_str();
}

}  // extern "C"
