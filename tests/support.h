#pragma once

// What the test programs share: temporary folders, file bytes, hand-made TGA
// headers, shell commands with their output, and the viewer's GL window;
// and the headers they use.

#include "sample_images.h"
#include "surface.h"
#include "vector3.h"
#include "viewer.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>
#include <sys/wait.h>  // Required for: WEXITSTATUS
#include <zlib.h>  // Required for: crc32() and compress2(), to make PNGs that check out
#include <unistd.h>    // Required for: chdir(), getpid()

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using Bytes = std::vector<unsigned char>;

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An 18-byte TGA header with the given type, size and depth; the rest 0.
inline Bytes tgaHeader(int type, int width, int height, int depth)
{
    using B = unsigned char;
    return {0, 0, B(type), 0, 0, 0, 0, 0, 0, 0, 0, 0, B(width), B(width >> 8), B(height), B(height >> 8), B(depth), 0};
}

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::string readFile(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// A 16-bit source picture of 33 x 17 noisy pixels with alpha, as a PAM,
// which ImageMagick makes into each kind the image tests read.
inline void writeNoisySource(const std::string& path)
{
    std::string pam = "P7\nWIDTH 33\nHEIGHT 17\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (unsigned n = 0; n < 33 * 17 * 8; ++n)
        pam += char(n * 2654435761u >> 13);
    writeFile(path, Bytes(pam.begin(), pam.end()));
}

// Makes a new temporary folder the working directory; with samples, its
// texture/ holds the sample images. The folders go when the program exits.
inline void enterTemporaryFolder(bool samples)
{
    namespace fs = std::filesystem;
    static std::vector<fs::path> made;
    if (made.empty())
        std::atexit([] {
            for (const fs::path& folder : made)
                fs::remove_all(folder);
        });
    std::string name = (fs::temp_directory_path() / "viewer_test_XXXXXX").string();
    if (!mkdtemp(name.data()) || chdir(name.c_str()) != 0)
        std::abort();
    made.push_back(name);
    if (samples && !(fs::create_directory("texture") && writeSampleImages("texture").empty()))
        std::abort();
}

// A shell command run in the working directory, its output captured outside it.
struct Outcome {
    int status = -1;
    std::string out, err;
};

inline Outcome runCommand(const std::string& command)
{
    const std::string capture = std::filesystem::temp_directory_path() / ("viewer_test_" + std::to_string(getpid()));
    const int status = std::system(("(" + command + ") >" + capture + ".out 2>" + capture + ".err").c_str());
    const Outcome run = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(capture + ".out"),
                         readFile(capture + ".err")};
    std::filesystem::remove(capture + ".out");
    std::filesystem::remove(capture + ".err");
    return run;
}

// Runs each command in the working folder, expecting its exit status and
// standard error and the folder unchanged. Returns how each that fails to
// differs, or nothing.
inline std::string refusalsUnlike(const std::vector<std::tuple<std::string, int, std::string>>& cases)
{
    const std::string before = runCommand("ls -A").out;
    std::string unlike;
    for (const auto& [command, status, err] : cases) {
        const Outcome run = runCommand(command);
        const std::string after = runCommand("ls -A").out;
        if (run.status != status || run.err != err || after != before)
            unlike += command + ": status " + std::to_string(run.status) + ", " + run.err + after + "\n";
    }
    return unlike;
}

// A PNG claiming width x height, whose data is count filtered rows of size
// zeros (filter 0, pixels 0) deflated at zlib's best, as tightly as it goes.
inline Bytes zeroPng(unsigned width, unsigned height, int depthAndColour, size_t size, size_t count)
{
    auto bigEndian = [](size_t v) { return Bytes{Bytef(v >> 24), Bytef(v >> 16), Bytef(v >> 8), Bytef(v)}; };
    auto chunk = [&](const std::string& type, const Bytes& data) {
        const Bytes body = Bytes(type.begin(), type.end()) + data;
        return bigEndian(data.size()) + body + bigEndian(crc32(0, body.data(), uInt(body.size())));
    };
    uLongf deflated = compressBound(size * count);
    Bytes idat(deflated);
    idat.resize(compress2(idat.data(), &deflated, Bytes(size * count).data(), size * count, Z_BEST_COMPRESSION) == Z_OK ? deflated : 0);
    return Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'} +
           chunk("IHDR", bigEndian(width) + bigEndian(height) + Bytes{Bytef(depthAndColour >> 8), Bytef(depthAndColour), 0, 0, 0}) +
           chunk("IDAT", idat) + chunk("IEND", {});
}

