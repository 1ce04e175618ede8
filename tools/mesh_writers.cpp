// The mesh files of the surface grid. Numbers go out little-endian whatever
// the host's byte order; OBJ's in the fewest digits that read back as the
// same single-precision value.
#include "mesh_writers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>  // Required for: to_chars(), shortest round-trip floats
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

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

// Every triangle's three vertex indices, little-endian uint32; in PLY each
// after its count, 3.
void putTriangles(OutputFile& out, bool counted)
{
    const size_t bytes = counted ? 13 : 12;
    for (int e = 0; e < GRID_STEPS; ++e)
        for (int k = 0; k < TRIANGLES_PER_STRIP; ++k) {
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
        char* at = reserve(out, 32);
        for (float value : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.s, v.t})
            at = putFloat(at, value);
        out.used += 32;
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
    for (int e = 0; e < GRID_STEPS; ++e)
        for (int k = 0; k < TRIANGLES_PER_STRIP; ++k) {
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
void writeGlb(OutputFile& out, const std::vector<StripVertex>& grid, const std::vector<unsigned char>& png,
              const char* generator)
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
        {"asset", {{"version", "2.0"}, {"generator", generator}}},
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
