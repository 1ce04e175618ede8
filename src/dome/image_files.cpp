#include "image_files.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

const char* chosenImageFile(const char* file)
{
    // The names made are kept (a set's strings stay put): they are printed
    // and reported throughout the run.
    static std::set<std::string> names;
    const std::string stem(file, std::strlen(file) - std::strlen(IMAGE_EXTENSIONS[0]));
    for (const char* extension : IMAGE_EXTENSIONS) {
        std::error_code error;
        if (std::filesystem::status(stem + extension, error).type() == std::filesystem::file_type::not_found)
            continue;
        return extension == IMAGE_EXTENSIONS[0] ? file : names.insert(stem + extension).first->c_str();
    }
    return file;
}

Displacement displacementOf(const ImageRead& image, float scale)
{
    if (!image.pixels)
        return {nullptr, nullptr, 0, 0, scale};
    return {image.pixels.get(), image.red16.get(), image.width, image.height, scale, image.heights.get()};
}

std::string noReliefLine(const Displacement& heights, const char* use)
{
    if (!heights.pixels || displacementAvailable(heights))
        return "";
    return missingRelief(heights) + "; there is no relief to " + use;
}

std::string textureTooLarge(const std::string& name, int width, int height, int largest)
{
    const std::string limit = std::to_string(largest);
    return name + ": " + std::to_string(width) + " x " + std::to_string(height) +
           " is larger than GL takes as a texture here (" + limit + " x " + limit + ")";
}
