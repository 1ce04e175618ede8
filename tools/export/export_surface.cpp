// Writes the displaced dome the viewer draws as a mesh file other programs
// open: every grid sample once, with its normal and texture coordinate, the
// two triangles per grid cell that the viewer's strips draw, and the colour
// image as a PNG picture.
//     dispdome-export [options] OUTPUT.ply|.obj|.glb
// Needs no window and no GL: it links the surface arithmetic alone.
#include "export_surface.h"

#include "command_line.h"
#include "image_files.h"
#include "image_options.h"
#include "mesh_writers.h"
#include "output_file.h"
#include "png_image.h"
#include "surface.h"
#include "view.h"
#include "web_page.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* PROGRAM = "dispdome-export";

// zlib's level for the picture: its default, small at little cost.
constexpr int PNG_LEVEL = 6;

// The displaced surface's own normals, which show the relief to any
// renderer, unless --normals says otherwise.
constexpr SurfaceNormals NORMALS = SurfaceNormals::Displaced;

// The largest texture many phones and older laptops take: a page's colour
// image past it is drawn untextured there.
constexpr int PAGE_TEXTURE_SIDE = 4096;

// The usage, with the numbers taken from where they are defined.
const std::string USAGE = std::string(
    "Usage: dispdome-export [--displacement FILE] [--color FILE] [--normals KIND]\n"
    "                      [--relief K] [--light X,Y,Z] OUTPUT.ply|.obj|.glb|.html\n"
    "\n"
    "Writes the displaced surface the viewer draws, with its colour image: its\n"
    "1025 x 1025 samples (position, normal, texture coordinate) and the\n"
    "2,097,152 triangles of its strips, counter-clockwise seen from above, in\n"
    "the format the output's extension names:\n"
    "  .ply   binary little-endian PLY (x y z nx ny nz s t as float), and\n"
    "         OUTPUT.png, the colour image, named in a TextureFile comment\n"
    "  .obj   Wavefront OBJ (v, vt, vn, f a/a/a), OUTPUT.mtl and OUTPUT.png\n"
    "  .glb   glTF 2.0 binary, the colour image embedded as PNG\n"
    "  .html  one web page that reads the images, evaluates the surface and\n"
    "         writes the meshes with this program's code compiled to\n"
    "         WebAssembly, and draws the relief in WebGL2, turned as in the\n"
    "         viewer; it needs no network, server or other file, and takes\n"
    "         images dropped on it\n"
    "Without the viewer's colour image (texture/color.*) the output is plain\n"
    "white; the height image, and a colour image --color names, must be read.\n"
    "\n"
    "Options:\n") +
    imageOptionsUsage(NORMALS) +
    "  --relief K        relief K times the viewer's (default 1: the height\n"
    "                    image's value divided by " + shown(DISPLACE_DIVISOR) + "); the page starts with it\n"
    + lightOptionUsage("; the page starts with it, a mesh has none") +
    "  -h, --help        show this text\n"
    "  --version         show the version\n"
    "A value follows its option after a space or an '=' (--color=FILE); --\n"
    "ends the options.\n"
    "\n"
    "The files appear only once all are complete. Exit status: 0 when written,\n"
    "1 when an image that must be read or a file failed, 2 for bad arguments.\n";

enum class Format { Ply, Obj, Glb, Html };

struct Options {
    // A colour image named on the command line must be read; the viewer's
    // own may be missing. (Without relief there is nothing to export.)
    ImageOptions images = {nullptr, nullptr, NORMALS};
    std::string output;
    Format format = Format::Ply;
    float relief = Displacement{}.scale;  // the viewer's own
    Vector3 light = START_LIGHT;           // the page's, at its start
};

// Reads the height image into image as the viewer reads it; false (after
// one line on standard error) when there is no relief to export.
bool readRelief(const std::string& file, ImageRead& image)
{
    image = loadImage(file.c_str(), true);
    if (image.missing)
        report(file, "%s", image.reason.c_str());  // the reader passes over a missing file in silence
    if (!image.pixels)
        return false;  // the reader has said why
    const std::string refusal = noReliefLine(displacementOf(image, 1.0f), "export");
    if (!refusal.empty())
        report(file, "%s", refusal.c_str());
    return refusal.empty();
}

// The colour image as read, kept as the reader gives it: its rows go to the
// PNG one at a time. No pixels, after one line on standard error ending in
// consequence, when there is no image to lay on (a file the reader refused
// has had its own line).
ImageRead loadPicture(const std::string& file, const char* consequence)
{
    ImageRead image = loadImage(file.c_str());
    const bool none = !image.pixels || image.width == 0 || image.height == 0;
    if (image.missing)  // the reader passes over a missing file in silence
        report(file, "%s%s", image.reason.c_str(), consequence);
    else if (none && (*consequence || image.reason.empty()))
        report(file, "no picture to lay on the surface%s", consequence);
    if (none)
        image.pixels.reset();
    return image;
}

