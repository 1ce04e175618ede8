// The real dispdome-export program, a concern a test: assimp (a reader not
// ours) finds the same triangles, extent and texture in its three files,
// Khronos' validator passes the glTF, which holds the PLY's triangles; its
// default normals are the triangles' own;
// with the viewer's normals every vertex is the definitions', bit for bit,
// on 16-bit heights; the pictures (decoded by
// ImageMagick) give every vertex the viewer's texel, the glTF's matte and
// repeated; and every refusal or failure says why and leaves the folder as
// it was.
#include "image_files.h"
#include "output_file.h"
#include "support.h"
#include "tga.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <iterator>

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

using Normal = std::array<double, 3>;

Normal cross(const double a[3], const double b[3])
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// A triangle's (b - a) x (c - a), in double.
Normal faceNormal(const Ply& ply, const std::array<std::uint32_t, 3>& face)
{
    double d[2][3];
    for (int k = 0; k < 6; ++k)
        d[k / 3][k % 3] = double(ply.vertices[face[k / 3 + 1]][k % 3]) - ply.vertices[face[0]][k % 3];
    return cross(d[0], d[1]);
}

// The angle between a and b, in degrees (well conditioned near 0).
double degreesApart(const Normal& a, const float* b)
{
    const double d[3] = {b[0], b[1], b[2]};
    const Normal c = cross(a.data(), d);
    return std::atan2(std::hypot(c[0], c[1], c[2]), a[0] * d[0] + a[1] * d[1] + a[2] * d[2]) * 180 / M_PI;
}

// Vertices whose normal (three floats every stride) is not the unit sum of
// (b - a) x (c - a) over the PLY's triangles that use it.
size_t unlikeAreaNormals(const Ply& ply, const float* normals, size_t stride)
{
    std::vector<Normal> sum(ply.vertices.size());
    for (const auto& face : ply.faces)
        for (std::uint32_t v : face)
            for (int k = 0; k < 3; ++k)
                sum[v][k] += faceNormal(ply, face)[k];
    size_t count = 0;
    for (size_t v = 0; v < sum.size(); ++v) {
        const float* n = normals + v * stride;
        count += !(degreesApart(sum[v], n) < 1e-3 && std::fabs(std::hypot(double(n[0]), n[1], n[2]) - 1) < 1e-6);  // NaN too
    }
    return count;
}

TEST(Export, AssimpTheValidatorAndThePlyFindTheSameSurfaceAndAreaNormalsInEveryFile)
{
    // assimp's count of triangles, extent and texture (embedded in the glTF).
    enterTemporaryFolder(true);
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
    // The glTF's positions and triangles are the PLY's, bit for bit.
    const Ply surface = readPly(readFile("dome.ply"));
    const std::string glb = readFile("dome.glb"), mesh = "/meshes/0/primitives/0/";
    const std::string positions = glbPart(glb, mesh + "attributes/POSITION"), corners = glbPart(glb, mesh + "indices");
    ASSERT_EQ(positions.size() + corners.size(), (surface.vertices.size() + surface.faces.size()) * 12);
    size_t wrong = std::memcmp(corners.data(), surface.faces.data(), corners.size()) != 0;
    for (size_t n = 0; n < surface.vertices.size(); ++n)
        wrong += std::memcmp(&positions[12 * n], &surface.vertices[n], 12) != 0;
    EXPECT_EQ(wrong, 0u);

    // The default normals: the unit sums of (b - a) x (c - a) over the PLY's
    // own triangles, in all three files; and every triangle's own normal lies
    // on the side of its corners' normals.
    std::istringstream objNormals(runCommand("sed -n 's/^vn //p' dome.obj").out);
    const std::vector<float> obj(std::istream_iterator<float>(objNormals), {});
    const std::string glbNormals = glbPart(glb, mesh + "attributes/NORMAL");
    EXPECT_EQ(unlikeAreaNormals(surface, &surface.vertices[0][3], 8) + unlikeAreaNormals(surface, obj.data(), 3) +
                  unlikeAreaNormals(surface, reinterpret_cast<const float*>(glbNormals.data()), 3), 0u);
    wrong = 0;
    for (const auto& face : surface.faces)
        for (std::uint32_t v : face)
            wrong += degreesApart(faceNormal(surface, face), &surface.vertices[v][3]) >= 90;
    EXPECT_EQ(wrong, 0u) << "triangles wound against their normals";
}