// A JPEG with an EXIF orientation, put first as cameras do: APP1, "Exif", a
// little-endian TIFF header, one IFD of one entry: tag 0x112, a short.
inline Bytes withOrientation(const std::string& jpeg, char orientation)
{
    const std::string app1 = std::string("\xff\xe1\0\x22" "Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 28) + orientation + std::string(7, '\0');
    return Bytes(jpeg.begin(), jpeg.begin() + 2) + Bytes(app1.begin(), app1.end()) + Bytes(jpeg.begin() + 2, jpeg.end());
}

// Opens the viewer's double-buffered RGBA window with a depth
// buffer, for a real GL context. Needs an X display.
inline void openTestWindow()
{
    int argc = 1;
    char name[] = "viewer_test";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
    glutInitWindowSize(WINDOW_WIDTH, WINDOW_HEIGHT);
    glutCreateWindow(name);
#if defined(__SANITIZE_ADDRESS__)
    // Leaks are looked for while the GL driver is loaded: once it is unloaded
    // at exit, what it holds would show as leaks of unknown origin.
    std::atexit([] { __lsan_do_leak_check(); });
#endif
}

// Pixels of two RGB pictures with a channel more than `levels` apart (all,
// when their sizes differ).
inline size_t unlike(const std::string& a, const std::string& b, int levels)
{
    if (a.size() != b.size())
        return a.size() + b.size();
    auto apart = [&](size_t c) { return std::abs(int(uint8_t(a[c])) - uint8_t(b[c])); };
    size_t count = 0;
    for (size_t n = 0; n < a.size(); n += 3)
        count += std::max({apart(n), apart(n + 1), apart(n + 2)}) > levels;
    return count;
}

// Each component of a within tolerance of b's.
inline bool near(Vector3 a, Vector3 b, float tolerance = 1e-5f)
{
    return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance && std::fabs(a.z - b.z) <= tolerance;
}

// The vertices (x y z nx ny nz s t, floats) and triangles (a count, then three
// uint indices) of dispdome-export's PLY of 1025 x 1025 vertices, after its
// header; little-endian, as this machine.
struct Ply {
    std::vector<std::array<float, 8>> vertices = std::vector<std::array<float, 8>>(1025 * 1025);
    std::vector<std::array<std::uint32_t, 3>> faces;
};

inline Ply readPly(const std::string& bytes)
{
    Ply ply;
    const size_t at = bytes.find("end_header\n") + 11, faces = at + ply.vertices.size() * 32;
    std::memcpy(ply.vertices.data(), &bytes[at], faces - at);
    ply.faces.resize((bytes.size() - faces) / 13);
    for (size_t k = 0; k < ply.faces.size(); ++k)
        std::memcpy(ply.faces[k].data(), &bytes[faces + 13 * k + 1], 12);
    return ply;
}

// The vertex of row sample e and column sample i: the patch point moved
// along the patch normal by a seventh of the bilinear height at (s, t), as
// written here, on a height image of width x height texels (512 x 512
// unless said) spread over the whole dome. The point and normal are
// patchPoint's and patchNormal's, the very sums the strips make
// (surface_test holds them to de Casteljau's construction): what this
// checks is the rest, the rows, the texture coordinates and the relief.
// T(row, column) is the texel value 0..1; without it, no relief. relief
// scales the seventh.
inline StripVertex expectedVertex(int e, int i, const std::function<float(int, int)>& T, float relief = 1,
                                  int width = 512, int height = 512)
{
    const Vector3 p = patchPoint(e, i), n = patchNormal(e, i);
    const float s = i / 1024.0f, t = 1.0f - e / 1024.0f;
    if (!T)
        return {s, t, n.x, n.y, n.z, p.x, p.y, p.z};
    const int lastColumn = width - 1, lastRow = height - 1;
    const float x = s * float(lastColumn), y = t * float(lastRow);
    const int col = int(x), row = int(y);
    const int col1 = col < lastColumn ? col + 1 : col, row1 = row < lastRow ? row + 1 : row;
    const float fx = x - col, fy = y - row;
    const float d = (1 - fy) * (T(row, col1) * fx + T(row, col) * (1 - fx)) +
                    fy * (T(row1, col1) * fx + T(row1, col) * (1 - fx));
    const Vector3 moved = p + d / 7 * relief * n;
    return {s, t, n.x, n.y, n.z, moved.x, moved.y, moved.z};
}
