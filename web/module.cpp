// The web page's way into the desktop's own readers and surface, compiled
// to WebAssembly (scripts/build-wasm.sh): bytes in, bytes out. Nothing is
// decided here; every answer is the desktop code's.

#include "image.h"
#include "surface.h"
#include "texture_pixels.h"

#include <emscripten/emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// One reading kept for the page: the image and the line the desktop would
// have printed on standard error when it refused the file ("" when read).
struct Decoded {
    ImageRead image;
    std::string refusal;
};

// The module prints nothing: the reader's console lines go to a file of its
// own, and its one line on standard error is read back from there.
constexpr const char* REFUSAL_FILE = "/refusal";

std::string lastLine()
{
    std::fflush(stderr);
    std::rewind(stderr);
    std::string line;
    char part[256];
    while (std::fgets(part, sizeof part, stderr))
        line += part;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

}  // namespace

extern "C" {

// Reads size bytes of the file name as the desktop does (the name chooses
// the decoder), with the 16-bit red channel when wantRed16. Give the result
// to the decoded functions below, then to decodedFree.
EMSCRIPTEN_KEEPALIVE Decoded* decode(const unsigned char* data, size_t size, const char* name, int wantRed16)
{
    std::freopen("/dev/null", "w", stdout);
    std::freopen(REFUSAL_FILE, "w+", stderr);
    auto* decoded = new Decoded{decodeImage(data, size, name, wantRed16 != 0), {}};
    std::fflush(stdout);
    decoded->refusal = lastLine();
    return decoded;
}

// The size as the header claims (also when refused later).
EMSCRIPTEN_KEEPALIVE int decodedWidth(const Decoded* d) { return d->image.width; }
EMSCRIPTEN_KEEPALIVE int decodedHeight(const Decoded* d) { return d->image.height; }
// RGBA, 4 bytes a pixel, in the desktop's row order; null when refused.
EMSCRIPTEN_KEEPALIVE const unsigned char* decodedPixels(const Decoded* d) { return d->image.pixels.get(); }
// One value a pixel; null when not asked for or the file has 8 bits.
EMSCRIPTEN_KEEPALIVE const unsigned short* decodedRed16(const Decoded* d) { return d->image.red16.get(); }
EMSCRIPTEN_KEEPALIVE int decodedOrientation(const Decoded* d) { return d->image.orientation; }
// "<name>: <reason>" when refused, else "".
EMSCRIPTEN_KEEPALIVE const char* decodedRefusal(const Decoded* d) { return d->refusal.c_str(); }
EMSCRIPTEN_KEEPALIVE void decodedFree(Decoded* d) { delete d; }

// The number of grid samples surfacePositions gives.
EMSCRIPTEN_KEEPALIVE int gridVertices() { return GRID_SAMPLES * GRID_SAMPLES; }

// The surface's positions (x, y, z a sample, in surfaceGrid()'s order) with
// the displacement image d (null: none) at relief scale relief; free() them.
// d keeps its pixels: the surface reads them only during the call.
EMSCRIPTEN_KEEPALIVE float* surfacePositions(const Decoded* d, float relief)
{
    static const bool built = (buildSurfaceTables(), true);
    (void)built;
    const ImageRead* image = d && d->image.pixels ? &d->image : nullptr;
    useDisplacement(image ? image->pixels.get() : nullptr, image ? image->width : 0, image ? image->height : 0,
                    image ? image->red16.get() : nullptr);
    reliefScale = relief;
    const std::vector<StripVertex> grid = surfaceGrid();
    useDisplacement(nullptr, 0, 0);
    auto* positions = static_cast<float*>(std::malloc(grid.size() * 3 * sizeof(float)));
    if (!positions)
        return nullptr;
    for (size_t k = 0; k < grid.size(); ++k) {
        positions[3 * k] = grid[k].x;
        positions[3 * k + 1] = grid[k].y;
        positions[3 * k + 2] = grid[k].z;
    }
    return positions;
}

}  // extern "C"
