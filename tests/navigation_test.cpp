// The viewer's arithmetic without a window: a sequence of mouse events, each
// followed by the camera and drag mode it must leave (presses go through
// mouseButton with the modifiers a real press reports), and the aspect ratio
// of the projection.
#include "support.h"

constexpr int MOVE = -1, LEFT = GLUT_LEFT_BUTTON, MIDDLE = GLUT_MIDDLE_BUTTON, RIGHT = GLUT_RIGHT_BUTTON;
constexpr int WHEEL = 3;  // GLUT reports wheel notches as buttons 3 and 4
constexpr int DOWN = GLUT_DOWN, UP = GLUT_UP, CTRL = GLUT_ACTIVE_CTRL, SHIFT = GLUT_ACTIVE_SHIFT;

struct Event {
    int button, state, x, y, modifiers;  // button MOVE: a motion to (x, y)
    Vector3 offset, angles;
    int mode;
};

const Event EVENTS[] = {
    // Without a drag, a middle press only records the pointer.
    {MIDDLE, DOWN, 70, 80, 0, {0, 0, 10}, {0, 0, 0}, DRAG_NONE},
    // Left: down tilts about x, right turns about y, from the last event.
    {LEFT, DOWN, 100, 100, 0, {0, 0, 10}, {0, 0, 0}, DRAG_ROTATE},
    {MOVE, 0, 140, 130, 0, {0, 0, 10}, {30, 40, 0}, DRAG_ROTATE},
    {MOVE, 0, 130, 80, 0, {0, 0, 10}, {-20, 30, 0}, DRAG_ROTATE},
    // The wheel (and the middle button) keep the drag but move its start;
    // the wheel's release ends it, as any release does.
    {WHEEL, DOWN, 20, 30, 0, {0, 0, 10}, {-20, 30, 0}, DRAG_ROTATE},
    {MOVE, 0, 25, 32, 0, {0, 0, 10}, {-18, 35, 0}, DRAG_ROTATE},
    {WHEEL, UP, 25, 32, 0, {0, 0, 10}, {-18, 35, 0}, DRAG_NONE},
    // Ctrl alone pans: the surface follows the pointer (y grows downward).
    {LEFT, DOWN, 200, 200, CTRL, {0, 0, 10}, {-18, 35, 0}, DRAG_PAN},
    {MOVE, 0, 240, 230, 0, {-0.4f, 0.3f, 10}, {-18, 35, 0}, DRAG_PAN},
    {LEFT, DOWN, 200, 200, CTRL | SHIFT, {-0.4f, 0.3f, 10}, {-18, 35, 0}, DRAG_ROTATE},
    // Right: down moves away, up closer, through the eye and beyond.
    {RIGHT, DOWN, 300, 300, CTRL, {-0.4f, 0.3f, 10}, {-18, 35, 0}, DRAG_ZOOM},
    {MOVE, 0, 310, 340, 0, {-0.4f, 0.3f, 12}, {-18, 35, 0}, DRAG_ZOOM},
    {MOVE, 0, 0, 40, 0, {-0.4f, 0.3f, -3}, {-18, 35, 0}, DRAG_ZOOM},
    {MIDDLE, UP, 0, 0, 0, {-0.4f, 0.3f, -3}, {-18, 35, 0}, DRAG_NONE},
    // Past a full turn an angle snaps to 0, not wraps: 35 + 326 = 361; a
    // full turn itself stays.
    {LEFT, DOWN, 0, 0, 0, {-0.4f, 0.3f, -3}, {-18, 35, 0}, DRAG_ROTATE},
    {MOVE, 0, 325, -342, 0, {-0.4f, 0.3f, -3}, {-360, 360, 0}, DRAG_ROTATE},
    {MOVE, 0, 326, -342, 0, {-0.4f, 0.3f, -3}, {-360, 0, 0}, DRAG_ROTATE},
    {MOVE, 0, 335, -343, 0, {-0.4f, 0.3f, -3}, {0, 9, 0}, DRAG_ROTATE},
};

TEST(Navigation, EventsMoveTheCameraAsTheDragSays)
{
    for (const Event& e : EVENTS) {
        if (e.button == MOVE)
            motion(e.x, e.y);
        else
            mouseButton(e.button, e.state, e.x, e.y, e.modifiers);
        ASSERT_TRUE(near(cameraOffset, e.offset) && near(cameraAngles, e.angles) && dragMode == e.mode)
            << "after the event at " << e.x << ", " << e.y << " (row " << &e - EVENTS << ")";
    }
    // The projection's width / height, a zero side counting as one pixel.
    EXPECT_EQ(viewAspect(1000, 500), 2.0);
    EXPECT_EQ(viewAspect(300, 0), 300.0);
    EXPECT_EQ(viewAspect(0, 0), 1.0);
}
