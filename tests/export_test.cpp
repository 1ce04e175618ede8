// The real export_surface program: the files it writes, read back by assimp
// and by the small readers here, hold the viewer's strips value for value;
// and every way it refuses leaves no file behind.
#include "sample_folder.h"
#include "sample_images.h"
#include "surface.h"
#include "textures.h"

#include <sys/wait.h>  // Required for: WEXITSTATUS
#include <unistd.h>    // Required for: getpid()

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr size_t VERTICES = size_t(GRID_SAMPLES) * GRID_SAMPLES;
constexpr size_t TRIANGLES = size_t(GRID_STEPS) * (STRIP_VERTICES - 2);

// What the image reader prints for the sample displacement image.
const std::string LOADED = "[Texture Loading] : texture/displace.tga\nwidth: 512, height: 512\n";

struct Mesh {
    std::vector<StripVertex> vertices;
    std::vector<std::array<std::uint32_t, 3>> faces;  // 0-based
};

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs a shell command line in the working directory, its output captured
// outside it so that the folder holds only what the program leaves.
Outcome shellRun(const std::string& command)
{
    static const std::string capture = std::filesystem::temp_directory_path() /
                                       ("export_test_" + std::to_string(getpid()));
    const int status = std::system(("(" + command + ") >" + capture + ".out 2>" + capture + ".err").c_str());
    Outcome run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(capture + ".out"),
            readFile(capture + ".err")};
    std::filesystem::remove(capture + ".out");
    std::filesystem::remove(capture + ".err");
    return run;
}

Outcome exportSurface(const std::string& arguments)
{
    return shellRun(std::string("'") + EXPORT_BINARY + "' " + arguments);
}

std::set<std::string> folderContents()
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        names.insert(entry.path().filename().string());
    return names;
}

// A binary little-endian PLY of the full surface with the vertex properties
// x y z nx ny nz s t (floats) and triangles as lists of uint indices.
Mesh readPly(const std::string& data)
{
    const size_t end = data.find("end_header\n"), body = end + 11;
    std::istringstream header(data.substr(0, end));
    std::string line, layout;
    while (std::getline(header, line))
        if (line.rfind("comment ", 0) != 0)
            layout += line + ";";
    Mesh mesh;
    if (layout != "ply;format binary_little_endian 1.0;element vertex 1050625;property float x;"
                  "property float y;property float z;property float nx;property float ny;"
                  "property float nz;property float s;property float t;element face 2097152;"
                  "property list uchar uint vertex_indices;" ||
        data.size() != body + VERTICES * 32 + TRIANGLES * 13) {
        ADD_FAILURE() << "unexpected PLY header or size: " << layout;
        return mesh;
    }
    auto u32 = [&](size_t at) {
        std::uint32_t value = 0;
        for (int k = 3; k >= 0; --k)
            value = value << 8 | static_cast<unsigned char>(data[at + k]);
        return value;
    };
    mesh.vertices.resize(VERTICES);
    for (size_t n = 0; n < VERTICES; ++n) {
        float v[8];
        for (int k = 0; k < 8; ++k) {
            const std::uint32_t bits = u32(body + n * 32 + k * 4);
            std::memcpy(&v[k], &bits, 4);
        }
        mesh.vertices[n] = {v[6], v[7], v[3], v[4], v[5], v[0], v[1], v[2]};
    }
    for (size_t n = 0, at = body + VERTICES * 32; n < TRIANGLES; ++n, at += 13) {
        if (data[at] != 3) {
            ADD_FAILURE() << "face " << n << " is not a triangle";
            return mesh;
        }
        mesh.faces.push_back({u32(at + 1), u32(at + 5), u32(at + 9)});
    }
    return mesh;
}

