// The real export_surface program: its PLY holds the viewer's strips value
// for value, assimp (a reader not ours) finds the same triangles, extent and
// texture in its OBJ and glTF, Khronos' validator passes the glTF, the
// pictures (decoded by ImageMagick) give every vertex the viewer's texel,
// and every refusal or failure says why and leaves the folder as it was.
#include "support.h"
#include "surface.h"
#include "textures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <tuple>

namespace {

const std::string EXPORT = std::string("'") + EXPORT_BINARY + "' ";
const std::string IMAGE_LINES = "[Texture Loading] : texture/displace.tga\nwidth: 512, height: 512\n"
                                "[Texture Loading] : texture/color.tga\nwidth: 512, height: 512\n";

// The bytes of a .glb's accessor (or image) at pointer, found through its JSON.
std::string glbPart(const std::string& glb, const std::string& pointer)
{
    std::uint32_t length = 0;
    std::memcpy(&length, &glb[12], 4);
    const nlohmann::json gltf = nlohmann::json::parse(glb.substr(20, length));
    const nlohmann::json& item = gltf.at(nlohmann::json::json_pointer(pointer));
    const nlohmann::json& entry = item.is_number() ? gltf["accessors"][int(item)] : item;
    const nlohmann::json& view = gltf["bufferViews"][int(entry["bufferView"])];
    return glb.substr(28 + length + view.value("byteOffset", 0) + entry.value("byteOffset", 0), view["byteLength"]);
}

// What GL's linear filter with repeat gives of an n x n picture (stride bytes
// a pixel, rows in the order given) at (x, y) in texels.
double filtered(const char* pixels, int stride, int n, double x, double y, int channel)
{
    const int x0 = int(std::floor(x - 0.5)), y0 = int(std::floor(y - 0.5));
    const double fx = x - 0.5 - x0, fy = y - 0.5 - y0;
    auto at = [&](int c, int r) { return uint8_t(pixels[((r + n) % n * n + (c + n) % n) * stride + channel]); };
    auto row = [&](int r) { return (1 - fx) * at(x0, r) + fx * at(x0 + 1, r); };
    return (1 - fy) * row(y0) + fy * row(y0 + 1);
}

TEST(Export, FilesHoldTheViewersSurface)
{
    // The sample images, and the viewer's surface on them.
    enterTemporaryFolder(true);
    buildBasisTables();
    buildControlNet();
    buildNormalNet();
    displacePixels = loadTga(DISPLACE_FILE);
    displaceWidth = imageWidth;
    displaceHeight = imageHeight;
    // assimp's count of triangles, extent and texture (embedded in the glTF).
    std::vector<std::string> info;
    for (const std::string file : {"dome.ply", "dome.obj", "dome.glb"}) {
        const Outcome run = runCommand(EXPORT + file);
        EXPECT_EQ(run.out + run.err, IMAGE_LINES + "wrote " + file + ": 1050625 vertices, 2097152 triangles\n");
        const std::string lines = " -r | grep -E \"^(Faces|M.* point|Tex.*ed)|'(dome.png|[*]0)'\" | sort -u";
        info.push_back(runCommand("assimp info " + file + lines).out);
    }
    EXPECT_EQ(info[0], info[1]);
    EXPECT_NE(info[0].find("    'dome.png'\nFaces:              2097152\n"), std::string::npos) << info[0];
    info[0].replace(info[0].find("'dome.png'"), 10, "'*0'");
    info[0].replace(info[0].find("):  0"), 5, "):  1");
    EXPECT_EQ(info[0], info[2]);
    const std::string report = runCommand("node '" VALIDATE_SCRIPT "' '" GLTF_VALIDATOR "' dome.glb").out;
    EXPECT_NE(report.find("\"numErrors\": 0,\n  \"numWarnings\": 0,"), std::string::npos) << report;

    // The PLY after its header: 1025 x 1025 vertices of the floats x y z nx
    // ny nz s t, then the triangles, each a count 3 and three uint indices;
    // little-endian, as this machine. Triangle k of strip e holds, bit for
    // bit, the strip's vertices k, k + 1 and k + 2, the first two swapped
    // when k is odd: the triangles GL draws of the strip, all wound alike.
    const std::string ply = readFile("dome.ply");
    const size_t vertices = ply.find("end_header\n") + 11, triangles = vertices + GRID_SAMPLES * GRID_SAMPLES * 32;
    ASSERT_EQ(ply.size(), triangles + GRID_STEPS * (STRIP_VERTICES - 2) * 13);
    std::vector<StripVertex> strip(STRIP_VERTICES);
    size_t wrong = 0;
    for (int e = 0; e < GRID_STEPS; ++e) {
        computeStrip(e, strip.data());
        for (int k = 0; k < STRIP_VERTICES - 2; ++k)
            for (int corner = 0; corner < 3; ++corner) {
                const StripVertex& v = strip[corner == 2 ? k + 2 : k % 2 == corner ? k : k + 1];
                const float expected[8] = {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.s, v.t};
                std::uint32_t index = 0;
                std::memcpy(&index, &ply[triangles + (size_t(e) * (STRIP_VERTICES - 2) + k) * 13 + 1 + 4 * corner], 4);
                wrong += index >= GRID_SAMPLES * GRID_SAMPLES ||
                         std::memcmp(&ply[vertices + 32 * size_t(index)], expected, 32) != 0;
            }
    }
    EXPECT_EQ(wrong, 0u) << "triangle corners unlike the viewer's";

    // The glTF's positions and triangles are the PLY's, bit for bit.
    const std::string glb = readFile("dome.glb"), mesh = "/meshes/0/primitives/0/";
    const std::string positions = glbPart(glb, mesh + "attributes/POSITION");
    const std::string corners = glbPart(glb, mesh + "indices");
    ASSERT_EQ(positions.size() + corners.size(),
              (triangles - vertices) / 32 * 12 + (ply.size() - triangles) / 13 * 12);
    for (size_t n = 0; n < GRID_SAMPLES * GRID_SAMPLES; ++n)
        wrong += positions.compare(12 * n, 12, ply, vertices + 32 * n, 12) != 0;
    for (size_t n = 0; n < corners.size() / 12; ++n)
        wrong += corners.compare(12 * n, 12, ply, triangles + 13 * n + 1, 12) != 0;
    EXPECT_EQ(wrong, 0u) << "glTF unlike the PLY";

    // The same heights in a grey-scale file with alpha (value, then alpha) give
    // the same surface; ImageMagick's grey comes in the file's row order.
    const std::string grey = runCommand("convert texture/displace.tga gray:-").out;
    Bytes greyAlpha = tgaHeader(3, 512, 512, 16);
    for (size_t n = 0; n < grey.size(); ++n)
        greyAlpha.insert(greyAlpha.end(), {(unsigned char)grey[n], (unsigned char)(n * 7)});
    writeFile("grey.tga", greyAlpha);
    std::filesystem::create_directory("grey");
    ASSERT_EQ(runCommand(EXPORT + "--displacement grey.tga grey/dome.ply").status, 0);
    EXPECT_TRUE(readFile("grey/dome.ply") == ply);

    // 16 bits of height: every position by the formula with T = v / 65535, v
    // as ImageMagick decodes the PNG (little-endian, turned bottom row first).
    ASSERT_EQ(runCommand("convert -size 512x512 -depth 16 gradient: -swirl 200 heights.png && " + EXPORT +
                         "--displacement heights.png grey/dome.ply").status, 0);
    const std::string v = runCommand("convert heights.png -flip -depth 16 gray:-").out, ply16 = readFile("grey/dome.ply");
    ASSERT_EQ(v.size(), 512u * 512 * 2);
    const auto T = [&v](int row, int col) { return (uint8_t(v[2 * (row * 512 + col)]) + 256 * uint8_t(v[2 * (row * 512 + col) + 1])) / 65535.0f; };
    for (size_t n = 0; n < GRID_SAMPLES * GRID_SAMPLES; ++n) {
        const StripVertex expected = expectedVertex(int(n / GRID_SAMPLES), int(n % GRID_SAMPLES), T);
        wrong += std::memcmp(&ply16[vertices + 32 * n], &expected.x, 12) != 0;
    }
    EXPECT_EQ(wrong, 0u) << "positions unlike the formula's for 16-bit heights";
}

TEST(Export, PicturesGiveEveryVertexTheViewersTexel)
{
    // The sample colour image, stored bottom row first, and the same picture
    // stored top row first (which the viewer shows upside down).
    enterTemporaryFolder(true);
    ASSERT_EQ(runCommand("convert texture/color.tga -auto-orient top.tga").status, 0);
    for (const std::string colour : {"texture/color.tga", "top.tga"}) {
        const std::string options = EXPORT + "--color " + colour;
        ASSERT_EQ(runCommand(options + " dome.ply && " + options + " dome.glb").status, 0);
        const std::string ply = readFile("dome.ply"), glb = readFile("dome.glb");
        const std::string uv = glbPart(glb, "/meshes/0/primitives/0/attributes/TEXCOORD_0");
        const std::string embedded = glbPart(glb, "/images/0");
        writeFile("glb.png", Bytes(embedded.begin(), embedded.end()));
        // The viewer's texels (its reader's rows, t = 0 first) and the two
        // pictures as ImageMagick decodes them, top row first.
        const std::unique_ptr<PixelBuffer[]> pixels(loadTga(colour.c_str()));
        const std::string viewer(pixels.get(), pixels.get() + 512 * 512 * 4);
        const std::string plyPicture = runCommand("convert dome.png rgb:-").out;
        const std::string glbPicture = runCommand("convert glb.png rgb:-").out;
        ASSERT_EQ(plyPicture.size() + glbPicture.size(), 2u * 512 * 512 * 3) << colour;
        if (colour == "texture/color.tga") {
            EXPECT_TRUE(plyPicture == runCommand("convert texture/color.tga -auto-orient rgb:-").out) << "upside down";
        }
        EXPECT_TRUE(glbPicture == plyPicture);
        // Every vertex's (s, t) in the viewer, (s, t) up the PLY's picture and
        // (u, v) down the glTF's.
        size_t wrong = 0;
        const size_t vertices = ply.find("end_header\n") + 11;
        for (size_t n = 0; n < GRID_SAMPLES * GRID_SAMPLES; ++n) {
            float st[2], glbUv[2];
            std::memcpy(st, &ply[vertices + 32 * n + 24], 8);
            std::memcpy(glbUv, &uv[8 * n], 8);
            for (int c = 0; c < 3; ++c) {
                const double texel = filtered(viewer.data(), 4, 512, st[0] * 512, st[1] * 512, c);
                wrong += filtered(plyPicture.data(), 3, 512, st[0] * 512, (1 - st[1]) * 512, c) != texel;
                wrong += filtered(glbPicture.data(), 3, 512, glbUv[0] * 512, glbUv[1] * 512, c) != texel;
            }
        }
        EXPECT_EQ(wrong, 0u) << colour;
    }

    // Without a colour image (none, or one refused) the mesh is written white
    // and untextured, and says so; no picture is written.
    writeFile("huge.tga", tgaHeader(11, 65535, 65535, 8) + Bytes{0xff, 1});
    std::filesystem::remove("dome.png");
    const Outcome none = runCommand(EXPORT + "--color missing.tga dome.obj");
    const Outcome refused = runCommand(EXPORT + "--color huge.tga dome.ply");
    EXPECT_EQ(none.status + refused.status, 0);
    EXPECT_EQ(none.err + refused.err,
              "missing.tga: cannot be opened (No such file or directory); the mesh has no texture\n"
              "huge.tga: 65535 x 65535 is more pixels than an image may have (16384 x 16384 in all)\n"
              "huge.tga: no picture to lay on the surface; the mesh has no texture\n");
    EXPECT_EQ(readFile("dome.mtl"), "newmtl dome\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nillum 1\n");
    EXPECT_EQ(readFile("dome.ply").find("TextureFile"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("dome.png"));
}

TEST(Export, FailuresSayWhyAndLeaveTheFolderAsItWas)
{
    // An image too small to sample, and an existing output that a failed
    // export must not touch.
    enterTemporaryFolder(true);
    std::filesystem::create_directory("folder.obj");
    writeFile("small.tga", tgaHeader(2, 256, 256, 24) + Bytes(256 * 256 * 3, 200));
    writeFile("old.ply", {'o', 'l', 'd'});
    EXPECT_EQ(refusalsUnlike({
        {EXPORT + "--displacement small.tga a.obj", 1,
         "small.tga: 256 x 256 is smaller than 512 x 512; there is no relief to export\n"},
        {EXPORT + "folder.obj", 1, "folder.obj: is a directory\n"},
        // A write that fails partway, past a file-size limit far below the file's size.
        {"ulimit -f 1000; " + EXPORT + "old.ply", 1, "old.ply: cannot be written (File too large)\n"},
        // Ended by SIGTERM once its temporary file is there: 128 + 15. Were
        // the file never made, the run would end first and wait say 0.
        {EXPORT + "dome.obj & until ls dome.obj.tmp-* || ! kill -0 $!; do sleep 0.01; done >/dev/null 2>&1; "
                  "kill $!; wait $! 2>/dev/null", 143, ""},
              }), "");
    EXPECT_EQ(readFile("old.ply"), "old");
}

}  // namespace
