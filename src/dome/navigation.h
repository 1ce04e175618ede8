#pragma once

// How the camera moves and what it sees: a drag's arithmetic, and the
// matrices the viewer's GL calls build from the camera. No GL here: the
// viewer drags by these and builds the same matrices with its own GL calls
// (a GL test holds the two together); the web page's module hands the drag
// and the matrices to the page.

#include "vector3.h"
#include "view.h"

// What a mouse drag does.
constexpr int DRAG_NONE = -1;
constexpr int DRAG_ROTATE = 0;
constexpr int DRAG_ZOOM = 1;
constexpr int DRAG_PAN = 2;

// Resets each angle beyond +-ANGLE_LIMIT degrees to 0 (exactly the limit stays).
void limitAngles(Vector3& angles);

// A move of (dx, dy) pixels (y growing downward) in a drag mode: DRAG_ROTATE
// tilts about x by dy and turns about y by dx, DRAG_ZOOM moves the camera
// back by dy, DRAG_PAN moves the surface with the pointer; each at its rate
// a pixel, in single precision, then limitAngles. DRAG_NONE changes nothing.
void dragCamera(int mode, double dx, double dy, Vector3& offset, Vector3& angles);

// Width / height for the projection; a zero dimension counts as one pixel, so
// a collapsed window never divides by zero or yields a zero aspect.
double viewAspect(int width, int height);

// 4 x 4 matrices, column-major, as GL holds them.
struct Matrix4 {
    float m[16];
};

// The model-view matrix of the camera: identity, translated by -offset, then
// rotated by angles (degrees) about x, y and z in that order, as
// glTranslatef and glRotatef build it.
Matrix4 cameraModelView(const Vector3& offset, const Vector3& angles);
// gluPerspective(FIELD_OF_VIEW, viewAspect(width, height), NEAR_PLANE,
// FAR_PLANE).
Matrix4 cameraProjection(int width, int height);
// The inverse transpose of the upper 3 x 3 of m, column-major, which GL's
// lighting turns normals by.
void normalMatrix(const Matrix4& m, float normal[9]);
