// Writes the displaced dome the viewer draws as a mesh file other programs
// open: every grid sample once, with its normal and texture coordinate, the
// two triangles per grid cell that the viewer's strips draw, and the colour
// image as a PNG picture.
//     export_surface [--displacement FILE] [--color FILE] OUTPUT.ply|.obj|.glb
// Needs no window and no GL context: only the surface arithmetic runs.
#include "output_file.h"
#include "png_image.h"
#include "surface.h"
#include "textures.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <charconv>  // Required for: to_chars(), shortest round-trip floats
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr const char* PROGRAM = "export_surface";

constexpr size_t VERTEX_COUNT = size_t(GRID_SAMPLES) * GRID_SAMPLES;
constexpr size_t TRIANGLES_PER_STRIP = STRIP_VERTICES - 2;
constexpr size_t TRIANGLE_COUNT = size_t(GRID_STEPS) * TRIANGLES_PER_STRIP;

// Exit statuses.
constexpr int FAILED = 1;
constexpr int BAD_ARGUMENTS = 2;

// zlib's level for the picture: its default, small at little cost.
constexpr int PNG_LEVEL = 6;

const char* const USAGE =
    "Usage: export_surface [--displacement FILE] [--color FILE] OUTPUT.ply|.obj|.glb\n"
    "\n"
    "Writes the displaced surface the viewer draws as a mesh: its 1025 x 1025\n"
    "samples (1,050,625 vertices with position, normal and texture coordinate)\n"
    "and the 2,097,152 triangles of its 1024 strips, counter-clockwise seen from\n"
    "the side the normals point to (above the dome).\n"
    "\n"
    "The output's extension chooses the format:\n"
    "  .ply   binary little-endian PLY (x y z nx ny nz s t as float), and\n"
    "         OUTPUT.png, the colour image, named in a TextureFile comment\n"
    "  .obj   Wavefront OBJ (v, vt, vn and f a/a/a lines), and OUTPUT.mtl, a\n"
    "         material whose map_Kd is OUTPUT.png, the colour image\n"
    "  .glb   glTF 2.0 binary: one mesh, unit normals, a matte material with\n"
    "         the colour image embedded as PNG\n"
    "Without a colour image the mesh is written untextured (plain white).\n"
    "\n"
    "Options:\n"
    "  --displacement FILE   height image (its red channel) of at least\n"
    "                        512 x 512 (default: texture/displace.tga)\n"
    "  --color FILE          colour image (default: texture/color.tga)\n"
    "  -h, --help            show this text\n"
    "  --version             show the version\n"
    "\n"
    "Both images are TGA files as the viewer reads them: true colour of 15,\n"
    "16, 24 or 32 bits, grey-scale of 8 bits or of 16 (grey and alpha), or\n"
    "8-bit colour-mapped; uncompressed or run-length encoded.\n"
    "\n"
    "The files appear only once all are complete. Exit status: 0 when written,\n"
    "1 when the displacement image or a file failed, 2 for bad arguments.\n";

enum class Format { Ply, Obj, Glb };

// One line "<what>: <reason>" on standard error.
[[gnu::format(printf, 2, 3)]] void report(const std::string& what, const char* format, ...)
{
    char reason[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    std::fprintf(stderr, "%s: %s\n", what.c_str(), reason);
}

bool endsWith(const std::string& text, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    if (text.size() < n)
        return false;
    for (size_t k = 0; k < n; ++k)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + k])) != suffix[k])
            return false;
    return true;
}

// Little-endian whatever the host's byte order.
char* putU32(char* at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        *at++ = static_cast<char>(value >> (8 * k) & 0xffu);
    return at;
}

char* putFloat(char* at, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return putU32(at, bits);
}

// Vertex index of strip vertex m of strip e: the strips issue vertex A (row e)
// then vertex B (row e + 1) for each column.
std::uint32_t gridIndex(int e, size_t m)
{
    return std::uint32_t((size_t(e) + m % 2) * GRID_SAMPLES + m / 2);
}

