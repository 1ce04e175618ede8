#include "exr_decoder.h"

// OpenEXR's core library rather than its C++ one or tinyexr: it is the
// reference implementation, written in C with zlib its only dependency, and
// decodes RLE, ZIPS, ZIP, PIZ, PXR24, B44 and B44A (DWAA and DWAB from its
// version 3.2; 3.1 refuses them, saying so). What matters in using it: it
// prints its errors unless given a handler, it reads through our functions
// from the bytes in memory, and it reserves what the header and the chunks
// claim, so those are checked first.
#include <openexr.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr unsigned char EXR_MAGIC[4] = {0x76, 0x2f, 0x31, 0x01};

// What the core reads from, and the first message it has for us.
struct ExrSource {
    const unsigned char* data;
    size_t size;
    char reason[REASON_SIZE] = "";
};

uint32_t little32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t little64(const unsigned char* p) { return little32(p) | uint64_t(little32(p + 4)) << 32; }

// The core tells of one failure in several messages, the cause first.
void keepFirstMessage(exr_const_context_t exr, exr_result_t, const char* message)
{
    void* user = nullptr;
    if (exr_get_user_data(exr, &user) == EXR_ERR_SUCCESS && user) {
        auto* source = static_cast<ExrSource*>(user);
        if (source->reason[0] == '\0')
            std::snprintf(source->reason, sizeof source->reason, "%s", message);
    }
}

// Reads past the end come back short; the core reports them.
int64_t readBytes(exr_const_context_t, void* user, void* buffer, uint64_t count, uint64_t offset,
                  exr_stream_error_func_ptr_t)
{
    const auto* source = static_cast<const ExrSource*>(user);
    if (offset >= source->size)
        return 0;
    count = std::min<uint64_t>(count, source->size - offset);
    std::memcpy(buffer, source->data + offset, count);
    return int64_t(count);
}

int64_t fileSize(exr_const_context_t, void* user) { return int64_t(static_cast<const ExrSource*>(user)->size); }

// What we read of the headers ourselves, before the core does: the first
// part's data window, to refuse a huge one for what it is (the core only
// says it is invalid), and where the first part's chunk table starts,
// which the core does not tell.
struct HeaderWalk {
    bool hasWindow = false;
    int32_t window[4] = {};  // min x, min y, max x, max y
    size_t tableStart = 0;   // the file's size when the headers run past it
};

// Each header is a run of attributes (name, type, size, value) ended by an
// empty name; a multi-part file (flag 0x1000) ends its headers with an
// empty one, and its first part's chunk table follows.
HeaderWalk walkHeaders(const unsigned char* data, size_t size)
{
    HeaderWalk walk;
    const bool multipart = size > 5 && (data[5] & 0x10);
    bool fresh = true, first = true;
    for (size_t at = 8; at < size;) {
        if (data[at] == 0) {
            ++at;
            if (!multipart || fresh) {
                walk.tableStart = at;
                return walk;
            }
            fresh = true;
            first = false;
            continue;
        }
        const size_t name = at;
        for (int text = 0; text < 2 && at < size; ++text) {
            const void* end = std::memchr(data + at, 0, size - at);
            at = end ? size_t(static_cast<const unsigned char*>(end) - data) + 1 : size;
        }
        if (size - at < 4 || little32(data + at) > size - at - 4)
            break;
        const size_t length = little32(data + at);
        const bool window = std::strcmp(reinterpret_cast<const char*>(data + name), "dataWindow") == 0;
        if (first && !walk.hasWindow && window && length == 16) {
            walk.hasWindow = true;
            for (int k = 0; k < 4; ++k)
                walk.window[k] = int32_t(little32(data + at + 4 + 4 * k));
        }
        at += 4 + length;
        fresh = false;
    }
    walk.tableStart = size;
    return walk;
}

// The size line for a window whose sides fit an int, and the pixel ceiling,
// worked out in 64 bits: a window may be 2^32 wide.
bool windowTooLarge(const int32_t window[4], ImageRead& image)
{
    const int64_t width = int64_t(window[2]) - window[0] + 1, height = int64_t(window[3]) - window[1] + 1;
    if (width <= 0 || height <= 0)
        return false;  // the core refuses an empty window
    if (width <= INT_MAX && height <= INT_MAX) {
        image.width = int(width);
        image.height = int(height);
        image.sized = true;
    }
    const int64_t most = int64_t(MOST_PIXELS);
    if (width <= most && height <= most && width * height <= most)
        return false;
    refuse(image, "its data window, %lld x %lld, is more pixels than an image may have (%d x %d in all)",
           static_cast<long long>(width), static_cast<long long>(height), MOST_PIXELS_SIDE, MOST_PIXELS_SIDE);
    return true;
}