TEST(Export, WithTheViewersNormalsEveryVertexIsTheDefinitionsOn16BitHeights)
{
    // Every vertex bit for bit: the patch point moved along the viewer's
    // normal by T = v / 65535, v as ImageMagick decodes the PNG
    // (little-endian, turned bottom row first), that normal, and the grid's
    // texture coordinates.
    enterTemporaryFolder(true);
    buildSurfaceTables();
    ASSERT_EQ(runCommand("convert -size 512x512 -depth 16 gradient: -swirl 200 heights.png && " + EXPORT +
                         "--normals viewer --displacement heights.png deep.ply").status, 0);
    const std::string v = runCommand("convert heights.png -flip -depth 16 gray:-").out;
    const Ply deep = readPly(readFile("deep.ply"));
    ASSERT_EQ(v.size(), 512u * 512 * 2);
    const auto T = [&v](int row, int col) { return (uint8_t(v[2 * (row * 512 + col)]) + 256 * uint8_t(v[2 * (row * 512 + col) + 1])) / 65535.0f; };
    size_t wrong = 0;
    for (size_t n = 0; n < GRID_SAMPLES * GRID_SAMPLES; ++n) {
        const StripVertex e = expectedVertex(int(n / GRID_SAMPLES), int(n % GRID_SAMPLES), T);
        const std::array<float, 8> expected = {e.x, e.y, e.z, e.nx, e.ny, e.nz, e.s, e.t};
        wrong += std::memcmp(&deep.vertices[n], &expected, 32) != 0;
    }
    EXPECT_EQ(wrong, 0u);

    // --relief 3: the undisplaced point moved three sevenths of T along the
    // normal; --relief 1 is no option at all, byte for byte. Its pages too,
    // with the sample TGA and with a JPEG (the web page test looks at them;
    // here the sanitizers do).
    ASSERT_EQ(runCommand("mkdir one && " + EXPORT + "--normals=viewer --displacement heights.png --relief=3 tall.ply && " + EXPORT +
                         "--normals viewer --displacement heights.png --relief 1 one/deep.ply && " + EXPORT +
                         "--displacement heights.png --relief 3 tall.html && convert texture/color.tga c.jpg && " + EXPORT +
                         "--color c.jpg --displacement heights.png photo.html").status, 0);
    EXPECT_TRUE(readFile("one/deep.ply") == readFile("deep.ply"));
    const Ply tall = readPly(readFile("tall.ply"));
    double worst = 0;
    for (size_t n = 0; n < GRID_SAMPLES * GRID_SAMPLES; ++n) {
        const StripVertex e = expectedVertex(int(n / GRID_SAMPLES), int(n % GRID_SAMPLES), T, 3);
        const float expected[3] = {e.x, e.y, e.z};
        for (int axis = 0; axis < 3; ++axis)
            worst = std::max(worst, double(std::abs(tall.vertices[n][axis] - expected[axis])));
    }
    EXPECT_LT(worst, 1e-6);
}

// The SHA-256 of a PLY's positions (x y z of every vertex, as stored).
std::string positionsHash(const Ply& ply)
{
    std::string positions;
    for (const std::array<float, 8>& vertex : ply.vertices)
        positions.append(reinterpret_cast<const char*>(vertex.data()), 12);
    writeFile("positions", Bytes(positions.begin(), positions.end()));
    return runCommand("sha256sum < positions").out.substr(0, 64);
}

