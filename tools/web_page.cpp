#include "web_page.h"

#include "command_line.h"
#include "output_file.h"
#include "surface.h"
#include "view.h"
#include "web_page_parts.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstring>

namespace {

std::string base64(const unsigned char* data, size_t size)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (size_t k = 0; k < size; k += 3) {
        const size_t left = size - k;
        const unsigned bits = unsigned(data[k]) << 16 | (left > 1 ? unsigned(data[k + 1]) << 8 : 0u) |
                              (left > 2 ? unsigned(data[k + 2]) : 0u);
        text += digits[bits >> 18 & 63];
        text += digits[bits >> 12 & 63];
        text += left > 1 ? digits[bits >> 6 & 63] : '=';
        text += left > 2 ? digits[bits & 63] : '=';
    }
    return text;
}

// The texels the displacement reads from image, row 0 first as the surface
// addresses them: 16-bit values little-endian when the image has them, else
// the red bytes.
std::vector<unsigned char> heightSamples(const Displacement& image)
{
    constexpr int side = DISPLACE_GRID_MAX + 1;
    const size_t width = image.red16 ? 2 : 1;
    std::vector<unsigned char> bytes(size_t(side) * side * width);
    unsigned char* at = bytes.data();
    for (int row = 0; row < side; ++row)
        for (int column = 0; column < side; ++column) {
            const size_t texel = size_t(row) * size_t(image.width) + size_t(column);
            if (image.red16) {
                *at++ = static_cast<unsigned char>(image.red16[texel] & 0xffu);
                *at++ = static_cast<unsigned char>(image.red16[texel] >> 8);
            } else {
                *at++ = image.pixels[4 * texel];
            }
        }
    return bytes;
}

// bytes in zlib's format at its best compression, which the browser's
// DecompressionStream("deflate") inflates; empty when zlib fails.
std::vector<unsigned char> deflated(const std::vector<unsigned char>& bytes)
{
    uLongf size = compressBound(bytes.size());
    std::vector<unsigned char> out(size);
    if (compress2(out.data(), &size, bytes.data(), bytes.size(), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    out.resize(size);
    return out;
}

// A JPEG's bytes without its EXIF blocks (APP1 segments that start
// "Exif\0\0"), where its orientation is; the scan and every other segment
// as they are. Empty when the segments before the scan do not parse.
std::vector<unsigned char> withoutExif(const unsigned char* data, size_t size)
{
    std::vector<unsigned char> out(data, data + 2);  // start of image
    size_t at = 2;
    for (;;) {
        if (at + 4 > size || data[at] != 0xff)
            return {};
        const unsigned marker = data[at + 1];
        if (marker == 0xda)  // start of scan: the rest is the picture
            break;
        const size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || length > size - at - 2)
            return {};
        const bool exif = marker == 0xe1 && length >= 8 && std::memcmp(data + at + 4, "Exif\0\0", 6) == 0;
        if (!exif)
            out.insert(out.end(), data + at, data + at + 2 + length);
        at += 2 + length;
    }
    out.insert(out.end(), data + at, data + size);
    return out;
}

// Single-precision values as base64 of their little-endian bytes: the
// page reads them back into a Float32Array bit for bit.
std::string floatsBase64(const float* values, size_t count)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(4 * count);
    for (size_t k = 0; k < count; ++k) {
        std::uint32_t bits;
        std::memcpy(&bits, &values[k], sizeof bits);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<unsigned char>(bits >> shift & 0xffu));
    }
    return base64(bytes.data(), bytes.size());
}

nlohmann::json vector(Vector3 v) { return {v.x, v.y, v.z}; }

// A net, row after row, each entry x y z.
template <size_t ROWS, size_t COLUMNS>
nlohmann::json net(const Vector3 (&points)[ROWS][COLUMNS])
{
    nlohmann::json list = nlohmann::json::array();
    for (const auto& row : points)
        for (const Vector3& point : row)
            list.push_back(vector(point));
    return list;
}

