// The surface arithmetic alone, no GL: the weight tables and nets, and all
// 1024 strips into one reused strip buffer by computeStrip, with an 8-bit
// and with a 16-bit displacement image; and the whole grid, each sample once,
// by surfaceGrid (what the web page's module evaluates), into a fresh array. The decoding of the
// 512 x 512 sample colour image from a PNG against its TGA, in memory. And
// an 8192 x 8192 16-bit height map averaged down to the grid, its time and
// the heap it takes beyond the image.
#include "image.h"
#include "png_image.h"
#include "sample_images.h"
#include "surface.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>   // Required for: open()
#include <malloc.h>  // Required for: mallopt()
#include <unistd.h>  // Required for: dup(), dup2(), close()

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int64_t SURFACE_VERTICES = int64_t(GRID_STEPS) * STRIP_VERTICES;

// The sample displacement image as RGBA, as if read from a file.
Displacement sampleHeights()
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
    return {rgba.data(), nullptr, SAMPLE_SIZE, SAMPLE_SIZE};
}

// The same heights at 16 bits (v * 257, the same T), read through the
// 16-bit path.
Displacement sixteenBitHeights()
{
    static std::vector<unsigned short> red16;
    Displacement heights = sampleHeights();
    if (red16.empty())
        for (size_t p = 0; p < size_t(SAMPLE_SIZE) * SAMPLE_SIZE; ++p)
            red16.push_back(static_cast<unsigned short>(heights.pixels[4 * p] * 257));
    heights.red16 = red16.data();
    return heights;
}

void tablesAndNets(benchmark::State& state)
{
    for (auto _ : state) {
        buildSurfaceTables();
        benchmark::DoNotOptimize(normalNet);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(tablesAndNets)->Unit(benchmark::kMicrosecond);

template <Displacement (*heights)()>
void wholeSurface(benchmark::State& state)
{
    buildSurfaceTables();
    const SurfaceHeights image = surfaceHeights(heights());
    std::vector<StripVertex> buffer(STRIP_VERTICES);
    for (auto _ : state) {
        for (int e = 0; e < GRID_STEPS; ++e) {
            computeStrip(image, e, buffer.data());
            benchmark::DoNotOptimize(buffer.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * SURFACE_VERTICES);  // vertices per second
    state.SetLabel("vertices");
}
BENCHMARK_TEMPLATE(wholeSurface, sampleHeights)->Name("surface/computeStrip")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(wholeSurface, sixteenBitHeights)
    ->Name("surface/computeStrip16")
    ->Unit(benchmark::kMillisecond);

// The whole grid as the web page's module asks for it: surfaceGrid's
// 1,050,625 samples, its 33.6 MB array allocated each time as the module's
// is. Fresh, glibc maps the array anew each time (it is over malloc's mmap
// threshold), and the kernel gives it zeroed pages, one fault each; reused,
// malloc keeps the memory, as the module's WebAssembly memory keeps what it
// has grown to once the first grid is evaluated.
template <Displacement (*heights)(), bool reuse>
void wholeGrid(benchmark::State& state)
{
    buildSurfaceTables();
    const Displacement image = heights();
    if (reuse) {
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    }
    for (auto _ : state) {
        std::vector<StripVertex> grid = surfaceGrid(image);
        benchmark::DoNotOptimize(grid.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(GRID_SAMPLES) * GRID_SAMPLES);  // samples per second
    state.SetLabel("samples");
}
// Fresh first: the reused ones change malloc's thresholds for the rest of
// the process.
BENCHMARK_TEMPLATE(wholeGrid, sampleHeights, false)->Name("surface/surfaceGrid")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(wholeGrid, sixteenBitHeights, false)->Name("surface/surfaceGrid16")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(wholeGrid, sampleHeights, true)->Name("surface/surfaceGrid/reused")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(wholeGrid, sixteenBitHeights, true)
    ->Name("surface/surfaceGrid16/reused")
    ->Unit(benchmark::kMillisecond);

// The sample colour image as a whole file in memory, decoded as loadImage
// decodes it: a TGA (the reader's own), or a PNG (libpng; zlib's default
// level, as most tools write) whose rows are turned over.
template <bool PNG>
void decodeSample(benchmark::State& state)
{
    const std::vector<unsigned char> rgb = makeSampleImages().color;
    const std::vector<unsigned char> file =
        PNG ? encodePng(SAMPLE_SIZE, SAMPLE_SIZE, rgb.data(), 6) : encodeTga(SAMPLE_SIZE, SAMPLE_SIZE, rgb.data());
    // The size line each decoding prints goes to /dev/null, not among the
    // benchmark's own output.
    std::fflush(stdout);
    const int console = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    for (auto _ : state) {
        const ImageRead image = decodeImage(file.data(), file.size(), "sample");
        benchmark::DoNotOptimize(image.pixels.get());
    }
    std::fflush(stdout);
    dup2(console, 1);
    close(console);
    state.SetLabel(std::to_string(file.size()) + " bytes");
}
BENCHMARK_TEMPLATE(decodeSample, false)->Name("decode/tga")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(decodeSample, true)->Name("decode/png")->Unit(benchmark::kMillisecond);

// The heap in use and its high-water mark, counted by this program's own
// operator new and delete (below): what a call takes beyond what was held.
std::atomic<size_t> heapInUse{0}, heapPeak{0};

// A height map larger than the grid, 8192 x 8192 at 16 bits, as the PNG
// reader leaves it (RGBA and the 16-bit red, 384 MiB in all), averaged down
// to the grid's 1025 x 1025 texels by surfaceHeights. The values do not
// change the work: every texel is read once, whatever it holds.
void reduceLargeHeights(benchmark::State& state)
{
    constexpr size_t side = 8192, texels = side * side;
    const std::unique_ptr<unsigned char[]> rgba(new unsigned char[texels * 4]);
    const std::unique_ptr<unsigned short[]> red16(new unsigned short[texels]);
    for (size_t n = 0; n < texels; ++n) {
        red16[n] = static_cast<unsigned short>(n * 2654435761u >> 16);
        std::memcpy(&rgba[4 * n], &red16[n], 2);  // touched, as read
        rgba[4 * n + 2] = rgba[4 * n + 3] = 255;
    }
    const Displacement image{rgba.get(), red16.get(), int(side), int(side)};
    size_t extra = 0;
    for (auto _ : state) {
        const size_t before = heapInUse;
        heapPeak = before;
        SurfaceHeights heights = surfaceHeights(image);
        benchmark::DoNotOptimize(heights.texels.data());
        extra = std::max(extra, heapPeak - before);
    }
    state.counters["image_MB"] = double(texels * 6) / 1e6;
    state.counters["peak_beyond_MB"] = double(extra) / 1e6;
}
BENCHMARK(reduceLargeHeights)->Name("reduce/8192x8192x16")->Unit(benchmark::kMillisecond);

}  // namespace

// Counted allocation: the size goes before the block.
void* operator new(size_t size)
{
    void* block = std::malloc(size + 16);
    if (!block)
        throw std::bad_alloc();
    *static_cast<size_t*>(block) = size;
    const size_t now = heapInUse += size;
    for (size_t peak = heapPeak; now > peak && !heapPeak.compare_exchange_weak(peak, now);)
        ;
    return static_cast<char*>(block) + 16;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept
{
    if (!block)
        return;
    char* start = static_cast<char*>(block) - 16;
    heapInUse -= *reinterpret_cast<size_t*>(start);
    std::free(start);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, size_t) noexcept { operator delete(block); }
void operator delete[](void* block, size_t) noexcept { operator delete(block); }

BENCHMARK_MAIN();