TEST(Export, HeightsAreReadWholeInLineWithTheColourAndA512SquareAsItAlwaysWas)
{
    // A 512 x 512 image gives the positions it gave when only the first 512
    // rows and columns were read, bit for bit: the sample heights' hash, kept
    // from then.
    enterTemporaryFolder(true);
    buildSurfaceTables();
    ASSERT_EQ(runCommand(EXPORT + "--normals viewer samples.ply").status, 0);
    EXPECT_EQ(positionsHash(readPly(readFile("samples.ply"))),
              "8c2d92658d3bf440810def6d189afdf002c765f786c515f6b7c90d0073d286b8");

    // A 2048 x 2048 height map with one peak off centre, 70% across and 30%
    // down the drawing (ImageMagick's, top row first): the most displaced
    // vertex lies where the colour image, laid whole, has that point, at
    // s = 1433 / 2047 and t = 1 - 614 / 2047 (row samples run against t),
    // within two grid steps. Reading only a corner, turning the axes or the
    // rows misses it by hundreds.
    ASSERT_EQ(runCommand("convert -size 2048x2048 xc:black \\( -size 801x801 radial-gradient:white-black \\) "
                         "-geometry +1033+214 -composite -colorspace gray -depth 16 peak.png && " + EXPORT +
                         "--normals viewer --displacement peak.png peak.ply").status, 0);
    const Ply peak = readPly(readFile("peak.ply"));
    size_t highest = 0;
    double most = 0;
    for (size_t n = 0; n < peak.vertices.size(); ++n) {
        const int e = int(n / GRID_SAMPLES), i = int(n % GRID_SAMPLES);
        const Vector3 p = patchPoint(e, i), normal = patchNormal(e, i);
        const std::array<float, 8>& v = peak.vertices[n];
        const double height = std::hypot(v[0] - p.x, v[1] - p.y, v[2] - p.z) /
                              std::hypot(normal.x, normal.y, normal.z);
        if (height > most)
            std::tie(most, highest) = std::pair{height, n};
    }
    EXPECT_NEAR(double(highest % GRID_SAMPLES), 1433.0 / 2047 * GRID_STEPS, 2);
    EXPECT_NEAR(double(highest / GRID_SAMPLES), 614.0 / 2047 * GRID_STEPS, 2);

    // A page carries the heights as the surface samples them: a 4096 x 4096
    // map's page is no larger than the same map's drawn at 1025 x 1025.
    for (const char* side : {"4096", "1025"})
        ASSERT_EQ(runCommand(std::string("convert -size ") + side + "x" + side + " gradient: -swirl 200 -depth 16 map" +
                             side + ".png && " + EXPORT + "--displacement map" + side + ".png map" + side + ".html")
                      .status, 0);
    EXPECT_LE(readFile("map4096.html").size(), readFile("map1025.html").size() * 1.02);
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
        EXPECT_TRUE(colour != "texture/color.tga" ||
                    plyPicture == runCommand("convert texture/color.tga -auto-orient rgb:-").out) << "upside down";
        EXPECT_TRUE(glbPicture == plyPicture);
        // Matte (glTF's default is metal), its picture filtered linearly and
        // repeated, as the viewer lays it: the sampler of the material's
        // texture, with glTF's defaults where a value is left out.
        const nlohmann::json gltf = nlohmann::json::parse(glb.substr(20, glb.find("BIN") - 24));
        const nlohmann::json& pbr = gltf["materials"][0]["pbrMetallicRoughness"];
        EXPECT_EQ(pbr.value("metallicFactor", 1.0) + pbr.value("roughnessFactor", 1.0), 1.0);
        const nlohmann::json& sampler = gltf["samplers"][int(gltf["textures"][int(pbr["baseColorTexture"]["index"])]["sampler"])];
        EXPECT_EQ(std::vector<int>({sampler.value("magFilter", 0), sampler.value("minFilter", 0), sampler.value("wrapS", 10497),
                                    sampler.value("wrapT", 10497)}), std::vector<int>({9729, 9729, 10497, 10497}));  // LINEAR, REPEAT
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

    // Without the viewer's own colour image (none, or one refused) the mesh or
    // page is written white and untextured, and says so; no picture is
    // written. (One named must be read: command_line_test.)
    writeFile("huge.tga", tgaHeader(11, 65535, 65535, 8) + Bytes{0xff, 1});
    std::filesystem::remove("dome.png");
    std::filesystem::remove("texture/color.tga");
    const Outcome none = runCommand(EXPORT + "dome.obj && " + EXPORT + "dome.html");
    std::filesystem::copy("huge.tga", "texture/color.tga");
    const Outcome refused = runCommand(EXPORT + "dome.ply");
    EXPECT_EQ(none.status + refused.status, 0);
    EXPECT_EQ(none.err + refused.err,
              "texture/color.tga: cannot be opened (No such file or directory); the mesh has no texture\n"
              "texture/color.tga: cannot be opened (No such file or directory); the page has no texture\n"
              "texture/color.tga: 65535 x 65535 is more pixels than an image may have (16384 x 16384 in all)\n"
              "texture/color.tga: no picture to lay on the surface; the mesh has no texture\n");
    // The material plain white (its diffuse colour), with no picture.
    const std::string mtl = readFile("dome.mtl");
    float kd[3] = {0, 0, 0};
    std::istringstream(mtl.substr(mtl.find("\nKd ") + 4)) >> kd[0] >> kd[1] >> kd[2];
    EXPECT_TRUE(kd[0] == 1 && kd[1] == 1 && kd[2] == 1 && mtl.find("map_Kd") == std::string::npos) << mtl;
    EXPECT_EQ(readFile("dome.ply").find("TextureFile"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("dome.png"));
}

TEST(Export, FailuresSayWhyAndLeaveTheFolderAsItWas)
{
    // Heights with no texel, and an existing output that a failed export
    // must not touch.
    enterTemporaryFolder(true);
    std::filesystem::create_directory("folder.obj");
    writeFile("flat.tga", tgaHeader(2, 256, 0, 24));
    writeFile("old.ply", {'o', 'l', 'd'});
    writeFile("dome.png", {'o', 'l', 'd'});
    EXPECT_EQ(refusalsUnlike({
        {EXPORT + "--displacement flat.tga a.obj", 1, "flat.tga: 256 x 0 holds no heights; there is no relief to export\n"},
        {EXPORT + "folder.obj", 1, "folder.obj: is a directory\n"},
        // A write that fails partway, past a file-size limit far below the file's size.
        {"ulimit -f 1000; " + EXPORT + "old.ply", 1, "old.ply: cannot be written (File too large)\n"},
        // Ended by SIGTERM once its temporary file is there: 128 + 15. Were
        // the file never made, the run would end first and wait say 0.
        {EXPORT + "dome.obj & until ls dome.obj.tmp-* || ! kill -0 $!; do sleep 0.01; done >/dev/null 2>&1; "
                  "kill $!; wait $! 2>/dev/null", 143, ""},
        // The mesh's rename fails, at a folder made in its place while it
        // is written: its picture and material go, the picture there before
        // comes back.
        {EXPORT + "dome.obj & until ls dome.obj.tmp-* || ! kill -0 $!; do sleep 0.01; done >/dev/null 2>&1; "
                  "mkdir -p dome.obj/in; wait $!; status=$?; rm -r dome.obj; exit $status", 1,
         "dome.obj: cannot be written (Is a directory)\n"},
              }), "");
    EXPECT_EQ(readFile("old.ply") + readFile("dome.png"), "oldold");
}

// Whether the export with options succeeds, its images read and nothing
// refused, within kib KiB of address space: a limit set in its own shell,
// so that memory reserved counts whether or not it is touched.
bool exportsWithin(size_t kib, const std::string& options)
{
    const Outcome run = runCommand("ulimit -v " + std::to_string(kib) + " && " + EXPORT + options);
    return run.status == 0 && run.err.empty();
}

TEST(Export, TheImagesCostWhatIsKeptAndThePictureNoCopy)
{
    // Over the export's own need with the sample images, an image costs its
    // kept bytes and 10%: the colour picture goes to its file a row at a
    // time from the RGBA image held, not through a copy. An 8192 x 8192
    // 16-bit PNG as both images: RGBA and the 16-bit height, and RGBA; a
    // photo turned by its EXIF orientation, 48 MiB as shown, with 16 MiB
    // more for libjpeg and the file in memory.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves its shadow memory at start, far past any such limit";
#endif
    enterTemporaryFolder(true);
    size_t fails = 0, baseline = size_t(1) << 20;  // the least that serves, in KiB to 1 MiB
    while (baseline - fails > 1024)
        (exportsWithin((fails + baseline) / 2, "base.ply") ? baseline : fails) = (fails + baseline) / 2;
    // Short of it, the export ends in its one line, leaving no temporary.
    const Outcome starved = runCommand("ulimit -v " + std::to_string(fails) + " && " + EXPORT + "base.ply");
    EXPECT_EQ(starved.status * 100 + std::count(starved.err.begin(), starved.err.end(), '\n'), 101) << starved.err;
    EXPECT_EQ(runCommand("ls -a | grep -c tmp").out, "0\n");
    writeFile("big.png", zeroPng(8192, 8192, 0x1000, 16385, 8192));
    ASSERT_EQ(runCommand("convert -size 4096x3072 gradient:red-blue -quality 80 stored.jpg").status, 0);
    writeFile("turned.jpg", withOrientation(readFile("stored.jpg"), 6));
    const std::pair<std::string, double> runs[] = {
        {"--displacement big.png --color big.png big.ply", 8192.0 * 8192 * 10 * 1.1},
        {"--color turned.jpg turned.ply", 4096.0 * 3072 * 4 * 1.1 + (16 << 20)}};
    for (const auto& [options, bytes] : runs)
        EXPECT_TRUE(exportsWithin(baseline + size_t(bytes / 1024), options)) << options;
    // The picture as shown, upright, as ImageMagick decodes the photo.
    EXPECT_EQ(unlike(runCommand("convert turned.png rgb:-").out,
                     runCommand("convert turned.jpg -auto-orient rgb:-").out, 2), 0u);
}

}  // namespace
