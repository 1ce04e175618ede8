#pragma once

// How the dome is looked at: the window, the camera's start, the light, the
// projection and the drag rates. No GL here: navigation.h moves and projects
// the camera by them, for the viewer and for the web page (through its
// module); the export writes the rest the page needs into its data.

#include "vector3.h"

// The window: its size and where it opens on the screen, in pixels.
constexpr int WINDOW_WIDTH = 700;
constexpr int WINDOW_HEIGHT = 700;
constexpr int WINDOW_X = 250;
constexpr int WINDOW_Y = 250;

// The camera's start: 10 units from the dome, looking down -z, unturned.
constexpr Vector3 START_OFFSET = {0.0f, 0.0f, 10.0f};
constexpr Vector3 START_ANGLES = {0.0f, 0.0f, 0.0f};

// Light 0: its position unless a tool places it elsewhere, 10 units behind
// the eye, and its colours (red, green, blue, alpha).
constexpr Vector3 START_LIGHT = {0.0f, 0.0f, 10.0f};
constexpr float LIGHT_AMBIENT[4] = {0.8f, 0.6f, 0.5f, 1.0f};
constexpr float LIGHT_DIFFUSE[4] = {0.9f, 0.9f, 0.9f, 1.0f};
constexpr float LIGHT_SPECULAR[4] = {0.9f, 0.9f, 0.9f, 1.0f};

// The perspective: vertical field of view in degrees, near and far planes.
constexpr double FIELD_OF_VIEW = 45.0;
constexpr double NEAR_PLANE = 0.1;
constexpr double FAR_PLANE = 100.0;

// Drag rates: degrees a pixel when turning, scene units a pixel when zooming
// and panning.
constexpr float DEGREES_PER_PIXEL = 1.0f;
constexpr float ZOOM_PER_PIXEL = 0.05f;
constexpr float PAN_PER_PIXEL = 0.01f;
// An angle beyond +-ANGLE_LIMIT degrees snaps back to 0.
constexpr float ANGLE_LIMIT = 360.0f;

// The web page's keys and wheel, which the viewer has not: a wheel notch, an
// arrow key or + and - move the view as a drag of this many pixels does (a
// notch or +/- as a right drag, an arrow as a left drag, Shift + an arrow as
// a Ctrl drag).
constexpr int STEP_PIXELS = 10;
