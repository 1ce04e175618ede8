#pragma once

#include "navigation.h"  // Required for: DRAG_ modes, the drag's arithmetic
#include "surface.h"     // Required for: SurfaceNormals, how the surface is lit
#include "vector3.h"
#include "view.h"

// Camera: the view is translated by -cameraOffset, then rotated by
// cameraAngles (degrees) about x, y and z in that order; START_OFFSET and
// START_ANGLES at start.
extern Vector3 cameraOffset;
extern Vector3 cameraAngles;

// Light 0's position, in eye coordinates; START_LIGHT at start.
extern Vector3 lightPosition;

// What a mouse drag currently does (DRAG_ in navigation.h).
extern int dragMode;
// Pointer at the last press or motion event, window pixels, y growing downward.
extern int lastMouseX;
extern int lastMouseY;

// How the viewer starts: its images (null: those in texture/, by
// chosenImageFile), the relief's scale, the normals the surface is lit
// with, and the light. The viewer starts as ViewerStart{} says;
// dispdome-render hands it its own.
struct ViewerStart {
    const char* colorFile = nullptr;
    const char* displaceFile = nullptr;
    float relief = 1.0f;
    SurfaceNormals normals = SurfaceNormals::Viewer;
    Vector3 light = START_LIGHT;
};

// One-time set-up from start; needs the window's GL context. It sets the
// fixed GL state (clear values, depth test, lighting, texturing) and the
// light, builds the tables and nets, creates the textures and records the
// surface list, in that order: the steps of SETUP_STEPS, which the timing
// harness times one by one. False, after the reader's line or one of ours,
// when an image start names is not read or its heights give no relief: the
// set-up then stops before the surface list.
bool initScene(const ViewerStart& start = {});
struct SetupStep {
    const char* name;
    bool (*run)(const ViewerStart& start);
};
constexpr int SETUP_STEP_COUNT = 4;
extern const SetupStep SETUP_STEPS[SETUP_STEP_COUNT];
void setFixedState();

// One frame into the current draw buffer: clear, light 0, the camera
// transform and the surface list. The window's display callback and the
// offscreen renderer both draw with it.
void drawFrame();
// The camera transform, onto the current matrix: the GL calls whose matrix
// cameraModelView computes for the web page.
void applyCamera();

// GLUT callbacks. display() draws a frame and swaps the buffers.
void display();
void reshape(int width, int height);
void mouse(int button, int state, int x, int y);
void motion(int x, int y);

// The mouse callback with the GLUT modifier state passed in, so a drag can be
// driven without a window. modifiers is what glutGetModifiers reports.
void mouseButton(int button, int state, int x, int y, int modifiers);
