// The real export_surface program: its PLY holds the viewer's strips value
// for value, assimp (a reader not ours) finds the same triangles and extent
// in its OBJ, and every refusal or failure says why and leaves the folder as
// it was.
#include "support.h"
#include "surface.h"
#include "textures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <tuple>

namespace {

const std::string EXPORT = std::string("'") + EXPORT_BINARY + "' ";

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
    std::string extent[2];
    for (const std::string file : {"dome.ply", "dome.obj"}) {
        const Outcome run = runCommand(EXPORT + file);
        EXPECT_EQ(run.out + run.err, "[Texture Loading] : texture/displace.tga\nwidth: 512, height: 512\n"
                                     "wrote " + file + ": 1050625 vertices, 2097152 triangles\n");
        extent[file == "dome.obj"] = runCommand("assimp info " + file + " -r | grep -E '^(Faces|M.* point)'").out;
    }
    EXPECT_EQ(extent[0], extent[1]);
    EXPECT_NE(extent[0].find("Faces:              2097152\n"), std::string::npos) << extent[0];

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

    // The same heights in a grey-scale file give the same surface.
    ASSERT_EQ(runCommand("convert texture/displace.tga -type Grayscale grey.tga").status, 0);
    ASSERT_EQ(runCommand(EXPORT + "--displacement grey.tga grey.ply").status, 0);
    EXPECT_EQ(readFile("grey.tga")[2], 3);
    EXPECT_TRUE(readFile("grey.ply") == ply);
}

TEST(Export, FailuresSayWhyAndLeaveTheFolderAsItWas)
{
    // An image too small to sample, and an existing output that a failed
    // export must not touch.
    enterTemporaryFolder(true);
    std::filesystem::create_directory("folder.obj");
    writeFile("small.tga", tgaHeader(2, 256, 256, 24) + Bytes(256 * 256 * 3, 200));
    writeFile("old.ply", {'o', 'l', 'd'});
    const std::string before = runCommand("ls -A").out;
    const std::tuple<std::string, int, std::string> cases[] = {
        {EXPORT + "--displacement small.tga a.obj", 1,
         "small.tga: 256 x 256 is smaller than 512 x 512; there is no relief to export\n"},
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