// Triangle k of strip e as a strip draws it: every second triangle has its
// first two corners swapped so that all keep the strip's orientation.
void stripTriangle(int e, size_t k, std::uint32_t corner[3])
{
    const bool odd = k % 2 == 1;
    corner[0] = gridIndex(e, odd ? k + 1 : k);
    corner[1] = gridIndex(e, odd ? k : k + 1);
    corner[2] = gridIndex(e, k + 2);
}

// Every grid sample once, row by row: strip e's A vertices are row e, and the
// last strip's B vertices the last row. Neighbouring strips compute their
// shared row identically, so taking it from either gives the same values.
std::vector<StripVertex> surfaceVertices()
{
    std::vector<StripVertex> grid(VERTEX_COUNT);
    std::vector<StripVertex> strip(STRIP_VERTICES);
    for (int e = 0; e < GRID_STEPS; ++e) {
        computeStrip(e, strip.data());
        for (int i = 0; i < GRID_SAMPLES; ++i) {
            grid[size_t(e) * GRID_SAMPLES + i] = strip[2 * i];
            if (e == GRID_STEPS - 1)
                grid[size_t(e + 1) * GRID_SAMPLES + i] = strip[2 * i + 1];
        }
    }
    return grid;
}

// Every triangle's three vertex indices, little-endian uint32; in PLY each
// after its count, 3.
void putTriangles(OutputFile& out, bool counted)
{
    const size_t bytes = counted ? 13 : 12;
    for (int e = 0; e < GRID_STEPS; ++e)
        for (size_t k = 0; k < TRIANGLES_PER_STRIP; ++k) {
            std::uint32_t corner[3];
            stripTriangle(e, k, corner);
            char* at = reserve(out, bytes);
            if (counted)
                *at++ = 3;
            for (std::uint32_t index : corner)
                at = putU32(at, index);
            out.used += bytes;
        }
}

// picture names the colour image's file beside the mesh; empty when the mesh
// is untextured.
void writePly(OutputFile& out, const std::vector<StripVertex>& grid, const std::string& picture)
{
    char header[512 + 4096];
    const std::string texture = picture.empty() ? "" : "comment TextureFile " + picture + "\n";
    std::snprintf(header, sizeof header,
                  "ply\n"
                  "format binary_little_endian 1.0\n"
                  "comment displaced Bezier dome, %d x %d samples\n"
                  "%s"
                  "element vertex %zu\n"
                  "property float x\nproperty float y\nproperty float z\n"
                  "property float nx\nproperty float ny\nproperty float nz\n"
                  "property float s\nproperty float t\n"
                  "element face %zu\n"
                  "property list uchar uint vertex_indices\n"
                  "end_header\n",
                  GRID_SAMPLES, GRID_SAMPLES, texture.c_str(), grid.size(), TRIANGLE_COUNT);
    put(out, header);
    for (const StripVertex& v : grid) {
        char* at = reserve(out, 32);
        for (float value : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.s, v.t})
            at = putFloat(at, value);
        out.used += 32;
    }
    putTriangles(out, true);
}

// A line of a keyword and floats, each written in the fewest digits that read
// back as the same single-precision value.
void putFloatLine(OutputFile& out, const char* keyword, std::initializer_list<float> values)
{
    char* const start = reserve(out, 128);
    char* at = start;
    for (const char* k = keyword; *k; ++k)
        *at++ = *k;
    for (float value : values) {
        *at++ = ' ';
        at = std::to_chars(at, start + 128, value).ptr;
    }
    *at++ = '\n';
    out.used += size_t(at - start);
}

