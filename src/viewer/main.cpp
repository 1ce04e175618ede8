#include "command_line.h"
#include "viewer.h"

#include <GL/glut.h>

namespace {

constexpr const char* PROGRAM = "dispdome-viewer";

const char* const USAGE =
    "Usage: dispdome-viewer [GLUT options]\n"
    "\n"
    "Shows a displacement-mapped bicubic Bezier dome in a 700 x 700 window that\n"
    "the mouse turns, pans and zooms. It reads three images from texture/ in\n"
    "the working folder: color, laid on the dome, displace, whose red channel\n"
    "pushes the surface out along its normals, and normal; each is NAME.tga,\n"
    "else the first there of NAME.png, .jpg, .tif, .exr and .webp: TGA, PNG,\n"
    "JPEG, TIFF, OpenEXR or WebP (16-bit heights keep their 16 bits, float\n"
    "ones their floats). dispdome-samples writes a set. It prints two lines\n"
    "for each image it opens.\n"
    "\n"
    "Mouse:\n"
    "  left drag          turns: vertical movement tilts, horizontal movement\n"
    "                     turns about the vertical axis, a degree a pixel\n"
    "  Ctrl + left drag   pans: the surface follows the pointer\n"
    "  right drag         zooms: down moves away, up moves closer\n"
    "Close the window to quit.\n"
    "\n"
    "Options:\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "Any other argument goes to GLUT, such as -display DISPLAY for the X display.\n";

}  // namespace

int main(int argc, char** argv)
{
    // Answered before GLUT sees the command line, so they need no display;
    // only as the first argument, so a GLUT option's value is never taken
    // for one. Only these two: -h is not taken, and the rest goes to GLUT.
    if (argc > 1 && answersInfo(argv[1], PROGRAM, USAGE, false))
        return STATUS_WRITTEN;

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
    glutInitWindowSize(WINDOW_WIDTH, WINDOW_HEIGHT);
    glutInitWindowPosition(WINDOW_X, WINDOW_Y);
    glutCreateWindow(argv[0]);

    initScene();

    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutIdleFunc(glutPostRedisplay);
    glutMouseFunc(mouse);
    glutMotionFunc(motion);

    glutMainLoop();
    return 0;
}