// The numbers that define the dome and its view, under their C++ names: the
// page takes every one of them from here and types none again. Needs
// buildSurfaceTables().
nlohmann::json definitions()
{
    return {
        {"GRID_STEPS", GRID_STEPS},
        {"cubicBasis", floatsBase64(&cubicBasis[0][0], sizeof cubicBasis / sizeof(float))},
        {"quadraticBasis", floatsBase64(&quadraticBasis[0][0], sizeof quadraticBasis / sizeof(float))},
        {"controlNet", net(controlNet)},
        {"normalNet", net(normalNet)},
        {"DISPLACE_GRID_MAX", DISPLACE_GRID_MAX},
        {"DISPLACE_DIVISOR", DISPLACE_DIVISOR},
        {"WINDOW_WIDTH", WINDOW_WIDTH},
        {"WINDOW_HEIGHT", WINDOW_HEIGHT},
        {"START_OFFSET", vector(START_OFFSET)},
        {"START_ANGLES", vector(START_ANGLES)},
        {"START_LIGHT", vector(START_LIGHT)},
        {"LIGHT_AMBIENT", LIGHT_AMBIENT},
        {"LIGHT_DIFFUSE", LIGHT_DIFFUSE},
        {"FIELD_OF_VIEW", FIELD_OF_VIEW},
        {"NEAR_PLANE", NEAR_PLANE},
        {"FAR_PLANE", FAR_PLANE},
        {"DEGREES_PER_PIXEL", DEGREES_PER_PIXEL},
        {"ZOOM_PER_PIXEL", ZOOM_PER_PIXEL},
        {"PAN_PER_PIXEL", PAN_PER_PIXEL},
        {"ANGLE_LIMIT", ANGLE_LIMIT},
        {"STEP_PIXELS", STEP_PIXELS},
    };
}

}  // namespace

PagePicture pagePicture(const std::string& file, const ImageRead& colour, const PngPicture* png)
{
    PagePicture picture;
    if (!png)
        return picture;
    ImageRead again;
    size_t size = 0;
    const std::unique_ptr<unsigned char[]> data = readImageFile(file.c_str(), size, again);
    if (data && size > 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff)
        picture.bytes = withoutExif(data.get(), size);
    if (!picture.bytes.empty()) {
        picture.type = "image/jpeg";
        picture.orientation = colour.orientation;
    } else {
        picture.bytes = encodePng(*png);
    }
    return picture;
}

bool writeWebPage(const std::string& path, const PagePicture& picture, const std::string& colorName,
                  const Displacement& image, size_t& bytes)
{
    const std::vector<unsigned char> heights = deflated(heightSamples(image));
    if (heights.empty()) {
        report(path, "cannot be written (zlib cannot deflate the heights)");
        return false;
    }
    const nlohmann::json data = {
        {"colorName", colorName},
        {"color", base64(picture.bytes.data(), picture.bytes.size())},
        {"colorType", picture.type},
        {"colorOrientation", picture.orientation},
        {"heightBits", image.red16 ? 16 : 8},
        {"heights", base64(heights.data(), heights.size())},
        {"relief", image.scale},
        {"definitions", definitions()},
    };
    // A file name need not be UTF-8; the page shows such bytes as U+FFFD.
    std::string json = data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // No "<" inside the script element that holds the data, where "</" would
    // end it and "<!--" change how it is read: JSON's own escape for it
    // (only strings, here the file name, can hold one).
    for (size_t at = json.find('<'); at != std::string::npos; at = json.find('<', at + 6))
        json.replace(at, 1, "\\u003c");
    std::string page(reinterpret_cast<const char*>(WEB_PAGE_HEAD), sizeof WEB_PAGE_HEAD);
    page += json;
    page.append(reinterpret_cast<const char*>(WEB_PAGE_TAIL), sizeof WEB_PAGE_TAIL);
    bytes = page.size();
    return writeWholeOutput(path, page.data(), page.size());
}
