#include "image_options.h"

#include "view.h"

#include <cstring>
#include <iterator>

namespace {

// The kinds of normals as --normals names them, in SurfaceNormals' order.
const char* const NORMALS_KINDS[] = {"viewer", "displaced"};

}  // namespace

std::vector<Option> imageOptions(const char* program, ImageOptions& chosen)
{
    auto file = [program](const char*& name) {
        return [program, &name](const std::string& option, const char* value) {
            if (!value || !*value)
                return needsValue(program, option, "a file name (see --help)");
            name = value;
            return -1;
        };
    };
    static const std::string kinds = std::string(NORMALS_KINDS[0]) + " or " + NORMALS_KINDS[1];
    return {
        {"color", file(chosen.color)},
        {"displacement", file(chosen.displacement)},
        valuedOption(program, "normals", kinds.c_str(), [&chosen](const char* value) {
            for (size_t k = 0; k < std::size(NORMALS_KINDS); ++k)
                if (std::strcmp(value, NORMALS_KINDS[k]) == 0) {
                    chosen.normals = SurfaceNormals(k);
                    chosen.normalsNamed = true;
                    return true;
                }
            return false;
        }),
    };
}

std::string imageOptionsUsage(SurfaceNormals byDefault)
{
    return "  --color FILE      colour image: TGA, PNG, JPEG, TIFF, OpenEXR or WebP\n"
           "                    (default texture/color.tga, else .png, .jpg, .tif,\n"
           "                    .exr or .webp, the first there)\n"
           "  --displacement FILE  height image, its red channel (default\n"
           "                    texture/displace.tga, else as above), 16 bits from\n"
           "                    a PNG or TIFF, floats from an OpenEXR or TIFF\n"
           "  --normals KIND    lighting normals (default " + std::string(NORMALS_KINDS[int(byDefault)]) +
           "): viewer, the\n"
           "                    viewer's smooth normal patch; displaced, the displaced\n"
           "                    surface's own, so the relief shows in the shading\n";
}

Option lightOption(const char* program, Vector3& light)
{
    return valuedOption(program, "light", "X,Y,Z in eye coordinates, such as -10,0,0", [&light](const char* value) {
        return splitPair(value, ',', [&](const char* x, const char* yz) {
            return toFloat(x, light.x) &&
                   splitPair(yz, ',', [&](const char* y, const char* z) { return toFloat(y, light.y) && toFloat(z, light.z); });
        });
    });
}

std::string lightOptionUsage(const std::string& more)
{
    return "  --light X,Y,Z     light position in eye coordinates (default " + shown(START_LIGHT.x) + "," +
           shown(START_LIGHT.y) + "," + shown(START_LIGHT.z) + ",\n"
           "                    the viewer's)" + more + "\n";
}