void writeObj(OutputFile& out, const std::vector<StripVertex>& grid, const std::string& materials)
{
    char header[160];
    std::snprintf(header, sizeof header,
                  "# displaced Bezier dome, %d x %d samples: %zu vertices, %zu triangles\n",
                  GRID_SAMPLES, GRID_SAMPLES, grid.size(), TRIANGLE_COUNT);
    put(out, header);
    put(out, ("mtllib " + materials + "\nusemtl dome\n").c_str());
    for (const StripVertex& v : grid) {
        putFloatLine(out, "v", {v.x, v.y, v.z});
        putFloatLine(out, "vt", {v.s, v.t});
        putFloatLine(out, "vn", {v.nx, v.ny, v.nz});
    }
    // Vertex, texture coordinate and normal share one index, counted from 1.
    for (int e = 0; e < GRID_STEPS; ++e)
        for (size_t k = 0; k < TRIANGLES_PER_STRIP; ++k) {
            std::uint32_t corner[3];
            stripTriangle(e, k, corner);
            char* const start = reserve(out, 128);
            char* at = start;
            *at++ = 'f';
            for (std::uint32_t index : corner) {
                char number[16];
                const size_t length = size_t(std::to_chars(number, number + 16, index + 1).ptr - number);
                *at++ = ' ';
                for (int part = 0; part < 3; ++part) {
                    if (part > 0)
                        *at++ = '/';
                    std::memcpy(at, number, length);
                    at += length;
                }
            }
            *at++ = '\n';
            out.used += size_t(at - start);
        }
}

// One matte material, white (as the viewer lights the dome without texture)
// or the picture.
void writeMtl(OutputFile& out, const std::string& picture)
{
    put(out, "newmtl dome\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nillum 1\n");
    if (!picture.empty())
        put(out, ("map_Kd " + picture + "\n").c_str());
}

