// Writes the sample colour, displacement and normal images the viewer reads:
//     make_samples [folder]      (default: texture)
// The folder is created when missing; existing images are never overwritten.
#include "sample_images.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : "texture";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "%s: %s\n", folder.c_str(), error.message().c_str());
        return 1;
    }
    const std::string failure = writeSampleImages(folder);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }
    std::printf("sample images written to %s/\n", folder.c_str());
    return 0;
}
