// Mouse navigation end to end: real X pointer and key events, made with the
// XTest extension, go to the viewer's window, freeglut delivers them to the
// viewer's callbacks, and the camera state shows what the drag did.
#include "gl_window.h"
#include "viewer.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// X button numbers; X reports a wheel notch as a press and release of 4 or 5.
constexpr unsigned LEFT = 1;
constexpr unsigned RIGHT = 3;
constexpr unsigned WHEEL_UP = 4;

class MouseEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        openTestWindow();
        glutMouseFunc(mouse);
        glutMotionFunc(motion);

        x_ = XOpenDisplay(nullptr);
        ASSERT_NE(x_, nullptr) << "no X display";
        int event, error, major, minor;
        ASSERT_TRUE(XTestQueryExtension(x_, &event, &error, &major, &minor)) << "no XTest";

        // The test window is top level and undecorated (no window manager),
        // so its origin on the root window is all that maps window pixels to
        // screen pixels.
        window_ = glXGetCurrentDrawable();
        ASSERT_NE(window_, Window(0));
        ASSERT_TRUE(pumpUntil([&] {
            XWindowAttributes attributes;
            return XGetWindowAttributes(x_, window_, &attributes) && attributes.map_state == IsViewable;
        })) << "window never mapped";
        Window child;
        XTranslateCoordinates(x_, window_, DefaultRootWindow(x_), 0, 0, &originX_, &originY_, &child);

        cameraOffset = {0.0f, 0.0f, 10.0f};
        cameraAngles = {0.0f, 0.0f, 0.0f};
        dragMode = DRAG_NONE;
        lastMouseX = lastMouseY = 0;

        moveTo(350, 350);
        Window root, under;
        int rootX, rootY, winX, winY;
        unsigned mask;
        XQueryPointer(x_, DefaultRootWindow(x_), &root, &under, &rootX, &rootY, &winX, &winY, &mask);
        ASSERT_EQ(under, window_) << "pointer is not over the test window";
    }

    void TearDown() override
    {
        if (!x_)
            return;
        // Leave nothing held for the next test, whatever failed.
        for (unsigned button : {LEFT, RIGHT})
            XTestFakeButtonEvent(x_, button, False, CurrentTime);
        for (KeySym key : {XK_Control_L, XK_Shift_L})
            XTestFakeKeyEvent(x_, XKeysymToKeycode(x_, key), False, CurrentTime);
        XSync(x_, False);
        pumpUntil([] { return false; }, 100);
        XCloseDisplay(x_);
    }

    // Lets freeglut handle events until done() holds; false on time-out.
    static bool pumpUntil(const std::function<bool()>& done, int milliseconds = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            glutMainLoopEvent();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // Window coordinates; pointer moves with no button held reach no callback.
    void moveTo(int x, int y)
    {
        XTestFakeMotionEvent(x_, DefaultScreen(x_), originX_ + x, originY_ + y, CurrentTime);
        XSync(x_, False);
        pumpUntil([] { return false; }, 50);
    }

    // A motion with a button held, delivered once the viewer has recorded it.
    void dragTo(int x, int y)
    {
        XTestFakeMotionEvent(x_, DefaultScreen(x_), originX_ + x, originY_ + y, CurrentTime);
        XSync(x_, False);
        ASSERT_TRUE(pumpUntil([&] { return lastMouseX == x && lastMouseY == y; }))
            << "motion to " << x << ", " << y << " not delivered";
    }

    void press(unsigned button, int expectedMode)
    {
        XTestFakeButtonEvent(x_, button, True, CurrentTime);
        XSync(x_, False);
        ASSERT_TRUE(pumpUntil([&] { return dragMode == expectedMode; }))
            << "press of button " << button << " gave drag mode " << dragMode;
    }

    void release(unsigned button)
    {
        XTestFakeButtonEvent(x_, button, False, CurrentTime);
        XSync(x_, False);
        ASSERT_TRUE(pumpUntil([] { return dragMode == DRAG_NONE; }))
            << "release of button " << button << " not delivered";
    }

    void key(KeySym symbol, bool down)
    {
        XTestFakeKeyEvent(x_, XKeysymToKeycode(x_, symbol), down, CurrentTime);
        XSync(x_, False);
    }

    Display* x_ = nullptr;
    Window window_ = 0;
    int originX_ = 0;
    int originY_ = 0;
};

TEST_F(MouseEvents, LeftDragRotates)
{
    press(LEFT, DRAG_ROTATE);
    EXPECT_EQ(lastMouseX, 350);
    EXPECT_EQ(lastMouseY, 350);
    dragTo(360, 355);
    dragTo(390, 380);
    release(LEFT);
    EXPECT_FLOAT_EQ(cameraAngles.x, 30.0f);
    EXPECT_FLOAT_EQ(cameraAngles.y, 40.0f);
    EXPECT_EQ(cameraAngles.z, 0.0f);
    EXPECT_EQ(cameraOffset.z, 10.0f);
}

TEST_F(MouseEvents, CtrlLeftDragPans)
{
    key(XK_Control_L, true);
    press(LEFT, DRAG_PAN);
    dragTo(390, 380);
    release(LEFT);
    key(XK_Control_L, false);
    EXPECT_FLOAT_EQ(cameraOffset.x, -0.4f);
    EXPECT_FLOAT_EQ(cameraOffset.y, 0.3f);
    EXPECT_EQ(cameraOffset.z, 10.0f);
    EXPECT_EQ(cameraAngles.x, 0.0f);
    EXPECT_EQ(cameraAngles.y, 0.0f);
}

TEST_F(MouseEvents, CtrlShiftLeftDragRotates)
{
    key(XK_Control_L, true);
    key(XK_Shift_L, true);
    press(LEFT, DRAG_ROTATE);
    dragTo(340, 360);
    release(LEFT);
    EXPECT_FLOAT_EQ(cameraAngles.x, 10.0f);
    EXPECT_FLOAT_EQ(cameraAngles.y, -10.0f);
    EXPECT_EQ(cameraOffset.x, 0.0f);
}

TEST_F(MouseEvents, RightDragDownZoomsOut)
{
    press(RIGHT, DRAG_ZOOM);
    dragTo(350, 430);
    release(RIGHT);
    EXPECT_FLOAT_EQ(cameraOffset.z, 14.0f);
    EXPECT_EQ(cameraOffset.x, 0.0f);
    EXPECT_EQ(cameraAngles.x, 0.0f);
}

TEST_F(MouseEvents, WheelNotchEndsADrag)
{
    press(LEFT, DRAG_ROTATE);
    dragTo(360, 350);
    // The notch's release ends the drag though the left button is still held.
    XTestFakeButtonEvent(x_, WHEEL_UP, True, CurrentTime);
    XTestFakeButtonEvent(x_, WHEEL_UP, False, CurrentTime);
    XSync(x_, False);
    ASSERT_TRUE(pumpUntil([] { return dragMode == DRAG_NONE; })) << "wheel notch not delivered";
    dragTo(400, 400);
    EXPECT_FLOAT_EQ(cameraAngles.y, 10.0f);
    EXPECT_EQ(cameraAngles.x, 0.0f);
    release(LEFT);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
