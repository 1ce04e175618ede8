// Writes the displaced dome the viewer draws as a mesh file other programs
// open: every grid sample once, with its normal and texture coordinate, and
// the two triangles per grid cell that the viewer's strips draw.
//     export_surface [--displacement FILE] OUTPUT.ply|OUTPUT.obj
// Needs no window and no GL context: only the surface arithmetic runs.
#include "output_file.h"
#include "surface.h"
#include "textures.h"

#include <cctype>
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

const char* const USAGE =
    "Usage: export_surface [--displacement FILE] OUTPUT.ply|OUTPUT.obj\n"
    "\n"
    "Writes the displaced surface the viewer draws as a mesh: its 1025 x 1025\n"
    "samples (1,050,625 vertices with position, normal and texture coordinate)\n"
    "and the 2,097,152 triangles of its 1024 strips, counter-clockwise seen from\n"
    "the side the normals point to (above the dome).\n"
    "\n"
    "The output's extension chooses the format:\n"
    "  .ply   binary little-endian PLY (x y z nx ny nz s t as float)\n"
    "  .obj   Wavefront OBJ (v, vt, vn and f a/a/a lines)\n"
    "\n"
    "Options:\n"
    "  --displacement FILE   height image, a 24- or 32-bit TGA of at least\n"
    "                        512 x 512 (default: texture/displace.tga)\n"
    "  -h, --help            show this text\n"
    "\n"
    "The file appears only once it is complete. Exit status: 0 when written,\n"
    "1 when the image or the file failed, 2 for bad arguments.\n";

enum class Format { Ply, Obj };

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

void writePly(OutputFile& out, const std::vector<StripVertex>& grid)
{
    char header[512];
    std::snprintf(header, sizeof header,
                  "ply\n"
                  "format binary_little_endian 1.0\n"
                  "comment displaced Bezier dome, %d x %d samples\n"
                  "element vertex %zu\n"
                  "property float x\nproperty float y\nproperty float z\n"
                  "property float nx\nproperty float ny\nproperty float nz\n"
                  "property float s\nproperty float t\n"
                  "element face %zu\n"
                  "property list uchar uint vertex_indices\n"
                  "end_header\n",
                  GRID_SAMPLES, GRID_SAMPLES, grid.size(), TRIANGLE_COUNT);
    put(out, header);
    for (const StripVertex& v : grid) {
        char* at = reserve(out, 32);
        for (float value : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.s, v.t})
            at = putFloat(at, value);
        out.used += 32;
    }
    for (int e = 0; e < GRID_STEPS; ++e)
        for (size_t k = 0; k < TRIANGLES_PER_STRIP; ++k) {
            std::uint32_t corner[3];
            stripTriangle(e, k, corner);
            char* at = reserve(out, 13);
            *at++ = 3;
            for (std::uint32_t index : corner)
                at = putU32(at, index);
            out.used += 13;
        }
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

void writeObj(OutputFile& out, const std::vector<StripVertex>& grid)
{
    char header[160];
    std::snprintf(header, sizeof header,
                  "# displaced Bezier dome, %d x %d samples: %zu vertices, %zu triangles\n",
                  GRID_SAMPLES, GRID_SAMPLES, grid.size(), TRIANGLE_COUNT);
    put(out, header);
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

// Writes the mesh; the file appears only once complete.
bool exportSurface(const std::string& output, Format format)
{
    OutputFile out;
    if (!openOutput(out, output))
        return false;
    const std::vector<StripVertex> grid = surfaceVertices();
    if (format == Format::Ply)
        writePly(out, grid);
    else
        writeObj(out, grid);
    return closeOutput(out) && commitOutput(out);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string displacement = DISPLACE_FILE;
    std::string output;
    for (int n = 1; n < argc; ++n) {
        const std::string argument = argv[n];
        if (argument == "-h" || argument == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (argument == "--displacement") {
            if (++n == argc) {
                report(PROGRAM, "--displacement needs a file name (see --help)");
                return BAD_ARGUMENTS;
            }
            displacement = argv[n];
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
    } else {
        report(output, "unknown extension: the name must end in .ply or .obj");
        return BAD_ARGUMENTS;
    }

    buildBasisTables();
    buildControlNet();
    buildNormalNet();
    if (!loadDisplacement(displacement) || !exportSurface(output, format))
        return FAILED;
    std::printf("wrote %s: %zu vertices, %zu triangles\n", output.c_str(), VERTEX_COUNT, TRIANGLE_COUNT);
    return 0;
}