// A Wavefront OBJ of v, vt, vn lines and triangles "f a/a/a b/b/b c/c/c"
// (1-based, each corner using one index for all three).
Mesh readObj(const std::string& data)
{
    Mesh mesh;
    std::vector<float> v, vt, vn;
    const char* at = data.data();
    const char* const end = at + data.size();
    auto number = [&](auto& value) {
        while (at < end && *at == ' ')
            ++at;
        const auto result = std::from_chars(at, end, value);
        at = result.ptr;
        return result.ec == std::errc();
    };
    while (at < end) {
        const char* const line = at;
        const char* const lineEnd = std::find(at, end, '\n');
        const std::string keyword(at, std::find(at, lineEnd, ' '));
        at += keyword.size();
        bool good = true;
        if (keyword == "v" || keyword == "vt" || keyword == "vn") {
            std::vector<float>& list = keyword == "v" ? v : keyword == "vt" ? vt : vn;
            for (size_t k = keyword == "vt" ? 2 : 3; k > 0 && good; --k)
                good = number(list.emplace_back());
        } else if (keyword == "f") {
            std::array<std::uint32_t, 3> face{};
            for (std::uint32_t& corner : face) {
                std::uint32_t index[3] = {};
                for (int part = 0; part < 3 && good; ++part)
                    good = (part == 0 || *at++ == '/') && number(index[part]);
                good = good && index[0] == index[1] && index[1] == index[2] && index[0] > 0;
                corner = index[0] - 1;
            }
            mesh.faces.push_back(face);
        } else {
            good = keyword.empty() || keyword[0] == '#';
            at = lineEnd;
        }
        if (!good || at != lineEnd) {
            ADD_FAILURE() << "bad OBJ line: " << std::string(line, lineEnd);
            return {};
        }
        at = lineEnd + 1;
    }
    if (vt.size() / 2 != v.size() / 3 || vn.size() != v.size()) {
        ADD_FAILURE() << "v, vt and vn counts differ";
        return {};
    }
    for (size_t n = 0; n < v.size() / 3; ++n)
        mesh.vertices.push_back({vt[2 * n], vt[2 * n + 1], vn[3 * n], vn[3 * n + 1], vn[3 * n + 2],
                                 v[3 * n], v[3 * n + 1], v[3 * n + 2]});
    return mesh;
}

