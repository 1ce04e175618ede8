// The images' kept pixels and the files they come from, apart from the GL
// textures made of them: the surface reads them without GL (dispdome-export
// links no GL at all).
#include "texture_pixels.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

PixelBuffer* colorPixels = nullptr;
PixelBuffer* displacePixels = nullptr;
PixelBuffer* normalPixels = nullptr;

unsigned short* displaceRed16 = nullptr;
const char* colorFile = nullptr;
const char* displaceFile = nullptr;

int displaceWidth = 0;
int displaceHeight = 0;

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

void keepDisplacement(ImageRead& image)
{
    const bool read = image.pixels != nullptr;
    displacePixels = image.pixels.release();
    displaceRed16 = read ? image.red16.release() : nullptr;
    displaceWidth = read ? image.width : 0;
    displaceHeight = read ? image.height : 0;
}

Displacement viewerDisplacement()
{
    return {displacePixels, displaceRed16, displaceWidth, displaceHeight, 1.0f};
}

Displacement displacementOf(const ImageRead& image, float scale)
{
    if (!image.pixels)
        return {nullptr, nullptr, 0, 0, scale};
    return {image.pixels.get(), image.red16.get(), image.width, image.height, scale};
}
