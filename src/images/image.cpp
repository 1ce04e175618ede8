#include "image.h"

#include "command_line.h"  // Required for: hasSuffix()
#include "jpeg_decoder.h"
#include "png_decoder.h"
#include "tga.h"  // Required for: decodeTga(), the kind read when no other fits


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
    if (hasSuffix(fileName, ".png"))
        return namedPng;
    if (hasSuffix(fileName, ".jpg") || hasSuffix(fileName, ".jpeg"))
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
