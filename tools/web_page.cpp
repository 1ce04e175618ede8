#include "web_page.h"

#include "output_file.h"
#include "surface.h"
#include "texture_pixels.h"
#include "web_page_parts.h"

#include <nlohmann/json.hpp>

#include <cstddef>

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

// The texels the displacement reads, row 0 first as the surface addresses
// them: 16-bit values little-endian when the image has them, else the red
// bytes.
std::vector<unsigned char> heightSamples()
{
    constexpr int side = DISPLACE_GRID_MAX + 1;
    const size_t width = displaceRed16 ? 2 : 1;
    std::vector<unsigned char> bytes(size_t(side) * side * width);
    unsigned char* at = bytes.data();
    for (int row = 0; row < side; ++row)
        for (int column = 0; column < side; ++column) {
            const size_t texel = size_t(row) * size_t(displaceWidth) + size_t(column);
            if (displaceRed16) {
                *at++ = static_cast<unsigned char>(displaceRed16[texel] & 0xffu);
                *at++ = static_cast<unsigned char>(displaceRed16[texel] >> 8);
            } else {
                *at++ = displacePixels[4 * texel];
            }
        }
    return bytes;
}

}  // namespace

bool writeWebPage(const std::string& path, const std::vector<unsigned char>& png, const std::string& colorName)
{
    const std::vector<unsigned char> heights = heightSamples();
    const nlohmann::json data = {
        {"colorName", colorName},
        {"color", base64(png.data(), png.size())},
        {"heightBits", displaceRed16 ? 16 : 8},
        {"heights", base64(heights.data(), heights.size())},
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
    return writeWholeOutput(path, page.data(), page.size());
}
