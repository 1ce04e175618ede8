#include "image.h"

#include "jpeg_decoder.h"
#include "png_decoder.h"
#include "tga.h"  // Required for: decodeTga(), the kind read when no other fits

#include <cctype>
#include <cstring>

namespace {

ImageRead emptyFile()
{
    ImageRead empty;
    refuse(empty, "empty file");
    return empty;
}

// A file whose name says PNG: read as one, whatever its content.
ImageRead namedPng(const unsigned char* data, size_t size, bool wantRed16)
{
    return size == 0 ? emptyFile() : decodePng(data, size, wantRed16);
}

// A file whose name says JPEG: libjpeg itself refuses what is not one.
ImageRead namedJpeg(const unsigned char* data, size_t size, bool)
{
    return size == 0 ? emptyFile() : decodeJpeg(data, size);
}

bool endsWith(const char* name, const char* extension)
{
    const size_t length = std::strlen(name), tail = std::strlen(extension);
    if (length < tail)
        return false;
    for (size_t k = 0; k < tail; ++k)
        if (std::tolower(static_cast<unsigned char>(name[length - tail + k])) != extension[k])
            return false;
    return true;
}

}  // namespace

ImageRead readImage(const unsigned char* data, size_t size, bool wantRed16)
{
    if (isPng(data, size))
        return decodePng(data, size, wantRed16);
    if (isJpeg(data, size))
        return decodeJpeg(data, size);
    if (size > 0)
        return decodeTga(data, size);
    return emptyFile();
}

ImageDecoder decoderFor(const char* fileName)
{
    if (endsWith(fileName, ".png"))
        return namedPng;
    if (endsWith(fileName, ".jpg") || endsWith(fileName, ".jpeg"))
        return namedJpeg;
    return readImage;
}

ImageRead loadImage(const char* fileName, bool wantRed16) { return loadWith(decoderFor(fileName), fileName, wantRed16); }

ImageRead decodeImage(const unsigned char* data, size_t size, const char* name, bool wantRed16)
{
    ImageRead image = decoderFor(name)(data, size, wantRed16);
    reportImage(name, image);
    return image;
}
