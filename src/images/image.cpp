#include "image.h"

#include "command_line.h"  // Required for: hasSuffix()
#include "exr_decoder.h"
#include "jpeg_decoder.h"
#include "png_decoder.h"
#include "tga.h"  // Required for: decodeTga(), the kind read when no other fits
#include "tiff_decoder.h"
#include "webp_decoder.h"

#include <cstring>

namespace {

ImageRead emptyFile()
{
    ImageRead empty;
    refuse(empty, "empty file");
    return empty;
}

ImageRead jpeg(const unsigned char* data, size_t size, bool) { return decodeJpeg(data, size); }

bool startsWith(const unsigned char* data, size_t size, const char* bytes, size_t count, size_t at = 0)
{
    return size >= at + count && std::memcmp(data + at, bytes, count) == 0;
}

bool isGif(const unsigned char* data, size_t size)
{
    return startsWith(data, size, "GIF87a", 6) || startsWith(data, size, "GIF89a", 6);
}
bool isBmp(const unsigned char* data, size_t size) { return startsWith(data, size, "BM", 2) && size >= 26; }
bool isPsd(const unsigned char* data, size_t size) { return startsWith(data, size, "8BPS", 4); }
bool isQoi(const unsigned char* data, size_t size) { return startsWith(data, size, "qoif", 4); }
bool isJpegXl(const unsigned char* data, size_t size)
{
    return startsWith(data, size, "\xff\x0a", 2) || startsWith(data, size, "\0\0\0\x0cJXL \r\n\x87\n", 12);
}

// An ISO base media file (HEIF, AVIF) whose "ftyp" box names one of brands
// as its major brand or among its compatible ones.
bool hasBrand(const unsigned char* data, size_t size, const char* const* brands)
{
    if (!startsWith(data, size, "ftyp", 4, 4))
        return false;
    const size_t box = size_t(data[0]) << 24 | size_t(data[1]) << 16 | size_t(data[2]) << 8 | data[3];
    const size_t end = box < size ? box : size;
    for (size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4)  // the major brand, the version, the rest
        for (const char* const* brand = brands; *brand; ++brand)
            if (std::memcmp(data + at, *brand, 4) == 0)
                return true;
    return false;
}
bool isAvif(const unsigned char* data, size_t size)
{
    static const char* const brands[] = {"avif", "avis", nullptr};
    return hasBrand(data, size, brands);
}
bool isHeic(const unsigned char* data, size_t size)
{
    static const char* const brands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", nullptr};
    return !isAvif(data, size) && hasBrand(data, size, brands);
}

// A kind of image known by its first bytes: read by decode, or, with none,
// known but not read. ends are the file name endings that ask for it when
// the first bytes say nothing: only kinds read have them, as a refusal of a
// kind not read would say what the file is not.
struct Kind {
    const char* name;
    bool (*is)(const unsigned char* data, size_t size);
    ImageDecoder decode;
    const char* ends[2];
};

// The one list of kinds; TGA, which has no signature, is read when none
// fits.
const Kind KINDS[] = {
    {"PNG", isPng, decodePng, {".png"}},
    {"JPEG", isJpeg, jpeg, {".jpg", ".jpeg"}},
    {"TIFF", isTiff, decodeTiff, {".tif", ".tiff"}},
    {"OpenEXR", isExr, decodeExr, {".exr"}},
    {"WebP", isWebp, decodeWebp, {".webp"}},
    {"GIF", isGif, nullptr, {}},
    {"BMP", isBmp, nullptr, {}},
    {"AVIF", isAvif, nullptr, {}},
    {"HEIC", isHeic, nullptr, {}},
    {"PSD", isPsd, nullptr, {}},
    {"QOI", isQoi, nullptr, {}},
    {"JPEG XL", isJpegXl, nullptr, {}},
};

ImageRead decodeAs(const Kind& kind, const unsigned char* data, size_t size, bool wantRed16)
{
    if (size == 0)
        return emptyFile();
    if (kind.decode)
        return kind.decode(data, size, wantRed16);
    ImageRead image;
    refuse(image, "a%s %s image; dispdome reads %s", std::strchr("AEIOU", kind.name[0]) ? "n" : "", kind.name,
           KINDS_READ);
    return image;
}

}  // namespace

ImageRead decodeNamed(const unsigned char* data, size_t size, const char* name, bool wantRed16)
{
    for (const Kind& kind : KINDS)
        if (kind.is(data, size))
            return decodeAs(kind, data, size, wantRed16);
    for (const Kind& kind : KINDS)
        for (const char* end : kind.ends)
            if (name && end && hasSuffix(name, end))
                return decodeAs(kind, data, size, wantRed16);
    return size > 0 ? decodeTga(data, size) : emptyFile();
}

ImageRead readImage(const unsigned char* data, size_t size, bool wantRed16)
{
    return decodeNamed(data, size, nullptr, wantRed16);
}

ImageRead loadImage(const char* fileName, bool wantRed16)
{
    return loadWith([](const unsigned char* data, size_t size, const char* name, bool red16) {
        return decodeNamed(data, size, name, red16);
    }, fileName, wantRed16);
}

ImageRead decodeImage(const unsigned char* data, size_t size, const char* name, bool wantRed16)
{
    ImageRead image = decodeNamed(data, size, name, wantRed16);
    reportImage(name, image);
    return image;
}