// glTF 2.0 binary: a JSON chunk describing one mesh, then one binary chunk
// holding positions, unit normals, texture coordinates, indices and the
// picture (if any), each part starting on a 4-byte boundary.
void writeGlb(OutputFile& out, const std::vector<StripVertex>& grid, const std::vector<unsigned char>& png)
{
    constexpr int FLOAT = 5126, UNSIGNED_INT = 5125, ARRAY_BUFFER = 34962, ELEMENT_ARRAY_BUFFER = 34963;
    constexpr int LINEAR = 9729, REPEAT = 10497, TRIANGLES = 4;
    const size_t positions = 0, normals = VERTEX_COUNT * 12, coordinates = normals + VERTEX_COUNT * 12;
    const size_t indices = coordinates + VERTEX_COUNT * 8, image = indices + TRIANGLE_COUNT * 12;
    const size_t binarySize = image + (png.size() + 3) / 4 * 4;

    float low[3] = {grid[0].x, grid[0].y, grid[0].z}, high[3] = {low[0], low[1], low[2]};
    for (const StripVertex& v : grid) {
        const float p[3] = {v.x, v.y, v.z};
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
        }
    }
    using nlohmann::json;
    auto view = [](size_t offset, size_t length, int target) {
        json v = {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", length}};
        if (target)
            v["target"] = target;
        return v;
    };
    auto accessor = [](int bufferView, int type, size_t count, const char* shape) {
        return json{{"bufferView", bufferView}, {"componentType", type}, {"count", count}, {"type", shape}};
    };
    json pbr = {{"metallicFactor", 0.0}, {"roughnessFactor", 1.0}};
    json gltf = {
        {"asset", {{"version", "2.0"}, {"generator", PROGRAM}}},
        {"scene", 0},
        {"scenes", {{{"nodes", {0}}}}},
        {"nodes", {{{"mesh", 0}, {"name", "dome"}}}},
        {"meshes", {{{"name", "dome"},
                     {"primitives", {{{"attributes", {{"POSITION", 0}, {"NORMAL", 1}, {"TEXCOORD_0", 2}}},
                                      {"indices", 3},
                                      {"material", 0},
                                      {"mode", TRIANGLES}}}}}}},
        {"buffers", {{{"byteLength", binarySize}}}},
        {"bufferViews", {view(positions, normals - positions, ARRAY_BUFFER),
                         view(normals, coordinates - normals, ARRAY_BUFFER),
                         view(coordinates, indices - coordinates, ARRAY_BUFFER),
                         view(indices, image - indices, ELEMENT_ARRAY_BUFFER)}},
        {"accessors", {accessor(0, FLOAT, VERTEX_COUNT, "VEC3"), accessor(1, FLOAT, VERTEX_COUNT, "VEC3"),
                       accessor(2, FLOAT, VERTEX_COUNT, "VEC2"),
                       accessor(3, UNSIGNED_INT, TRIANGLE_COUNT * 3, "SCALAR")}},
    };
    gltf["accessors"][0]["min"] = low;
    gltf["accessors"][0]["max"] = high;
    if (!png.empty()) {
        gltf["bufferViews"].push_back(view(image, png.size(), 0));
        gltf["images"] = {{{"bufferView", 4}, {"mimeType", "image/png"}}};
        gltf["samplers"] = {{{"magFilter", LINEAR}, {"minFilter", LINEAR}, {"wrapS", REPEAT}, {"wrapT", REPEAT}}};
        gltf["textures"] = {{{"sampler", 0}, {"source", 0}}};
        pbr["baseColorTexture"] = {{"index", 0}};
    }
    gltf["materials"] = {{{"name", "dome"}, {"pbrMetallicRoughness", pbr}}};
    std::string text = gltf.dump();
    text.resize((text.size() + 3) / 4 * 4, ' ');

    auto putWord = [&out](std::uint32_t value) {
        putU32(reserve(out, 4), value);
        out.used += 4;
    };
    putBytes(out, "glTF", 4);
    putWord(2);
    putWord(std::uint32_t(12 + 8 + text.size() + 8 + binarySize));
    putWord(std::uint32_t(text.size()));
    putBytes(out, "JSON", 4);
    putBytes(out, text.data(), text.size());
    putWord(std::uint32_t(binarySize));
    putBytes(out, "BIN", 4);  // with its terminating zero
    for (const StripVertex& v : grid) {
        char* at = reserve(out, 12);
        for (float value : {v.x, v.y, v.z})
            at = putFloat(at, value);
        out.used += 12;
    }
    // glTF wants unit normals; the viewer's are not.
    for (const StripVertex& v : grid) {
        const float length = std::sqrt(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz);
        char* at = reserve(out, 12);
        for (float value : {v.nx / length, v.ny / length, v.nz / length})
            at = putFloat(at, value);
        out.used += 12;
    }
    // glTF's v runs down the image: the picture's top row is v = 0.
    for (const StripVertex& v : grid) {
        char* at = reserve(out, 8);
        at = putFloat(at, v.s);
        putFloat(at, 1.0f - v.t);
        out.used += 8;
    }
    putTriangles(out, false);
    putBytes(out, png.data(), png.size());
    putBytes(out, "\0\0\0", binarySize - image - png.size());
}

