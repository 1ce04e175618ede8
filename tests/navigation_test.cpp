// Drag arithmetic without a window: presses go through mouseButton with the
// modifiers a real press reports, motion through motion().
#include "viewer.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int LEFT = GLUT_LEFT_BUTTON, MIDDLE = GLUT_MIDDLE_BUTTON, RIGHT = GLUT_RIGHT_BUTTON;
constexpr int WHEEL_UP = 3;  // GLUT reports wheel notches as buttons 3 and 4

void press(int button, int x, int y, int modifiers = 0) { mouseButton(button, GLUT_DOWN, x, y, modifiers); }
void release(int button) { mouseButton(button, GLUT_UP, 0, 0, 0); }

// The camera, as offset x, y, z and angles x, y, z.
bool cameraIs(Vector3 offset, Vector3 angles)
{
    const float got[6] = {cameraOffset.x, cameraOffset.y, cameraOffset.z, cameraAngles.x, cameraAngles.y, cameraAngles.z};
    const float want[6] = {offset.x, offset.y, offset.z, angles.x, angles.y, angles.z};
    for (int k = 0; k < 6; ++k)
        if (std::fabs(got[k] - want[k]) > 1e-5f)
            return false;
    return true;
}

TEST(Navigation, EachDragMovesTheCameraItsOwnWay)
{
    // Left: a vertical move tilts about x, a horizontal one turns about y,
    // each measured from the last event.
    press(LEFT, 100, 100);
    motion(140, 130);
    motion(130, 80);
    EXPECT_TRUE(cameraIs({0, 0, 10}, {-20, 30, 0}));
    // Ctrl alone pans: the surface follows the pointer (y grows downward).
    press(LEFT, 200, 200, GLUT_ACTIVE_CTRL);
    motion(240, 230);
    EXPECT_TRUE(cameraIs({-0.4f, 0.3f, 10}, {-20, 30, 0}));
    // Right: down moves away, up moves closer, through the eye and beyond.
    press(RIGHT, 300, 300);
    motion(310, 340);
    motion(0, 40);
    EXPECT_TRUE(cameraIs({-0.4f, 0.3f, -3}, {-20, 30, 0}));
    // Ctrl with Shift rotates.
    press(LEFT, 0, 0, GLUT_ACTIVE_CTRL | GLUT_ACTIVE_SHIFT);
    EXPECT_EQ(dragMode, DRAG_ROTATE);
}

TEST(Navigation, AnglesPastAFullTurnSnapToZero)
{
    // 170 + 200 = 370 in one event snaps to 0; in 1-pixel events it snaps at
    // 361 and goes on from 0 to 9.
    cameraAngles.y = 170;
    press(LEFT, 0, 0);
    motion(200, 0);
    EXPECT_EQ(cameraAngles.y, 0);
    cameraAngles.y = 170;
    press(LEFT, 0, 0);
    for (int x = 1; x <= 200; ++x)
        motion(x, 0);
    EXPECT_EQ(cameraAngles.y, 9);
    // A full turn itself stays; zoom and pan pass the angles through the
    // limiter too, z included.
    cameraAngles = {360, -360, 365};
    press(RIGHT, 0, 0);
    motion(0, 1);
    EXPECT_TRUE(cameraIs({0, 0, 10.05f}, {360, -360, 0}));
    cameraAngles = {-400, 0, 0};
    press(LEFT, 0, 0, GLUT_ACTIVE_CTRL);
    motion(0, 0);
    EXPECT_EQ(cameraAngles.x, 0);
}

TEST(Navigation, OtherButtonsOnlyMoveTheStartAndAnyReleaseEnds)
{
    // No drag: motion and a middle press only record the pointer.
    motion(50, 60);
    press(MIDDLE, 70, 80);
    motion(90, 100);
    EXPECT_TRUE(cameraIs({0, 0, 10}, {0, 0, 0}));
    // During a drag the middle button and the wheel keep the mode but move
    // its start; the wheel's release ends the drag, as any release does.
    press(LEFT, 10, 10);
    press(MIDDLE, 20, 30);
    press(WHEEL_UP, 20, 30);
    motion(25, 32);
    EXPECT_TRUE(cameraIs({0, 0, 10}, {2, 5, 0}));
    release(WHEEL_UP);
    EXPECT_EQ(dragMode, DRAG_NONE);
    press(RIGHT, 0, 0);
    release(MIDDLE);
    EXPECT_EQ(dragMode, DRAG_NONE);
}

}  // namespace
