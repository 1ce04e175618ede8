#pragma once

// The surface's one GL part: the strips recorded into a display list.

#include "surface.h"  // Required for: Displacement and SurfaceNormals, what the list is made of

// Display-list name of the recorded surface; 0 until recorded.
extern unsigned int surfaceList;

// Records surfaceList from image with the normals asked for; needs a current
// GL context and the nets and tables. Without relief in image, one line on
// standard error names displacementName and says why.
void buildSurfaceList(const Displacement& image, SurfaceNormals normals, const char* displacementName);

// The viewer's own list: its displacement image (viewerDisplacement()) at
// start's relief, start's normals, and the file the image came from in the
// line. True.
struct ViewerStart;
bool buildViewerSurfaceList(const ViewerStart& start);
