// The real export_surface program: the files it writes hold the viewer's
// strips value for value and face the side of the normals, assimp reads them,
// and every refusal or failure says why and leaves the folder as it was.
#include "support.h"
#include "surface.h"
#include "textures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr size_t VERTICES = size_t(GRID_SAMPLES) * GRID_SAMPLES;
constexpr size_t TRIANGLES = size_t(GRID_STEPS) * (STRIP_VERTICES - 2);
const std::string EXPORT = std::string("'") + EXPORT_BINARY + "' ";
const std::string LOADED = "[Texture Loading] : texture/displace.tga\nwidth: 512, height: 512\n";

// The readers return the three corners of every triangle in file order; an
// index out of range throws.

// Binary little-endian PLY: vertices of floats x y z nx ny nz s t, then
// triangles of a count byte 3 and three uint indices.
std::vector<StripVertex> readPly(std::string data)
{
    const size_t body = data.find("end_header\n") + 11;
    EXPECT_EQ(data.size(), body + VERTICES * 32 + TRIANGLES * 13);
    auto word = [&](size_t at) {
        std::uint32_t value = 0;
        for (int k = 3; k >= 0; --k)
            value = value << 8 | static_cast<unsigned char>(data.at(at + k));
        return value;
    };
    // The file's x y z nx ny nz s t are StripVertex's floats 5 6 7 2 3 4 0 1.
    constexpr int FIELD[8] = {5, 6, 7, 2, 3, 4, 0, 1};
    std::vector<StripVertex> vertices(VERTICES), corners;
    for (size_t n = 0; n < VERTICES * 8; ++n) {
        const std::uint32_t bits = word(body + 4 * n);
        std::memcpy(reinterpret_cast<char*>(&vertices[n / 8]) + 4 * FIELD[n % 8], &bits, 4);
    }
    corners.reserve(3 * TRIANGLES);
    for (size_t at = body + VERTICES * 32; at < data.size() && data[at] == 3; at += 13)
        for (size_t k = 1; k < 13; k += 4)
            corners.push_back(vertices.at(word(at + k)));
    return corners;
}

// Wavefront OBJ: v, vt and vn lines, and triangles "f v/vt/vn v/vt/vn
// v/vt/vn" of indices counted from 1.
std::vector<StripVertex> readObj(std::string data)
{
    data += '\n';  // ends a line cut short
    const char* const end = data.data() + data.size();
    std::vector<float> v, vt, vn;
    std::vector<StripVertex> corners;
    corners.reserve(3 * TRIANGLES);
    for (const char* line = data.data(); line < end; line = std::find(line, end, '\n') + 1) {
        // Every number follows a space or a slash.
        const char* at = std::find(line, end, ' ');
        auto read = [&](auto& value) { at = std::from_chars(at + 1, end, value).ptr; };
        std::vector<float>& list = line[1] == 't' ? vt : line[1] == 'n' ? vn : v;
        for (int k = line[1] == 't' ? 2 : 3; line[0] == 'v' && k > 0; --k)
            read(list.emplace_back());
        for (int corner = 0; line[0] == 'f' && corner < 3; ++corner) {
            size_t p = 0, t = 0, n = 0;
            read(p);
            read(t);
            read(n);
            corners.push_back({vt.at(2 * t - 2), vt.at(2 * t - 1), vn.at(3 * n - 3), vn.at(3 * n - 2), vn.at(3 * n - 1),
                               v.at(3 * p - 3), v.at(3 * p - 2), v.at(3 * p - 1)});
        }
    }
    EXPECT_EQ(v.size(), 3 * VERTICES);
    return corners;
}

