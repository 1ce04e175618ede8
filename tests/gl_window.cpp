#include "gl_window.h"

#include <GL/freeglut.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

void openTestWindow()
{
    static bool open = false;
    if (open)
        return;
    int argc = 1;
    char name[] = "gl_test";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
    glutInitWindowSize(700, 700);
    glutInitWindowPosition(250, 250);
    glutCreateWindow(name);
    // freeglut insists on a display callback; tests draw by calling display().
    glutDisplayFunc([] {});
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    open = true;
#if defined(__SANITIZE_ADDRESS__)
    // Leaks are looked for while the GL driver is still loaded: once it is
    // unloaded at exit, all it held would show as leaks of unknown origin.
    std::atexit([] { __lsan_do_leak_check(); });
#endif
    pumpEvents();
}

void pumpEvents(int rounds)
{
    for (int n = 0; n < rounds; ++n) {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
