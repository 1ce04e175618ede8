#include "web_page.h"

#include "command_line.h"
#include "jpeg_decoder.h"
#include "navigation.h"
#include "output_file.h"
#include "tiff_image.h"
#include "surface.h"
#include "view.h"
#include "web_page_markup.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <algorithm>
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

// The heights as the surface samples them (surfaceHeights(): the whole
// image, reduced where it is larger than the grid) as a grey PNG: at 8 bits
// when every texel is an 8-bit red widened (r * 257), else at 16; float
// heights as a float TIFF, every bit kept (type names which). Its rows are
// written last first, so that the reader, which turns them bottom row
// first, gives them back in the surface's order. Empty when libpng or
// libtiff fails.
std::vector<unsigned char> heightsFile(const Displacement& image, const char*& type)
{
    const SurfaceHeights heights = surfaceHeights(image);
    type = heights.floats.empty() ? "png" : "tiff";
    if (!heights.floats.empty())
        return encodeFloatTiff(heights.floats.data(), heights.width, heights.height);
    const bool wide = std::any_of(heights.texels.begin(), heights.texels.end(),
                                  [](unsigned short v) { return v % 257 != 0; });
    const size_t width = size_t(heights.width), bytes = wide ? 2 : 1;
    std::vector<unsigned char> rows(width * size_t(heights.height) * bytes);
    unsigned char* at = rows.data();
    for (int row = heights.height - 1; row >= 0; --row)
        for (size_t column = 0; column < width; ++column) {
            const unsigned short v = heights.texels[size_t(row) * width + column];
            if (wide) {
                *at++ = static_cast<unsigned char>(v >> 8);
                *at++ = static_cast<unsigned char>(v & 0xffu);
            } else {
                *at++ = static_cast<unsigned char>(v / 257);
            }
        }
    PngPicture picture{rows.data(), ptrdiff_t(width * bytes), heights.width, heights.height, false, 9, true,
                       wide ? 16 : 8};
    return encodePng(picture);
}

// bytes in zlib's format at its best compression, which the browser's
// DecompressionStream("deflate") inflates; empty when zlib fails.
std::vector<unsigned char> deflated(const unsigned char* bytes, size_t size)
{
    uLongf room = compressBound(size);
    std::vector<unsigned char> out(room);
    if (compress2(out.data(), &room, bytes, size, Z_BEST_COMPRESSION) != Z_OK)
        return {};
    out.resize(room);
    return out;
}

nlohmann::json vector(Vector3 v) { return {v.x, v.y, v.z}; }

// The numbers that define the dome's grid and its view, under their C++
// names: the page takes every one of them from here and types none again
// (the surface itself comes from the module).
nlohmann::json definitions()
{
    return {
        {"GRID_STEPS", GRID_STEPS},
        {"WINDOW_WIDTH", WINDOW_WIDTH},
        {"WINDOW_HEIGHT", WINDOW_HEIGHT},
        {"START_OFFSET", vector(START_OFFSET)},
        {"START_ANGLES", vector(START_ANGLES)},
        {"START_LIGHT", vector(START_LIGHT)},
        {"LIGHT_AMBIENT", LIGHT_AMBIENT},
        {"LIGHT_DIFFUSE", LIGHT_DIFFUSE},
        {"DEGREES_PER_PIXEL", DEGREES_PER_PIXEL},
        {"STEP_PIXELS", STEP_PIXELS},
        {"DRAG_NONE", DRAG_NONE},
        {"DRAG_ROTATE", DRAG_ROTATE},
        {"DRAG_ZOOM", DRAG_ZOOM},
        {"DRAG_PAN", DRAG_PAN},
    };
}

}  // namespace

bool webModuleBuiltIn() { return !builtInPageParts().module.empty(); }

std::string deflatedBase64(const unsigned char* bytes, size_t size)
{
    const std::vector<unsigned char> out = deflated(bytes, size);
    return out.empty() ? std::string() : base64(out.data(), out.size());
}

PagePicture pagePicture(const std::string& file, const PngPicture* png)
{
    PagePicture picture;
    if (!png)
        return picture;
    ImageRead again;
    size_t size = 0;
    const std::unique_ptr<unsigned char[]> data = readImageFile(file.c_str(), size, again);
    if (data && isJpeg(data.get(), size)) {
        picture.bytes.assign(data.get(), data.get() + size);
        picture.type = "jpeg";
    } else {
        picture.bytes = encodePng(*png);
    }
    return picture;
}

bool writeWebPage(const std::string& path, const PagePicture& picture, const std::string& colorName,
                  const Displacement& heights, const std::string& heightsName, const PageStart& start,
                  size_t& bytes)
{
    const WebPageParts& parts = builtInPageParts();
    const char* heightsType = nullptr;
    const std::vector<unsigned char> heightsBytes = heightsFile(heights, heightsType);
    if (heightsBytes.empty() || parts.module.empty()) {
        report(path, "cannot be written (%s)", heightsBytes.empty() ? "the heights cannot be encoded"
                                                                    : "zlib cannot deflate the module");
        return false;
    }
    const auto image = [](const std::string& name, const char* type, const std::vector<unsigned char>& file) {
        return nlohmann::json{{"name", name}, {"type", type}, {"bytes", base64(file.data(), file.size())}};
    };
    const nlohmann::json data = {
        {"color", picture.bytes.empty() ? nlohmann::json() : image(colorName, picture.type, picture.bytes)},
        {"heights", image(heightsName, heightsType, heightsBytes)},
        {"relief", heights.scale},
        {"normals", start.normals == SurfaceNormals::Displaced ? "displaced" : "viewer"},
        {"light", vector(start.light)},
        {"module", parts.module},
        {"definitions", definitions()},
    };
    // File names need not be UTF-8; the page shows such bytes as U+FFFD.
    std::string json = data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // No "<" inside the script element that holds the data, where "</" would
    // end it and "<!--" change how it is read: JSON's own escape for it
    // (only strings, here the file names, can hold one).
    for (size_t at = json.find('<'); at != std::string::npos; at = json.find('<', at + 6))
        json.replace(at, 1, "\\u003c");
    // The markup with each "@INCLUDE name@" replaced by that part, and
    // "@DATA@" by the data.
    const std::string markup(reinterpret_cast<const char*>(WEB_PAGE_MARKUP), WEB_PAGE_MARKUP_SIZE);
    const std::string include = "@INCLUDE ", dataMark = "@DATA@";
    std::string page;
    size_t at = 0;
    for (size_t mark; (mark = markup.find('@', at)) != std::string::npos;) {
        page.append(markup, at, mark - at);
        const size_t end = markup.find('@', mark + 1);
        if (markup.compare(mark, dataMark.size(), dataMark) == 0) {
            page += json;
            at = mark + dataMark.size();
        } else if (markup.compare(mark, include.size(), include) == 0 && end != std::string::npos) {
            const auto part = parts.texts.find(markup.substr(mark + include.size(), end - mark - include.size()));
            if (part == parts.texts.end()) {
                report(path, "cannot be written (the page has no part %s)", markup.substr(mark, end - mark + 1).c_str());
                return false;
            }
            page += part->second;
            at = end + 1;
        } else {  // not a mark: itself
            page += '@';
            at = mark + 1;
        }
    }
    page.append(markup, at, std::string::npos);
    bytes = page.size();
    return writeWholeOutput(path, page.data(), page.size());
}
