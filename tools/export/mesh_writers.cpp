// The mesh files of the surface grid. Numbers go out little-endian whatever
// the host's byte order; OBJ's in the fewest digits that read back as the
// same single-precision value.
#include "mesh_writers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>  // Required for: to_chars(), shortest round-trip floats
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// put(corner) for every triangle of the strips in turn, corner its three
// vertex indices.
template <typename Put>
void eachTriangle(Put put)
{
    for (int e = 0; e < GRID_STEPS; ++e)
        for (int k = 0; k < TRIANGLES_PER_STRIP; ++k) {
            std::uint32_t corner[3];
            stripTriangle(e, k, corner);
            put(corner);
        }
}

// Every triangle's three vertex indices, little-endian uint32; in PLY each
// after its count, 3.
void putTriangles(OutputFile& out, bool counted)
{
    eachTriangle([&](const std::uint32_t corner[3]) {
        RecordWriter record(out, 13);
        if (counted)
            record.byte(3);
        for (int c = 0; c < 3; ++c)
            record.u32(corner[c]);
    });
}

// A line of a keyword and floats, each written in the fewest digits that read
// back as the same single-precision value.
void putFloatLine(OutputFile& out, const char* keyword, std::initializer_list<float> values)
{
    RecordWriter line(out, 128);
    line.bytes(keyword, std::strlen(keyword));
    for (float value : values) {
        line.byte(' ');
        line.text(value);
    }
    line.byte('\n');
}

}  // namespace

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
        RecordWriter record(out, 32);
        for (float value : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.s, v.t})
            record.f32(value);
    }
    putTriangles(out, true);
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
    eachTriangle([&](const std::uint32_t corner[3]) {
        RecordWriter line(out, 128);
        line.byte('f');
        for (int c = 0; c < 3; ++c) {
            char number[16];
            const size_t length = size_t(std::to_chars(number, number + 16, corner[c] + 1).ptr - number);
            line.byte(' ');
            for (int part = 0; part < 3; ++part) {
                if (part > 0)
                    line.byte('/');
                line.bytes(number, length);
            }
        }
        line.byte('\n');
    });
}

// One matte material, white (as the viewer lights the dome without texture)
// or the picture.
void writeMtl(OutputFile& out, const std::string& picture)
{
    put(out, "newmtl dome\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nillum 1\n");
    if (!picture.empty())
        put(out, ("map_Kd " + picture + "\n").c_str());
}

namespace {

constexpr int FLOAT = 5126, UNSIGNED_INT = 5125, ARRAY_BUFFER = 34962, ELEMENT_ARRAY_BUFFER = 34963;
constexpr int LINEAR = 9729, REPEAT = 10497, TRIANGLES = 4;

// Where each part of the glTF binary chunk starts, in its order: positions,
// unit normals, texture coordinates, indices (whole words each) and the
// picture, padded to a 4-byte boundary.
struct GlbLayout {
    size_t positions, normals, coordinates, indices, image, binarySize;
};

GlbLayout glbLayout(size_t pictureBytes)
{
    GlbLayout at;
    at.positions = 0;
    at.normals = at.positions + VERTEX_COUNT * 12;
    at.coordinates = at.normals + VERTEX_COUNT * 12;
    at.indices = at.coordinates + VERTEX_COUNT * 8;
    at.image = at.indices + TRIANGLE_COUNT * 12;
    at.binarySize = at.image + (pictureBytes + 3) / 4 * 4;
    return at;
}

// The least and greatest position on each axis, as glTF asks of positions.
void positionBounds(const std::vector<StripVertex>& grid, float low[3], float high[3])
{
    low[0] = high[0] = grid[0].x;
    low[1] = high[1] = grid[0].y;
    low[2] = high[2] = grid[0].z;
    for (const StripVertex& v : grid) {
        const float p[3] = {v.x, v.y, v.z};
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
        }
    }
}