// Exports file and reads it back: triangle k of strip e holds, bit for bit,
// the strip vertices k, k + 1, k + 2 the viewer draws (gl_test proves the
// display list holds computeStrip's), the first two swapped when k is odd;
// and it is counter-clockwise seen from the side its normal points to.
void checkExport(const std::string& file, std::vector<StripVertex> (*read)(std::string))
{
    const Outcome run = runCommand(EXPORT + file);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, LOADED + "wrote " + file + ": 1050625 vertices, 2097152 triangles\n");
    std::vector<StripVertex> corners;
    ASSERT_NO_THROW(corners = read(readFile(file))) << file;
    ASSERT_EQ(corners.size(), 3 * TRIANGLES);
    std::vector<StripVertex> strip(STRIP_VERTICES);
    size_t wrong = 0, backwards = 0;
    for (int e = 0; e < GRID_STEPS; ++e) {
        computeStrip(e, strip.data());
        for (int k = 0; k < STRIP_VERTICES - 2; ++k) {
            const StripVertex* const c = &corners[3 * (size_t(e) * (STRIP_VERTICES - 2) + k)];
            const int order[3] = {k % 2 ? k + 1 : k, k % 2 ? k : k + 1, k + 2};
            for (int n = 0; n < 3; ++n)
                wrong += std::memcmp(&c[n], &strip[order[n]], sizeof *c) != 0;
            const float u[3] = {c[1].x - c[0].x, c[1].y - c[0].y, c[1].z - c[0].z};
            const float w[3] = {c[2].x - c[0].x, c[2].y - c[0].y, c[2].z - c[0].z};
            const float cross[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
            backwards += cross[0] * c[0].nx + cross[1] * c[0].ny + cross[2] * c[0].nz <= 0;
        }
    }
    EXPECT_EQ(wrong, 0u) << file << ": corners unlike the viewer's";
    EXPECT_EQ(backwards, 0u) << file << ": triangles facing away from their normals";
}

TEST(ExportTest, FilesHoldTheViewersSurface)
{
    // The sample images in a fresh folder, and the viewer's surface on them.
    enterTemporaryFolder(true);
    buildBasisTables();
    buildControlNet();
    buildNormalNet();
    displacePixels = loadTga(DISPLACE_FILE);
    displaceWidth = imageWidth;
    displaceHeight = imageHeight;
    checkExport("dome.ply", readPly);
    checkExport("dome.obj", readObj);
    // A reader not ours agrees on the counts.
    const Outcome assimp = runCommand("assimp info dome.ply -r | grep -E '^(Vertices|Faces):' | tr -s ' '");
    EXPECT_EQ(assimp.out, "Vertices: 1050625\nFaces: 2097152\n");
}

TEST(ExportTest, FailuresSayWhyAndLeaveTheFolderAsItWas)
{
    enterTemporaryFolder(true);
    // An image cut short after its header, one too small to sample, and an
    // existing output that a failed export must not touch.
    std::filesystem::create_directory("folder.obj");
    writeFile("cut.tga", tgaHeader(2, 512, 512, 24));
    writeFile("small.tga", tgaHeader(2, 256, 256, 24) + Bytes(256 * 256 * 3, 200));
    writeFile("old.ply", {'o', 'l', 'd'});
    const std::string before = runCommand("ls -A").out;
    const std::tuple<std::string, int, std::string> cases[] = {
        {EXPORT, 2, "export_surface: no output file given (see --help)\n"},
        {EXPORT + "--size 2 a.ply", 2, "export_surface: unknown option --size (see --help)\n"},
        {EXPORT + "a.ply b.obj", 2, "export_surface: one output file only, not also b.obj (see --help)\n"},
        {EXPORT + "a.ply --displacement", 2, "export_surface: --displacement needs a file name (see --help)\n"},
        {EXPORT + "dome.stl", 2, "dome.stl: unknown extension: the name must end in .ply or .obj\n"},
        {EXPORT + "--displacement none.tga a.ply", 1, "none.tga: cannot be opened (No such file or directory)\n"},
        {EXPORT + "--displacement cut.tga old.ply", 1, "cut.tga: pixel data cut short (0 of 786432 bytes)\n"},
        {EXPORT + "--displacement small.tga a.obj", 1,
         "small.tga: 256 x 256 is smaller than 512 x 512; there is no relief to export\n"},
        {EXPORT + "no/such/a.ply", 1, "no/such/a.ply: cannot be written (No such file or directory)\n"},
        {EXPORT + "folder.obj", 1, "folder.obj: is a directory\n"},
        // A write that fails partway, past a file-size limit far below the file's size.
        {"ulimit -f 1000; " + EXPORT + "old.ply", 1, "old.ply: cannot be written (File too large)\n"},
        // Ended by SIGTERM once its temporary file is there: 128 + 15. Were
        // the file never made, the run would end first and wait say 0.
        {EXPORT + "dome.obj & until ls dome.obj.tmp-* || ! kill -0 $!; do sleep 0.01; done >/dev/null 2>&1; "
                  "kill $!; wait $! 2>/dev/null", 143, ""},
    };
    for (const auto& [command, status, err] : cases) {
        const Outcome run = runCommand(command);
        EXPECT_EQ(run.status, status) << command;
        EXPECT_EQ(run.err, err) << command;
        EXPECT_EQ(runCommand("ls -A").out, before) << command;
    }
    EXPECT_EQ(readFile("old.ply"), "old");
}

}  // namespace