// Reads the height image as the viewer does; false (after one line on
// standard error) when there is no relief to export.
bool loadDisplacement(const std::string& file)
{
    // The reader is silent about a file it cannot open; say why here.
    if (std::FILE* probe = std::fopen(file.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        report(file, "cannot be opened (%s)", std::strerror(errno));
        return false;
    }
    displacePixels = loadTga(file.c_str());
    if (!displacePixels)
        return false;  // the reader has said why
    displaceWidth = imageWidth;
    displaceHeight = imageHeight;
    if (!displacementAvailable()) {
        const int needed = DISPLACE_GRID_MAX + 1;
        report(file, "%d x %d is smaller than %d x %d; there is no relief to export", displaceWidth,
               displaceHeight, needed, needed);
        return false;
    }
    return true;
}

// The colour image as an RGB PNG, its rows reversed: the reader's row 0 is
// texture t = 0, the bottom of the picture, whichever order the file keeps.
// Empty, after one line on standard error, when there is no image to lay on.
std::vector<unsigned char> loadPicture(const std::string& file)
{
    PixelBuffer* pixels = nullptr;
    if (std::FILE* probe = std::fopen(file.c_str(), "rb")) {
        std::fclose(probe);
        pixels = loadTga(file.c_str());
    } else {
        report(file, "cannot be opened (%s); the mesh has no texture", std::strerror(errno));
        return {};
    }
    std::vector<unsigned char> png;
    if (pixels && imageWidth > 0 && imageHeight > 0) {
        const size_t width = size_t(imageWidth), height = size_t(imageHeight);
        std::vector<unsigned char> rgb(width * height * 3);
        for (size_t row = 0; row < height; ++row)
            for (size_t column = 0; column < width; ++column)
                std::memcpy(&rgb[((height - 1 - row) * width + column) * 3], &pixels[(row * width + column) * 4], 3);
        png = encodePng(imageWidth, imageHeight, rgb.data(), PNG_LEVEL);
    }
    if (png.empty())
        report(file, "no picture to lay on the surface; the mesh has no texture");
    delete[] pixels;
    return png;
}

// Writes the mesh and its companions: all appear together once complete, or
// none does. The picture and material go into place before the mesh, so a
// mesh never names a missing file.
bool exportSurface(const std::string& output, Format format, const std::vector<unsigned char>& png)
{
    const std::string stem = output.substr(0, output.size() - 4);
    const std::string base = stem.substr(stem.find_last_of('/') + 1);
    std::string picture;
    std::vector<std::string> paths;
    if (!png.empty() && format != Format::Glb) {
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
    if (!picture.empty())
        putBytes(files[0], png.data(), png.size());
    const std::vector<StripVertex> grid = surfaceVertices();
    if (format == Format::Ply) {
        writePly(mesh, grid, picture);
    } else if (format == Format::Obj) {
        writeMtl(files[files.size() - 2], picture);
        writeObj(mesh, grid, base + ".mtl");
    } else {
        writeGlb(mesh, grid, png);
    }
    bool written = true;
    for (OutputFile& file : files)
        written = closeOutput(file) && written;
    for (OutputFile& file : files) {
        if (!written)
            discardOutput(file);
        else
            written = commitOutput(file);
    }
    return written;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string displacement = DISPLACE_FILE;
    std::string color = COLOR_FILE;
    std::string output;
    for (int n = 1; n < argc; ++n) {
        const std::string argument = argv[n];
        if (argument == "-h" || argument == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("%s %s\n", PROGRAM, PROGRAM_VERSION);
            return 0;
        }
        if (argument == "--displacement" || argument == "--color") {
            if (++n == argc) {
                report(PROGRAM, "%s needs a file name (see --help)", argument.c_str());
                return BAD_ARGUMENTS;
            }
            (argument == "--color" ? color : displacement) = argv[n];
        } else if (argument.size() > 1 && argument[0] == '-') {
            report(PROGRAM, "unknown option %s (see --help)", argument.c_str());
            return BAD_ARGUMENTS;
        } else if (!output.empty()) {
            report(PROGRAM, "one output file only, not also %s (see --help)", argument.c_str());
            return BAD_ARGUMENTS;
        } else {
            output = argument;
        }
    }
    if (output.empty()) {
        report(PROGRAM, "no output file given (see --help)");
        return BAD_ARGUMENTS;
    }
    Format format;
    if (endsWith(output, ".ply")) {
        format = Format::Ply;
    } else if (endsWith(output, ".obj")) {
        format = Format::Obj;
    } else if (endsWith(output, ".glb")) {
        format = Format::Glb;
    } else {
        report(output, "unknown extension: the name must end in .ply, .obj or .glb");
        return BAD_ARGUMENTS;
    }

    buildBasisTables();
    buildControlNet();
    buildNormalNet();
    if (!loadDisplacement(displacement))
        return FAILED;
    const std::vector<unsigned char> png = loadPicture(color);
    if (!exportSurface(output, format, png))
        return FAILED;
    std::printf("wrote %s: %zu vertices, %zu triangles\n", output.c_str(), VERTEX_COUNT, TRIANGLE_COUNT);
    return 0;
}
