// The surface's one GL part: recording the strips into the display list.
#include "surface_list.h"

#include "surface.h"
#include "textures.h"
#include "viewer.h"

#include <GL/gl.h>

#include <cstdio>
#include <vector>

unsigned int surfaceList = 0;

namespace {

void issue(const StripVertex& v)
{
    glTexCoord2f(v.s, v.t);
    glNormal3f(v.nx, v.ny, v.nz);
    glVertex3f(v.x, v.y, v.z);
}

}  // namespace

void buildSurfaceList(const Displacement& image, SurfaceNormals normals, const char* displacementName)
{
    if (!displacementAvailable(image))
        std::fprintf(stderr, "%s: %s; the surface is drawn without relief\n", displacementName,
                     missingRelief(image).c_str());

    surfaceList = glGenLists(1);
    glNewList(surfaceList, GL_COMPILE);
    glBindTexture(GL_TEXTURE_2D, colorTexture);

    if (normals == SurfaceNormals::Displaced) {
        // A vertex's own normal needs its neighbours on both rows: the whole
        // grid first, then the same strips, vertex for vertex, from it.
        std::vector<StripVertex> grid = surfaceGrid(image);
        useDisplacedNormals(grid);
        for (int e = 0; e < GRID_STEPS; ++e) {
            const StripVertex* a = &grid[size_t(e) * GRID_SAMPLES];
            const StripVertex* b = a + GRID_SAMPLES;
            glBegin(GL_TRIANGLE_STRIP);
            for (int i = 0; i < GRID_SAMPLES; ++i) {
                issue(a[i]);
                issue(b[i]);
            }
            glEnd();
        }
    } else {
        const SurfaceHeights heights = surfaceHeights(image);
        std::vector<StripVertex> strip(STRIP_VERTICES);
        for (int e = 0; e < GRID_STEPS; ++e) {
            computeStrip(heights, e, strip.data());
            glBegin(GL_TRIANGLE_STRIP);
            for (const StripVertex& v : strip)
                issue(v);
            glEnd();
        }
    }
    glEndList();
}

bool buildViewerSurfaceList(const ViewerStart& start)
{
    Displacement heights = viewerDisplacement();
    heights.scale = start.relief;
    buildSurfaceList(heights, start.normals, displaceFile ? displaceFile : DISPLACE_FILE);
    return true;
}
