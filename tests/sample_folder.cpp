#include "sample_folder.h"

#include "sample_images.h"

#include <unistd.h>  // Required for: chdir()

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

std::vector<std::filesystem::path> made;

void removeFolders()
{
    std::error_code ignored;
    for (const std::filesystem::path& folder : made)
        std::filesystem::remove_all(folder, ignored);
}

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "test folder: %s\n", what.c_str());
    std::abort();
}

}  // namespace

std::string enterTemporaryFolder(bool samples)
{
    std::string name = (std::filesystem::temp_directory_path() / "viewer_test_XXXXXX").string();
    if (!mkdtemp(name.data()))
        fail(name + ": cannot be made");
    if (made.empty())
        std::atexit(removeFolders);
    made.push_back(name);
    if (chdir(name.c_str()) != 0)
        fail(name + ": cannot be entered");
    if (samples) {
        std::filesystem::create_directory("texture");
        const std::string failure = writeSampleImages("texture");
        if (!failure.empty())
            fail(failure);
    }
    return name;
}
