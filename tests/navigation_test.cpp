// Drag arithmetic without a window: presses go through mouseButton with the
// modifier state a real press would report, motion through motion().
#include "viewer.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

namespace {

class Navigation : public ::testing::Test {
protected:
    void SetUp() override
    {
        cameraOffset = {0.0f, 0.0f, 10.0f};
        cameraAngles = {0.0f, 0.0f, 0.0f};
        dragMode = DRAG_NONE;
        lastMouseX = 0;
        lastMouseY = 0;
    }

    static void press(int button, int x, int y, int modifiers = 0)
    {
        mouseButton(button, GLUT_DOWN, x, y, modifiers);
    }
    static void release(int button, int x, int y) { mouseButton(button, GLUT_UP, x, y, 0); }
};

// GLUT reports the wheel as buttons 3 and 4.
constexpr int WHEEL_UP = 3;
constexpr int WHEEL_DOWN = 4;

TEST_F(Navigation, LeftDragRotatesOneDegreePerPixel)
{
    press(GLUT_LEFT_BUTTON, 100, 100);
    EXPECT_EQ(dragMode, DRAG_ROTATE);
    motion(140, 130);  // right and down: tilt about x by dy, turn about y by dx
    motion(130, 80);   // then back left and up past the start
    EXPECT_EQ(cameraAngles.x, -20.0f);
    EXPECT_EQ(cameraAngles.y, 30.0f);
    EXPECT_EQ(cameraAngles.z, 0.0f);
    EXPECT_EQ(cameraOffset.x, 0.0f);
    EXPECT_EQ(cameraOffset.y, 0.0f);
    EXPECT_EQ(cameraOffset.z, 10.0f);
}

TEST_F(Navigation, OnlyCtrlAloneTurnsALeftDragIntoAPan)
{
    press(GLUT_LEFT_BUTTON, 200, 200, GLUT_ACTIVE_CTRL);
    EXPECT_EQ(dragMode, DRAG_PAN);
    motion(240, 230);
    // The surface follows the pointer: right moves it right, down moves it
    // down, so the offset goes the other way in x (y grows downward on screen).
    EXPECT_FLOAT_EQ(cameraOffset.x, -0.4f);
    EXPECT_FLOAT_EQ(cameraOffset.y, 0.3f);
    EXPECT_EQ(cameraOffset.z, 10.0f);
    EXPECT_EQ(cameraAngles.x, 0.0f);
    EXPECT_EQ(cameraAngles.y, 0.0f);
    release(GLUT_LEFT_BUTTON, 240, 230);

    for (int modifiers : {0, GLUT_ACTIVE_SHIFT, GLUT_ACTIVE_ALT, GLUT_ACTIVE_CTRL | GLUT_ACTIVE_SHIFT,
                          GLUT_ACTIVE_CTRL | GLUT_ACTIVE_ALT}) {
        press(GLUT_LEFT_BUTTON, 0, 0, modifiers);
        EXPECT_EQ(dragMode, DRAG_ROTATE) << "modifiers " << modifiers;
        release(GLUT_LEFT_BUTTON, 0, 0);
    }
    // Modifiers do not matter to the right button.
    press(GLUT_RIGHT_BUTTON, 0, 0, GLUT_ACTIVE_CTRL);
    EXPECT_EQ(dragMode, DRAG_ZOOM);
}

TEST_F(Navigation, RightDragZoomsWithoutLimit)
{
    press(GLUT_RIGHT_BUTTON, 300, 300);
    EXPECT_EQ(dragMode, DRAG_ZOOM);
    motion(310, 340);  // down moves away; x is ignored
    EXPECT_FLOAT_EQ(cameraOffset.z, 12.0f);
    motion(0, 40);  // up moves closer, through the eye and beyond
    EXPECT_FLOAT_EQ(cameraOffset.z, -3.0f);
    EXPECT_EQ(cameraOffset.x, 0.0f);
    EXPECT_EQ(cameraOffset.y, 0.0f);
    EXPECT_EQ(cameraAngles.x, 0.0f);
    EXPECT_EQ(cameraAngles.y, 0.0f);
}

TEST_F(Navigation, AnglesPastAFullTurnSnapToZero)
{
    // One 200-pixel event from 170 degrees reaches 370: snapped, not wrapped.
    cameraAngles.y = 170.0f;
    press(GLUT_LEFT_BUTTON, 0, 0);
    motion(200, 0);
    EXPECT_EQ(cameraAngles.y, 0.0f);

    // The same drag in 1-pixel events snaps at 361 and goes on from 0.
    cameraAngles.y = 170.0f;
    press(GLUT_LEFT_BUTTON, 0, 0);
    for (int x = 1; x <= 200; ++x)
        motion(x, 0);
    EXPECT_EQ(cameraAngles.y, 9.0f);

    Vector3 angles = {360.0f, -360.0f, 0.0f};
    limitAngles(angles);
    EXPECT_EQ(angles.x, 360.0f);
    EXPECT_EQ(angles.y, -360.0f);
    angles = {-360.5f, 360.001f, 361.0f};  // z is limited as well
    limitAngles(angles);
    EXPECT_EQ(angles.x, 0.0f);
    EXPECT_EQ(angles.y, 0.0f);
    EXPECT_EQ(angles.z, 0.0f);

    // Zoom and pan motions also pass the angles through the limiter.
    cameraAngles = {400.0f, -400.0f, 365.0f};
    press(GLUT_RIGHT_BUTTON, 0, 0);
    motion(0, 1);
    EXPECT_EQ(cameraAngles.x, 0.0f);
    EXPECT_EQ(cameraAngles.y, 0.0f);
    EXPECT_EQ(cameraAngles.z, 0.0f);
}

TEST_F(Navigation, MotionWithoutADragOnlyMovesTheRecordedPointer)
{
    motion(50, 60);
    EXPECT_EQ(lastMouseX, 50);
    EXPECT_EQ(lastMouseY, 60);
    EXPECT_EQ(cameraAngles.x, 0.0f);
    EXPECT_EQ(cameraAngles.y, 0.0f);
    EXPECT_EQ(cameraOffset.z, 10.0f);

    // A middle press from rest records the pointer and starts nothing.
    press(GLUT_MIDDLE_BUTTON, 70, 80);
    EXPECT_EQ(dragMode, DRAG_NONE);
    EXPECT_EQ(lastMouseX, 70);
    EXPECT_EQ(lastMouseY, 80);
    motion(90, 100);
    EXPECT_EQ(cameraAngles.x, 0.0f);
    EXPECT_EQ(cameraAngles.y, 0.0f);
    EXPECT_EQ(cameraOffset.z, 10.0f);
}

TEST_F(Navigation, MiddleAndWheelPressesKeepTheDragButMoveItsStart)
{
    press(GLUT_LEFT_BUTTON, 10, 10);
    for (int button : {GLUT_MIDDLE_BUTTON, WHEEL_UP, WHEEL_DOWN})
        press(button, 20, 30);
    EXPECT_EQ(dragMode, DRAG_ROTATE);
    EXPECT_EQ(lastMouseX, 20);
    EXPECT_EQ(lastMouseY, 30);
    motion(25, 32);  // measured from the middle press, not the left one
    EXPECT_EQ(cameraAngles.x, 2.0f);
    EXPECT_EQ(cameraAngles.y, 5.0f);
}

TEST_F(Navigation, AnyReleaseEndsTheDrag)
{
    for (int held : {GLUT_LEFT_BUTTON, GLUT_RIGHT_BUTTON}) {
        for (int released : {GLUT_LEFT_BUTTON, GLUT_MIDDLE_BUTTON, GLUT_RIGHT_BUTTON, WHEEL_UP, WHEEL_DOWN}) {
            press(held, 5, 5);
            release(released, 9, 9);
            EXPECT_EQ(dragMode, DRAG_NONE) << "held " << held << ", released " << released;
            // The release itself does not move the recorded pointer.
            EXPECT_EQ(lastMouseX, 5);
            EXPECT_EQ(lastMouseY, 5);
        }
    }
    // The rest of a drag whose button is still held changes nothing.
    motion(100, 100);
    EXPECT_EQ(cameraAngles.x, 0.0f);
    EXPECT_EQ(cameraAngles.y, 0.0f);
    EXPECT_EQ(cameraOffset.z, 10.0f);
}

}  // namespace
