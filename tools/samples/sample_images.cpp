#include "sample_images.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>  // Required for: strerror()
#include <filesystem>

namespace {

constexpr size_t PIXELS = size_t(SAMPLE_SIZE) * SAMPLE_SIZE;

// Height in [0, 1] at x, y in (-1, 1), y up: a central bump, a ring around it
// and two pairs of small bumps mirrored about x = 0. Each pair is added as one
// commutative sum, so x and -x give the same bits.
float heightAt(float x, float y)
{
    auto bump = [](float dx, float dy, float spread) { return std::exp(-(dx * dx + dy * dy) / spread); };
    const float ring = std::sqrt(x * x + y * y) - 0.62f;
    const float h = 0.8f * bump(x, y, 0.1f) + 0.45f * std::exp(-ring * ring / 0.01f) +
                    0.5f * (bump(x - 0.42f, y - 0.42f, 0.015f) + bump(x + 0.42f, y - 0.42f, 0.015f)) +
                    0.4f * (bump(x - 0.3f, y + 0.5f, 0.01f) + bump(x + 0.3f, y + 0.5f, 0.01f));
    return std::min(h, 1.0f);
}

unsigned char toByte(float v) { return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

// Colour ramp by height: blue, green, ochre, near white.
void tint(float h, unsigned char* rgb)
{
    static const float stops[4][3] = {
        {0.30f, 0.45f, 0.75f}, {0.30f, 0.65f, 0.35f}, {0.85f, 0.70f, 0.40f}, {0.97f, 0.95f, 0.92f}};
    const float at = h * 3.0f;
    const int k = std::min(int(at), 2);
    const float f = at - float(k);
    for (int c = 0; c < 3; ++c)
        rgb[c] = toByte(stops[k][c] * (1.0f - f) + stops[k + 1][c] * f);
}

// Texels 31, 32 of every 64 in either direction: a grid symmetric left to
// right (column c and 511 - c agree).
bool onGrid(int row, int column) { return row % 64 == 31 || row % 64 == 32 || column % 64 == 31 || column % 64 == 32; }

}  // namespace

SampleImages makeSampleImages()
{
    SampleImages images;
    images.color.resize(3 * PIXELS);
    images.displace.resize(3 * PIXELS);
    images.normal.resize(3 * PIXELS);

    // Heights as stored, so the normals describe the file's own relief.
    std::vector<float> heights(PIXELS);
    for (int r = 0; r < SAMPLE_SIZE; ++r) {
        for (int c = 0; c < SAMPLE_SIZE; ++c) {
            const float x = (float(c) - 255.5f) / 256.0f, y = (float(r) - 255.5f) / 256.0f;
            const unsigned char h = toByte(heightAt(x, y));
            const size_t n = size_t(r) * SAMPLE_SIZE + c;
            heights[n] = float(h) / 255.0f;
            std::fill_n(&images.displace[3 * n], 3, h);
            tint(heights[n], &images.color[3 * n]);
            if (onGrid(r, c))
                for (int k = 0; k < 3; ++k)
                    images.color[3 * n + k] = static_cast<unsigned char>(images.color[3 * n + k] * 3 / 4);
        }
    }

    // Unit normal of the height field, the heights scaled so the relief
    // shows; central differences, one-sided at the borders. Encoded as
    // (n + 1) / 2 per component.
    constexpr float RELIEF = 48.0f;
    auto at = [&](int r, int c) { return heights[size_t(r) * SAMPLE_SIZE + c]; };
    for (int r = 0; r < SAMPLE_SIZE; ++r) {
        const int below = std::max(r - 1, 0), above = std::min(r + 1, SAMPLE_SIZE - 1);
        for (int c = 0; c < SAMPLE_SIZE; ++c) {
            const int left = std::max(c - 1, 0), right = std::min(c + 1, SAMPLE_SIZE - 1);
            const float dx = (at(r, right) - at(r, left)) / float(right - left) * RELIEF;
            const float dy = (at(above, c) - at(below, c)) / float(above - below) * RELIEF;
            const float length = std::sqrt(dx * dx + dy * dy + 1.0f);
            const float normal[3] = {-dx / length, -dy / length, 1.0f / length};
            unsigned char* out = &images.normal[3 * (size_t(r) * SAMPLE_SIZE + c)];
            for (int k = 0; k < 3; ++k)
                out[k] = toByte((normal[k] + 1.0f) * 0.5f);
        }
    }
    return images;
}

std::vector<unsigned char> encodeTga(int width, int height, const unsigned char* rgb)
{
    const size_t pixels = size_t(width) * size_t(height);
    std::vector<unsigned char> file(18 + 3 * pixels, 0);
    file[2] = 2;  // uncompressed true colour
    file[12] = static_cast<unsigned char>(width);
    file[13] = static_cast<unsigned char>(width >> 8);
    file[14] = static_cast<unsigned char>(height);
    file[15] = static_cast<unsigned char>(height >> 8);
    file[16] = 24;
    file[17] = 0;  // bottom row first, no alpha
    for (size_t n = 0; n < pixels; ++n) {
        file[18 + 3 * n] = rgb[3 * n + 2];
        file[18 + 3 * n + 1] = rgb[3 * n + 1];
        file[18 + 3 * n + 2] = rgb[3 * n];
    }
    return file;
}

std::string writeSampleImages(const std::string& folder)
{
    const SampleImages images = makeSampleImages();
    const struct {
        const char* name;
        const std::vector<unsigned char>& rgb;
    } files[3] = {{"color.tga", images.color}, {"displace.tga", images.displace}, {"normal.tga", images.normal}};

    for (const auto& file : files) {
        const std::filesystem::path path = std::filesystem::path(folder) / file.name;
        std::error_code error;
        if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found)
            return path.string() + ": already there, not overwritten";
    }
    for (const auto& file : files) {
        const std::string path = (std::filesystem::path(folder) / file.name).string();
        const std::vector<unsigned char> bytes = encodeTga(SAMPLE_SIZE, SAMPLE_SIZE, file.rgb.data());
        // "x": fails rather than replace a file that appeared meanwhile.
        std::FILE* out = std::fopen(path.c_str(), "wbx");
        if (!out)
            return path + ": " + std::strerror(errno);
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        if (std::fclose(out) != 0 || !written)
            return path + ": cannot be written";
    }
    return {};
}
