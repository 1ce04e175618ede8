// The time and peak memory of reading one image file as the programs read
// it (loadImage, keeping its 16-bit red channel or float heights), alone in
// its process: "MILLISECONDS PEAK_MB" on standard output, the reader's own
// lines dropped. Exit status 1 when the file is refused.
#include "image.h"

#include <unistd.h>  // Required for: dup(), to keep standard output for the figures

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: image_timing FILE\n");
        return 2;
    }
    std::FILE* figures = fdopen(dup(1), "w");
    if (!figures || !std::freopen("/dev/null", "w", stdout))
        return 1;
    const auto start = std::chrono::steady_clock::now();
    const ImageRead image = loadImage(argv[1], true);
    const std::chrono::duration<double, std::milli> taken = std::chrono::steady_clock::now() - start;
    // The peak resident size, as GNU time's %M: the file's bytes and what
    // the decoder held at once, beside the process's own few megabytes.
    std::ifstream status("/proc/self/status");
    double peak = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            peak = std::stod(line.substr(6)) / 1024;
    std::fprintf(figures, "%.1f %.1f\n", taken.count(), peak);
    return image.pixels ? 0 : 1;
}