// The most bytes a compression makes of one byte, so that a chunk claims no
// more than its packed bytes can hold:
// - NONE keeps them as they are.
// - RLE makes at most 128 bytes of a run's 2 (a count and a byte).
// - ZIPS, ZIP: Deflate makes at most 1032 of a byte (png_decoder.cpp).
// - PXR24: Deflate, of floats cut to 3 bytes and grown back to 4.
// - PIZ: Huffman codes of 16-bit values, each code at least a bit; the
//   shortest, a repeat code and its 8-bit count, makes 255 values (510
//   bytes) of 9 bits, 454 a byte. Its wavelet and table change no sizes.
// - B44, B44A: a 4 x 4 block of halves (32 bytes) from 14, or 3 when flat.
// - DWAA, DWAB: its run-length channels are RLE then Deflate, 64 x 1032;
//   its lossy ones cost more (a Deflated DC and a Huffman AC value per
//   8 x 8 block).
// A valid chunk always passes, as its pixels are really in it.
uint64_t mostExpansion(uint8_t compression)
{
    static const uint64_t most[] = {1, 64, 1032, 1032, 454, 1376, 11, 11, 66048, 66048};
    return compression < sizeof most / sizeof *most ? most[compression] : 1;
}

const char* compressionName(uint8_t compression)
{
    static const char* const names[] = {"NONE", "RLE", "ZIPS", "ZIP", "PIZ", "PXR24", "B44", "B44A", "DWAA", "DWAB"};
    return compression < sizeof names / sizeof *names ? names[compression] : "unknown";
}

// The layout of the picture's chunks: a scanline file's in rows of lines,
// a tiled one's level 0 in tiles across x down.
struct Layout {
    exr_attr_box2i_t window;
    int width, height;
    bool tiled;
    int lines = 1, tileWidth = 1, tileHeight = 1, across = 1, down = 1;
};

bool layoutOf(exr_context_t exr, Layout& layout)
{
    exr_storage_t storage;
    if (exr_get_storage(exr, 0, &storage) || exr_get_data_window(exr, 0, &layout.window))
        return false;
    layout.width = layout.window.max.x - layout.window.min.x + 1;
    layout.height = layout.window.max.y - layout.window.min.y + 1;
    layout.tiled = storage == EXR_STORAGE_TILED;
    if (!layout.tiled) {
        if (exr_get_scanlines_per_chunk(exr, 0, &layout.lines) || layout.lines <= 0)
            return false;
        layout.down = int((int64_t(layout.height) + layout.lines - 1) / layout.lines);
        return true;
    }
    if (exr_get_tile_sizes(exr, 0, 0, 0, &layout.tileWidth, &layout.tileHeight) || layout.tileWidth <= 0 ||
        layout.tileHeight <= 0)
        return false;
    layout.across = int((int64_t(layout.width) + layout.tileWidth - 1) / layout.tileWidth);
    layout.down = int((int64_t(layout.height) + layout.tileHeight - 1) / layout.tileHeight);
    return true;
}

// Chunk k of the picture, and the place it fills: from (x, y), width x
// height, cut by the data window's edges.
struct Place {
    int x, y, width, height;
};

exr_result_t chunkAt(exr_context_t exr, const Layout& layout, int k, exr_chunk_info_t& info, Place& place)
{
    const int across = k % layout.across, down = k / layout.across;
    place.x = across * layout.tileWidth;
    place.y = down * (layout.tiled ? layout.tileHeight : layout.lines);
    place.width = std::min(layout.tiled ? layout.tileWidth : layout.width, layout.width - place.x);
    place.height = std::min(layout.tiled ? layout.tileHeight : layout.lines, layout.height - place.y);
    if (!layout.tiled)
        return exr_read_scanline_chunk_info(exr, 0, layout.window.min.y + place.y, &info);
    return exr_read_tile_chunk_info(exr, 0, across, down, 0, 0, &info);
}

// Every chunk the table names starts inside the file: the core would
// otherwise read the table (8 bytes an entry) and seek past the end.
bool chunksStartInFile(exr_context_t exr, const ExrSource& source, size_t tableStart, ImageRead& image)
{
    int32_t count = 0;
    if (exr_get_chunk_count(exr, 0, &count) || count < 0)
        return true;  // the core says what is wrong when asked for a chunk
    if (tableStart > source.size || size_t(count) > (source.size - tableStart) / 8) {
        refuse(image, "its chunk table, %d offset%s, runs past the end of the file (%zu bytes)", count,
               count == 1 ? "" : "s", source.size);
        return false;
    }
    for (int32_t n = 0; n < count; ++n) {
        const uint64_t at = little64(source.data + tableStart + 8 * size_t(n));
        if (at >= source.size) {
            refuse(image, "chunk %d starts past the end of the file (at byte %llu of %zu)", n,
                   static_cast<unsigned long long>(at), source.size);
            return false;
        }
    }
    return true;
}

