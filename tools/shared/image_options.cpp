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
    const std::string samples = std::to_string(GRID_SAMPLES);
    return "  --color FILE      colour image (default: texture/color.tga, else .png,\n"
           "                    else .jpg)\n"
           "  --displacement FILE  height image (its red channel, at 16 bits where it\n"
           "                    has them) of any size, read whole and laid on the dome\n"
           "                    as the colour image is; a side longer than the grid's\n"
           "                    " + samples + " samples is first averaged down to " + samples + " texels\n"
           "                    (default: texture/displace.tga, else .png, else .jpg)\n"
           "  --normals KIND    the surface's normals (default: " + NORMALS_KINDS[int(byDefault)] + "):\n"
           "                    viewer: the viewer's lighting normals, those of its\n"
           "                    smooth normal patch, which leave the relief to the\n"
           "                    outline and the colours; displaced: the displaced\n"
           "                    surface's own, from its triangles, each weighted by\n"
           "                    its area, at unit length, so the relief shows in the\n"
           "                    shading\n";
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

std::string lightOptionUsage()
{
    return "  --light X,Y,Z     the light's position in eye coordinates (default\n"
           "                    " + shown(START_LIGHT.x) + "," + shown(START_LIGHT.y) + "," + shown(START_LIGHT.z) +
           ", as the viewer's)\n";
}