// The JSON chunk: one mesh whose parts lie where the layout puts them, and
// its matte material, textured when there is a picture; padded with spaces
// to a 4-byte boundary.
std::string glbJson(const GlbLayout& at, const std::vector<StripVertex>& grid, size_t pictureBytes,
                    const char* generator)
{
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
        {"asset", {{"version", "2.0"}, {"generator", generator}}},
        {"scene", 0},
        {"scenes", {{{"nodes", {0}}}}},
        {"nodes", {{{"mesh", 0}, {"name", "dome"}}}},
        {"meshes", {{{"name", "dome"},
                     {"primitives", {{{"attributes", {{"POSITION", 0}, {"NORMAL", 1}, {"TEXCOORD_0", 2}}},
                                      {"indices", 3},
                                      {"material", 0},
                                      {"mode", TRIANGLES}}}}}}},
        {"buffers", {{{"byteLength", at.binarySize}}}},
        {"bufferViews", {view(at.positions, at.normals - at.positions, ARRAY_BUFFER),
                         view(at.normals, at.coordinates - at.normals, ARRAY_BUFFER),
                         view(at.coordinates, at.indices - at.coordinates, ARRAY_BUFFER),
                         view(at.indices, at.image - at.indices, ELEMENT_ARRAY_BUFFER)}},
        {"accessors", {accessor(0, FLOAT, VERTEX_COUNT, "VEC3"), accessor(1, FLOAT, VERTEX_COUNT, "VEC3"),
                       accessor(2, FLOAT, VERTEX_COUNT, "VEC2"),
                       accessor(3, UNSIGNED_INT, TRIANGLE_COUNT * 3, "SCALAR")}},
    };
    float low[3], high[3];
    positionBounds(grid, low, high);
    gltf["accessors"][0]["min"] = low;
    gltf["accessors"][0]["max"] = high;
    if (pictureBytes > 0) {
        gltf["bufferViews"].push_back(view(at.image, pictureBytes, 0));
        gltf["images"] = {{{"bufferView", 4}, {"mimeType", "image/png"}}};
        gltf["samplers"] = {{{"magFilter", LINEAR}, {"minFilter", LINEAR}, {"wrapS", REPEAT}, {"wrapT", REPEAT}}};
        gltf["textures"] = {{{"sampler", 0}, {"source", 0}}};
        pbr["baseColorTexture"] = {{"index", 0}};
    }
    gltf["materials"] = {{{"name", "dome"}, {"pbrMetallicRoughness", pbr}}};
    std::string text = gltf.dump();
    text.resize((text.size() + 3) / 4 * 4, ' ');
    return text;
}

// The binary chunk's parts in the layout's order.
bool putGlbBinary(OutputFile& out, const GlbLayout& at, const std::vector<StripVertex>& grid,
                  OutputFile* picture, size_t pictureBytes)
{
    auto putVector = [&out](Vector3 a) {
        RecordWriter record(out, 12);
        record.f32(a.x);
        record.f32(a.y);
        record.f32(a.z);
    };
    for (const StripVertex& v : grid)
        putVector({v.x, v.y, v.z});
    // glTF wants unit normals; the viewer's are not.
    for (const StripVertex& v : grid)
        putVector(normalise({v.nx, v.ny, v.nz}));
    // glTF's v runs down the image: the picture's top row is v = 0.
    for (const StripVertex& v : grid) {
        RecordWriter record(out, 8);
        record.f32(v.s);
        record.f32(1.0f - v.t);
    }
    putTriangles(out, false);
    if (picture && !copyOutput(*picture, out))
        return false;
    putBytes(out, "\0\0\0", at.binarySize - at.image - pictureBytes);
    return true;
}

}  // namespace

// glTF 2.0 binary: a JSON chunk describing one mesh, then one binary chunk
// holding its parts.
bool writeGlb(OutputFile& out, const std::vector<StripVertex>& grid, const PngPicture* picture,
              const char* generator)
{
    // The picture's length comes before it, in the JSON: the PNG is made
    // into a scratch file beside first, rather than held whole.
    OutputFile scratch;
    size_t pictureBytes = 0;
    if (picture && !(openOutput(scratch, out.path) && (pictureBytes = putPng(scratch, *picture)) > 0)) {
        discardOutput(scratch);
        return false;
    }
    const GlbLayout layout = glbLayout(pictureBytes);
    const std::string text = glbJson(layout, grid, pictureBytes, generator);
    auto putWord = [&out](std::uint32_t value) { RecordWriter(out, 4).u32(value); };
    putBytes(out, "glTF", 4);
    putWord(2);
    putWord(std::uint32_t(12 + 8 + text.size() + 8 + layout.binarySize));
    putWord(std::uint32_t(text.size()));
    putBytes(out, "JSON", 4);
    putBytes(out, text.data(), text.size());
    putWord(std::uint32_t(layout.binarySize));
    putBytes(out, "BIN", 4);  // with its terminating zero
    const bool written = putGlbBinary(out, layout, grid, picture ? &scratch : nullptr, pictureBytes);
    discardOutput(scratch);
    return written;
}

double meshBytesEstimate(const std::string& format, int width, int height)
{
    const double vertices = VERTEX_COUNT, triangles = TRIANGLE_COUNT, picture = 1.5 * width * height;
    if (format == "obj")
        return 95 * vertices + 63 * triangles + picture;
    const double mesh = vertices * sizeof(StripVertex) + triangles * (format == "ply" ? 13 : 12);
    return mesh + picture;
}