bool sameBits(const StripVertex& a, const StripVertex& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What assimp reports about a file in a raw import, as "<vertices> <faces>
// <minimum point> <maximum point>".
std::string assimpInfo(const std::string& file)
{
    const Outcome run = shellRun("assimp info " + file + " -r");
    EXPECT_EQ(run.status, 0) << run.err;
    auto value = [&](const std::string& label) {
        const size_t at = run.out.find(label);
        if (at == std::string::npos)
            return std::string("(no " + label + ")");
        const size_t from = run.out.find_first_not_of(' ', at + label.size());
        return run.out.substr(from, run.out.find('\n', from) - from);
    };
    return value("Vertices:") + " " + value("Faces:") + " " + value("Minimum point") + " " +
           value("Maximum point");
}

class ExportTest : public ::testing::Test {
protected:
    // The sample images in a fresh folder, and the viewer's surface on them.
    static void SetUpTestSuite()
    {
        enterTemporaryFolder(true);
        buildBasisTables();
        buildControlNet();
        buildNormalNet();
        displacePixels = loadTga(DISPLACE_FILE);
        displaceWidth = imageWidth;
        displaceHeight = imageHeight;
        ASSERT_TRUE(displacementAvailable());
    }

    // Exports to file, reads it back both ways and compares every triangle
    // with the strips the viewer records: gl_test proves the display list
    // holds exactly computeStrip's vertices, so this is the viewer's surface.
    static void checkExport(const std::string& file, Mesh (*read)(const std::string&),
                            const std::string& assimpVertices)
    {
        const Outcome run = exportSurface(file);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, LOADED + "wrote " + file + ": 1050625 vertices, 2097152 triangles\n");
        const Mesh mesh = read(readFile(file));
        ASSERT_EQ(mesh.vertices.size(), VERTICES);
        ASSERT_EQ(mesh.faces.size(), TRIANGLES);

        float low[3] = {1e9f, 1e9f, 1e9f}, high[3] = {-1e9f, -1e9f, -1e9f};
        for (const StripVertex& v : mesh.vertices)
            for (int k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], (&v.x)[k]);
                high[k] = std::max(high[k], (&v.x)[k]);
            }
        char box[200];
        std::snprintf(box, sizeof box, "(%f %f %f) (%f %f %f)", low[0], low[1], low[2], high[0],
                      high[1], high[2]);
        EXPECT_EQ(assimpInfo(file), assimpVertices + " 2097152 " + box);

        // Triangle k of a strip is its vertices k, k + 1, k + 2, the first two
        // swapped when k is odd. All face the side the normals point to.
        std::vector<StripVertex> strip(STRIP_VERTICES);
        size_t wrong = 0, backwards = 0;
        for (int e = 0; e < GRID_STEPS; ++e) {
            computeStrip(e, strip.data());
            for (int k = 0; k < STRIP_VERTICES - 2; ++k) {
                const auto& face = mesh.faces[size_t(e) * (STRIP_VERTICES - 2) + k];
                const int order[3] = {k % 2 ? k + 1 : k, k % 2 ? k : k + 1, k + 2};
                bool same = true;
                for (int c = 0; c < 3; ++c)
                    same = same && face[c] < VERTICES && sameBits(mesh.vertices[face[c]], strip[order[c]]);
                if (!same && ++wrong <= 3)
                    ADD_FAILURE() << file << ": strip " << e << " triangle " << k << " differs";
                const StripVertex &a = strip[order[0]], &b = strip[order[1]], &c = strip[order[2]];
                const float u[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
                const float w[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
                backwards += (u[1] * w[2] - u[2] * w[1]) * a.nx + (u[2] * w[0] - u[0] * w[2]) * a.ny +
                                 (u[0] * w[1] - u[1] * w[0]) * a.nz <= 0;
            }
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(backwards, 0u);
        std::filesystem::remove(file);
    }
};

TEST_F(ExportTest, PlyHoldsTheViewersSurface)
{
    checkExport("dome.ply", readPly, "1050625");
}

// assimp gives every OBJ face corner a vertex of its own; the shared count is
// checked by the reader here.
TEST_F(ExportTest, ObjHoldsTheViewersSurface)
{
    checkExport("dome.obj", readObj, "6291456");
}

TEST_F(ExportTest, RefusalsSayWhyAndLeaveNoFile)
{
    // An image cut short after its header, one too small to sample, and an
    // existing output that a failed export must not touch.
    std::filesystem::create_directory("folder.obj");
    const char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 24, 0};  // 512 x 512
    std::ofstream("cut.tga", std::ios::binary).write(header, sizeof header);
    const std::vector<unsigned char> pixels(256 * 256 * 3, 200);
    const std::vector<unsigned char> small = encodeTga(256, 256, pixels.data());
    std::ofstream("small.tga", std::ios::binary)
        .write(reinterpret_cast<const char*>(small.data()), std::streamsize(small.size()));
    std::ofstream("old.ply") << "keep me";

    struct Case {
        std::string arguments;
        int status;
        std::string err, out;
    } cases[] = {
        {"", 2, "export_surface: no output file given (see --help)\n", ""},
        {"--size 2 a.ply", 2, "export_surface: unknown option --size (see --help)\n", ""},
        {"a.ply b.obj", 2, "export_surface: one output file only, not also b.obj (see --help)\n", ""},
        {"a.ply --displacement", 2, "export_surface: --displacement needs a file name (see --help)\n", ""},
        {"dome.stl", 2, "dome.stl: unknown extension: the name must end in .ply or .obj\n", ""},
        {"--displacement none.tga a.ply", 1, "none.tga: cannot be opened (No such file or directory)\n", ""},
        {"--displacement cut.tga old.ply", 1, "cut.tga: pixel data cut short (0 of 786432 bytes)\n",
         "[Texture Loading] : cut.tga\nwidth: 512, height: 512\n"},
        {"--displacement small.tga a.obj", 1,
         "small.tga: 256 x 256 is smaller than 512 x 512; there is no relief to export\n",
         "[Texture Loading] : small.tga\nwidth: 256, height: 256\n"},
        {"no/such/a.ply", 1, "no/such/a.ply: cannot be written (No such file or directory)\n", LOADED},
        {"folder.obj", 1, "folder.obj: is a directory\n", LOADED},
    };
    const std::set<std::string> before = folderContents();
    for (const Case& c : cases) {
        const Outcome run = exportSurface(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.err, c.err) << c.arguments;
        EXPECT_EQ(run.out, c.out) << c.arguments;
        EXPECT_EQ(folderContents(), before) << c.arguments;
    }
    EXPECT_EQ(readFile("old.ply"), "keep me");

    // A write that fails halfway (past a file-size limit) removes its file.
    const Outcome limited = shellRun(std::string("ulimit -f 1000; '") + EXPORT_BINARY + "' a.ply");
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.err, "a.ply: cannot be written (File too large)\n");
    EXPECT_EQ(folderContents(), before);

    const Outcome help = exportSurface("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: export_surface [--displacement FILE] OUTPUT.ply|OUTPUT.obj\n", 0), 0u);
    EXPECT_EQ(help.err, "");
}

TEST_F(ExportTest, InterruptedExportLeavesNoFile)
{
    // Stopped while it writes, once its temporary file is there.
    const std::set<std::string> before = folderContents();
    const Outcome run = shellRun(std::string("'") + EXPORT_BINARY + "' dome.obj & pid=$!; found=no\n"
                                 "for wait in $(seq 5000); do\n"
                                 "    set -- dome.obj.tmp-*; [ -e \"$1\" ] && found=yes && break; sleep 0.001\n"
                                 "done\n"
                                 "kill -TERM $pid; wait $pid; echo \"$found $?\"");
    EXPECT_EQ(run.out, LOADED + "yes 143\n");  // 128 + SIGTERM
    EXPECT_EQ(folderContents(), before);
}

}  // namespace
