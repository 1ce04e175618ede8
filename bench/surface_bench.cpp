// The surface arithmetic alone, no GL: the weight tables and nets, and all
// 1024 strips into one reused strip buffer, for computeStrip and for the
// straightforward per-sample reference it must match bit for bit.
#include "reference_strip.h"
#include "sample_images.h"
#include "surface.h"
#include "textures.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int64_t SURFACE_VERTICES = int64_t(GRID_STEPS) * STRIP_VERTICES;

// The sample displacement image as RGBA, installed as if read from a file.
void installSampleDisplacement()
{
    static std::vector<unsigned char> rgba;
    if (rgba.empty()) {
        const std::vector<unsigned char> rgb = makeSampleImages().displace;
        rgba.resize(rgb.size() / 3 * 4);
        for (size_t p = 0; p < rgb.size() / 3; ++p) {
            for (int c = 0; c < 3; ++c)
                rgba[4 * p + c] = rgb[3 * p + c];
            rgba[4 * p + 3] = 255;
        }
    }
    displacePixels = rgba.data();
    displaceWidth = SAMPLE_SIZE;
    displaceHeight = SAMPLE_SIZE;
}

void tablesAndNets(benchmark::State& state)
{
    for (auto _ : state) {
        buildBasisTables();
        buildControlNet();
        buildNormalNet();
        benchmark::DoNotOptimize(normalNet);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(tablesAndNets)->Unit(benchmark::kMicrosecond);

template <void (*strip)(int, StripVertex*)>
void wholeSurface(benchmark::State& state)
{
    buildBasisTables();
    buildControlNet();
    buildNormalNet();
    installSampleDisplacement();
    std::vector<StripVertex> buffer(STRIP_VERTICES);
    for (auto _ : state) {
        for (int e = 0; e < GRID_STEPS; ++e) {
            strip(e, buffer.data());
            benchmark::DoNotOptimize(buffer.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * SURFACE_VERTICES);  // vertices per second
    state.SetLabel("vertices");
}
BENCHMARK_TEMPLATE(wholeSurface, computeStrip)->Name("surface/computeStrip")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(wholeSurface, referenceStrip)->Name("surface/straightforward")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