// Whether each chunk of the picture fills its place, so that every pixel
// is decoded, and claims no more bytes than its packed ones can hold, and
// all together no more than the file holds: what the decoding reserves is
// then earned by the file's size.
bool chunksEarnTheirBytes(exr_context_t exr, const Layout& layout, size_t size, ImageRead& image)
{
    uint64_t packed = 0;
    for (int k = 0; k < layout.across * layout.down; ++k) {
        exr_chunk_info_t info;
        Place place;
        if (chunkAt(exr, layout, k, info, place))
            return false;
        if (info.width != place.width || info.height != place.height) {
            refuse(image, "bad OpenEXR (chunk %d is %d x %d where %d x %d belong)", k, info.width, info.height,
                   place.width, place.height);
            return false;
        }
        packed += info.packed_size;  // first, so that it is small enough to multiply
        if (packed > size) {
            refuse(image, "its chunks claim more bytes than the file's %zu (chunk %d ends past them)", size, k);
            return false;
        }
        if (info.unpacked_size > info.packed_size * mostExpansion(info.compression)) {
            refuse(image, "chunk %d claims %llu bytes from %llu (%s makes at most %llu of a byte)", k,
                   static_cast<unsigned long long>(info.unpacked_size),
                   static_cast<unsigned long long>(info.packed_size), compressionName(info.compression),
                   static_cast<unsigned long long>(mostExpansion(info.compression)));
            return false;
        }
    }
    return true;
}

// The channels shown, as planes of floats top row first: the heights (R, or
// Y in a luminance file), G, B and A, null where the file has none; and
// one chunk's worth for the channels not shown. The core must be given a
// place for every channel: with four half channels it takes a shortcut
// that writes to each, even one it was told to skip.
struct Planes {
    const exr_attr_chlist_entry_t* found[4] = {};
    std::unique_ptr<float[]> plane[4];
    std::unique_ptr<float[]> spare;
};

// Picks the channels; false with a reason when there is nothing to show.
bool pickChannels(exr_context_t exr, Planes& planes, ImageRead& image)
{
    const exr_attr_chlist_t* channels = nullptr;
    if (exr_get_channels(exr, 0, &channels) || !channels)
        return false;
    const exr_attr_chlist_entry_t* luminance = nullptr;
    for (int c = 0; c < channels->num_channels; ++c) {
        const exr_attr_chlist_entry_t& channel = channels->entries[c];
        const char* name = channel.name.str;
        const char* slot = std::strchr("RGBA", name[0]);
        if (name[0] == 'Y' && name[1] == '\0')
            luminance = &channel;
        else if (name[0] != '\0' && name[1] == '\0' && slot)
            planes.found[slot - "RGBA"] = &channel;
    }
    if (!planes.found[0])
        planes.found[0] = luminance;
    if (!planes.found[0]) {
        refuse(image, "no R or Y channel to take the heights from");
        return false;
    }
    for (const exr_attr_chlist_entry_t* channel : planes.found)
        if (channel && (channel->x_sampling != 1 || channel->y_sampling != 1)) {
            refuse(image, "its %s channel is subsampled, which is not supported", channel->name.str);
            return false;
        }
    return true;
}

bool allocatePlanes(Planes& planes, const Layout& layout)
{
    for (int c = 0; c < 4; ++c)
        if (planes.found[c]) {
            planes.plane[c].reset(new (std::nothrow) float[size_t(layout.width) * size_t(layout.height)]);
            if (!planes.plane[c])
                return false;
        }
    const int width = layout.tiled ? std::min(layout.tileWidth, layout.width) : layout.width;
    const int height = std::min(layout.tiled ? layout.tileHeight : layout.lines, layout.height);
    planes.spare.reset(new (std::nothrow) float[size_t(width) * size_t(height)]);
    return planes.spare != nullptr;
}