// Writes the mesh and its companions: all appear together once complete, or
// none does. The picture and material go into place before the mesh, so a
// mesh never names a missing file.
bool exportSurface(const std::string& output, Format format, const Displacement& heights, SurfaceNormals normals,
                   const PngPicture* png)
{
    const std::string stem = output.substr(0, output.size() - 4);
    const std::string base = stem.substr(stem.find_last_of('/') + 1);
    std::string picture;
    std::vector<std::string> paths;
    if (png && format != Format::Glb) {
        picture = base + ".png";
        paths.push_back(stem + ".png");
    }
    if (format == Format::Obj)
        paths.push_back(stem + ".mtl");
    paths.push_back(output);

    std::vector<OutputFile> files(paths.size());
    for (size_t k = 0; k < files.size(); ++k)
        if (!openOutput(files[k], paths[k])) {
            for (size_t j = 0; j < k; ++j)
                discardOutput(files[j]);
            return false;
        }
    OutputFile& mesh = files.back();
    bool written = true;
    if (!picture.empty())
        written = putPng(files[0], *png) > 0;
    std::vector<StripVertex> grid = surfaceGrid(heights);
    if (normals == SurfaceNormals::Displaced)
        useDisplacedNormals(grid);
    if (format == Format::Ply) {
        writePly(mesh, grid, picture);
    } else if (format == Format::Obj) {
        writeMtl(files[files.size() - 2], picture);
        writeObj(mesh, grid, base + ".mtl");
    } else {
        written = writeGlb(mesh, grid, png, PROGRAM);
    }
    for (OutputFile& file : files)
        written = closeOutput(file) && written;
    if (written)
        return commitOutputs(files);
    for (OutputFile& file : files)
        discardOutput(file);
    return false;
}

// The output's format, from its extension; false after one line on
// standard error when it has none of them.
bool chooseFormat(Options& o)
{
    const std::pair<const char*, Format> formats[] = {
        {".ply", Format::Ply}, {".obj", Format::Obj}, {".glb", Format::Glb}, {".html", Format::Html}};
    for (const auto& [extension, format] : formats)
        if (hasSuffix(o.output, extension)) {
            o.format = format;
            return true;
        }
    report(o.output, "unknown extension: the name must end in .ply, .obj, .glb or .html");
    return false;
}

// -1 to go on, else the exit status.
int parseArguments(int argc, char** argv, Options& o)
{
    std::vector<Option> options = imageOptions(PROGRAM, o.images);
    options.push_back(
        valuedOption(PROGRAM, "relief", "a number", [&o](const char* value) { return toFloat(value, o.relief); }));
    options.push_back(lightOption(PROGRAM, o.light));
    const int status = readCommandLine(argc, argv, PROGRAM, USAGE.c_str(), options, [&o](const char* argument) {
        if (!o.output.empty())
            return secondName(PROGRAM, "output file", argument, true);
        o.output = argument;
        return -1;
    });
    if (status >= 0)
        return status;
    if (o.output.empty())
        return noOutputGiven(PROGRAM);
    return chooseFormat(o) ? -1 : STATUS_BAD_ARGUMENTS;
}

}  // namespace

// What the build says to run for the web page's module, where it was built
// without it; the module itself never lacks it.
#ifndef WEB_MODULE_HOW
#define WEB_MODULE_HOW ""
#endif

namespace {

int exportWith(int argc, char** argv)
{
    Options o;
    const int status = parseArguments(argc, argv, o);
    if (status >= 0)
        return status;
    // A page needs the module that reads its images in the browser: where
    // this program was built without it, it says so before reading any.
    if (o.format == Format::Html && !webModuleBuiltIn()) {
        report(o.output, "cannot be written: this dispdome-export was built without the web page's module: "
               WEB_MODULE_HOW);
        return STATUS_FAILED;
    }
    buildSurfaceTables();
    const ImageOptions& named = o.images;
    ImageRead heightImage;
    if (!readRelief(named.displacement ? named.displacement : chosenImageFile(DISPLACE_FILE), heightImage))
        return STATUS_FAILED;
    const Displacement heights = displacementOf(heightImage, o.relief);
    // A colour image typed on the command line is wanted: without it,
    // nothing is written. Without the viewer's own the result is untextured.
    const std::string colourFile = named.color ? named.color : chosenImageFile(COLOR_FILE);
    const char* untextured = o.format == Format::Html ? "; the page has no texture" : "; the mesh has no texture";
    const ImageRead colour = loadPicture(colourFile, named.color ? "" : untextured);
    if (!colour.pixels && named.color)
        return STATUS_FAILED;
    const PngPicture picture = bottomUpPicture(colour.pixels.get(), colour.width, colour.height, PNG_LEVEL);
    const PngPicture* png = colour.pixels ? &picture : nullptr;
    if (o.format == Format::Html) {
        // The page holds the images as text: a colour JPEG as it is, else
        // the PNG made in memory, and the heights it reads as a PNG.
        size_t bytes = 0;
        const std::string heightsFile = named.displacement ? named.displacement : chosenImageFile(DISPLACE_FILE);
        // The page starts with the viewer's normals unless told otherwise.
        const PageStart start = {named.normalsNamed ? named.normals : SurfaceNormals::Viewer, o.light};
        if (!writeWebPage(o.output, pagePicture(colourFile, png), colourFile, heights, heightsFile, start, bytes))
            return STATUS_FAILED;
        if (png && std::max(colour.width, colour.height) > PAGE_TEXTURE_SIDE)
            report(colourFile, "%d x %d is wider or taller than %d, the largest texture many phones and older laptops "
                   "take: there the page draws the surface untextured", colour.width, colour.height,
                   PAGE_TEXTURE_SIDE);
        std::printf("wrote %s: a web page of %zu bytes that draws %zu vertices, %zu triangles\n", o.output.c_str(),
                    bytes, VERTEX_COUNT, TRIANGLE_COUNT);
        return STATUS_WRITTEN;
    }
    if (!exportSurface(o.output, o.format, heights, named.normals, png))
        return STATUS_FAILED;
    std::printf("wrote %s: %zu vertices, %zu triangles\n", o.output.c_str(), VERTEX_COUNT, TRIANGLE_COUNT);
    return STATUS_WRITTEN;
}

}  // namespace

int exportMain(int argc, char** argv)
{
    // Out of memory anywhere: one line, and nothing left half-written.
    try {
        return exportWith(argc, argv);
    } catch (const std::bad_alloc&) {
        removeTemporaries();
        report(PROGRAM, "not enough memory");
        return STATUS_FAILED;
    }
}
