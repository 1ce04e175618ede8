#pragma once

// The surface's one GL part: the strips recorded into a display list.

// Display-list name of the recorded surface; 0 until recorded.
extern unsigned int surfaceList;

// Records surfaceList with surfaceNormals (surface.h); needs a current GL
// context and the nets and tables.
void buildSurfaceList();