// Points each channel of a chunk at its place in its plane, as floats
// (halves widened, unsigned integers converted); those not shown at the
// spare one, as they are stored. Not converting them keeps the core from
// its shortcuts for three or four halves made floats, which 3.1 takes
// without looking at a channel's subsampling or whether it is wanted, and
// which then read past its buffer or write where no channel is aimed.
void aimChannels(exr_decode_pipeline_t& decoder, const Planes& planes, const Layout& layout, const Place& place)
{
    for (int16_t c = 0; c < decoder.channel_count; ++c) {
        exr_coding_channel_info_t& channel = decoder.channels[c];
        channel.decode_to_ptr = reinterpret_cast<uint8_t*>(planes.spare.get());
        channel.user_data_type = channel.data_type;
        channel.user_bytes_per_element = channel.bytes_per_element;
        channel.user_pixel_stride = channel.bytes_per_element;
        channel.user_line_stride = channel.bytes_per_element * place.width;
        for (int k = 0; k < 4; ++k)
            if (planes.found[k] && std::strcmp(planes.found[k]->name.str, channel.channel_name) == 0) {
                float* first = planes.plane[k].get() + size_t(place.y) * size_t(layout.width) + size_t(place.x);
                channel.decode_to_ptr = reinterpret_cast<uint8_t*>(first);
                channel.user_data_type = EXR_PIXEL_FLOAT;
                channel.user_bytes_per_element = 4;
                channel.user_pixel_stride = 4;
                channel.user_line_stride = 4 * layout.width;
            }
    }
}

exr_result_t decodeChunks(exr_context_t exr, const Layout& layout, const Planes& planes)
{
    exr_decode_pipeline_t decoder{};  // all zero, as EXR_DECODE_PIPELINE_INITIALIZER makes it
    exr_result_t result = EXR_ERR_SUCCESS;
    for (int k = 0; k < layout.across * layout.down && result == EXR_ERR_SUCCESS; ++k) {
        exr_chunk_info_t info;
        Place place;
        result = chunkAt(exr, layout, k, info, place);
        if (result == EXR_ERR_SUCCESS)
            result = k == 0 ? exr_decoding_initialize(exr, 0, &info, &decoder)
                            : exr_decoding_update(exr, 0, &info, &decoder);
        if (result != EXR_ERR_SUCCESS)
            break;
        aimChannels(decoder, planes, layout, place);
        result = exr_decoding_choose_default_routines(exr, 0, &decoder);
        if (result == EXR_ERR_SUCCESS)
            result = exr_decoding_run(exr, 0, &decoder);
    }
    exr_decoding_destroy(exr, &decoder);
    return result;
}

// Linear light to an sRGB level, clamped to 0..1 first (NaN as 0): the
// level the encoded value rounds to, v <= 0.0031308 ? 12.92 v :
// 1.055 v^(1/2.4) - 0.055. Found from where each level begins (the curve's
// inverse at k - 1/2 of 255), not by a power a channel, which took most of
// a large file's reading: the level at the start of v's 1/4096 of 0..1 is
// looked up, and as the curve climbs less than a level in such a step,
// one comparison finishes it.
unsigned char srgb(float linear)
{
    struct Levels {
        std::array<double, 256> starts;  // where level k begins; 256: never
        std::array<unsigned char, 4097> atStep;
    };
    static const Levels levels = [] {
        Levels made{};
        for (int k = 1; k <= 255; ++k) {
            const double encoded = (k - 0.5) / 255;
            made.starts[k - 1] = encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
        }
        made.starts[255] = HUGE_VAL;
        for (int step = 0; step <= 4096; ++step)
            made.atStep[step] = static_cast<unsigned char>(
                std::upper_bound(made.starts.begin(), made.starts.end(), step / 4096.0) - made.starts.begin());
        return made;
    }();
    if (!(linear > 0))
        return 0;
    if (linear >= 1)
        return 255;
    unsigned level = levels.atStep[int(linear * 4096.0f)];
    level += double(linear) >= levels.starts[level];
    return static_cast<unsigned char>(level);
}

// Alpha is not light: clamped and scaled alone.
unsigned char level(float v)
{
    return static_cast<unsigned char>((v > 0 ? std::min(v, 1.0f) : 0.0f) * 255 + 0.5f);
}

// A height that is not a finite number, named by its place in the file.
bool heightsFinite(const Planes& planes, const Layout& layout, ImageRead& image)
{
    const float* heights = planes.plane[0].get();
    for (size_t n = 0; n < size_t(layout.width) * size_t(layout.height); ++n)
        if (!std::isfinite(heights[n])) {
            refuse(image, "%s height at column %lld, row %lld (heights must be finite numbers)",
                   std::isnan(heights[n]) ? "a NaN" : "an infinite",
                   static_cast<long long>(layout.window.min.x + int64_t(n % size_t(layout.width))),
                   static_cast<long long>(layout.window.min.y + int64_t(n / size_t(layout.width))));
            return false;
        }
    return true;
}

