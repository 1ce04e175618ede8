// Writes the sample colour, displacement and normal images the viewer reads:
//     dispdome-samples [folder]      (default: texture)
// The folder is created when missing; existing images are never overwritten.
#include "command_line.h"
#include "sample_images.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr const char* PROGRAM = "dispdome-samples";

const char* const USAGE =
    "Usage: dispdome-samples [FOLDER]\n"
    "\n"
    "Writes a matching set of 512 x 512 sample images for the viewer into FOLDER\n"
    "(default: texture, where the viewer looks), creating it when missing:\n"
    "color.tga, displace.tga and normal.tga, bumps and a ring coloured by height\n"
    "with a grid every 64 texels. An image already there is never overwritten.\n"
    "\n"
    "Options:\n"
    "  -h, --help        show this text\n"
    "  --version         show the version\n"
    "A FOLDER whose name starts with '-' follows --.\n"
    "\n"
    "Exit status: 0 when written, 1 when a file failed, 2 for bad arguments.\n";

}  // namespace

int main(int argc, char** argv)
{
    std::string folder;
    const int status = readCommandLine(argc, argv, PROGRAM, USAGE, {}, [&folder](const char* argument) {
        if (!folder.empty())
            return secondName(PROGRAM, "folder", argument, true);
        folder = argument;
        return -1;
    });
    if (status >= 0)
        return status;
    if (folder.empty())
        folder = "texture";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        report(folder, "%s", error.message().c_str());
        return STATUS_FAILED;
    }
    const std::string failure = writeSampleImages(folder);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return STATUS_FAILED;
    }
    std::printf("sample images written to %s/\n", folder.c_str());
    return STATUS_WRITTEN;
}