// The pixels as shown, bottom row first; a grey file (R or Y alone) is
// grey, a missing G or B beside them is 0, a missing A opaque. The heights
// turned to the same rows.
bool showPlanes(Planes& planes, const Layout& layout, ImageRead& image)
{
    const size_t width = size_t(layout.width), height = size_t(layout.height);
    std::unique_ptr<unsigned char[]> pixels(new (std::nothrow) unsigned char[width * height * 4]);
    if (!pixels) {
        refuse(image, "not enough memory for the pixels");
        return false;
    }
    const bool grey = !planes.found[1] && !planes.found[2];
    const float* colour[3] = {planes.plane[0].get(), planes.plane[grey ? 0 : 1].get(),
                              planes.plane[grey ? 0 : 2].get()};
    for (size_t y = 0; y < height; ++y) {
        unsigned char* out = pixels.get() + (height - 1 - y) * width * 4;
        for (size_t x = 0, n = y * width; x < width; ++x, ++n, out += 4) {
            for (int c = 0; c < 3; ++c)
                out[c] = colour[c] ? srgb(colour[c][n]) : 0;
            out[3] = planes.plane[3] ? level(planes.plane[3][n]) : 255;
        }
    }
    float* heights = planes.plane[0].get();
    for (size_t y = 0; y < height / 2; ++y)
        std::swap_ranges(heights + y * width, heights + (y + 1) * width, heights + (height - 1 - y) * width);
    image.pixels = std::move(pixels);
    image.heights = std::move(planes.plane[0]);
    return true;
}

// The reading once the core has the header; false with a reason in the
// image's, or in the source's for the core's own errors.
bool readExr(exr_context_t exr, const ExrSource& source, const HeaderWalk& walk, ImageRead& image)
{
    Layout layout{};
    exr_storage_t storage;
    if (exr_get_storage(exr, 0, &storage))
        return false;
    if (storage != EXR_STORAGE_SCANLINE && storage != EXR_STORAGE_TILED) {
        refuse(image, "deep data is not supported, only flat images");
        return false;
    }
    if (!layoutOf(exr, layout))
        return false;
    const int32_t window[4] = {layout.window.min.x, layout.window.min.y, layout.window.max.x, layout.window.max.y};
    Planes planes;
    if (windowTooLarge(window, image) || !pickChannels(exr, planes, image) ||
        !chunksStartInFile(exr, source, walk.tableStart, image) ||
        !chunksEarnTheirBytes(exr, layout, source.size, image))
        return false;
    if (!allocatePlanes(planes, layout)) {
        refuse(image, "not enough memory for the pixels");
        return false;
    }
    return decodeChunks(exr, layout, planes) == EXR_ERR_SUCCESS && heightsFinite(planes, layout, image) &&
           showPlanes(planes, layout, image);
}

}  // namespace

bool isExr(const unsigned char* data, size_t size)
{
    return size >= sizeof EXR_MAGIC && std::memcmp(data, EXR_MAGIC, sizeof EXR_MAGIC) == 0;
}

ImageRead decodeExr(const unsigned char* data, size_t size, bool)
{
    ImageRead image;
    if (!isExr(data, size)) {
        refuse(image, "bad OpenEXR (no OpenEXR magic number: not an OpenEXR file)");
        return image;
    }
    ExrSource source{data, size};
    const HeaderWalk walk = walkHeaders(data, size);
    if (walk.hasWindow && windowTooLarge(walk.window, image))
        return image;
    // The core's own limits, as a second fence: no side past what the
    // pixel ceiling allows an image one pixel high, no tile side past the
    // ceiling's. A damaged chunk table is refused, not searched for chunks.
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    init.error_handler_fn = keepFirstMessage;
    init.user_data = &source;
    init.read_fn = readBytes;
    init.size_fn = fileSize;
    init.max_image_width = init.max_image_height = int(MOST_PIXELS);
    init.max_tile_width = init.max_tile_height = MOST_PIXELS_SIDE;
    init.flags = EXR_CONTEXT_FLAG_DISABLE_CHUNK_RECONSTRUCTION;
    exr_context_t exr = nullptr;
    const exr_result_t started = exr_start_read(&exr, "in memory", &init);
    const bool decoded = started == EXR_ERR_SUCCESS && readExr(exr, source, walk, image);
    if (exr)
        exr_finish(&exr);
    if (!decoded && image.reason.empty())
        refuse(image, "bad OpenEXR (%s)", source.reason[0] ? source.reason : "the core library cannot read it");
    return image;
}
