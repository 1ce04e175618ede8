#include "viewer.h"

#include "surface.h"
#include "surface_list.h"
#include "textures.h"

#include <GL/glut.h>

Vector3 cameraOffset = START_OFFSET;
Vector3 cameraAngles = START_ANGLES;
Vector3 lightPosition = START_LIGHT;

int dragMode = DRAG_NONE;
int lastMouseX = 0;
int lastMouseY = 0;

void setFixedState()
{
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);
}

const SetupStep SETUP_STEPS[SETUP_STEP_COUNT] = {
    {"state",
     [](const ViewerStart& start) {
         setFixedState();
         lightPosition = start.light;
         return true;
     }},
    {"tables",
     [](const ViewerStart&) {
         buildSurfaceTables();
         return true;
     }},
    {"textures", createTextures},
    {"compile", buildViewerSurfaceList},
};

bool initScene(const ViewerStart& start)
{
    for (const SetupStep& step : SETUP_STEPS)
        if (!step.run(start))
            return false;
    return true;
}

void drawFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();

    glLightfv(GL_LIGHT0, GL_AMBIENT, LIGHT_AMBIENT);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, LIGHT_DIFFUSE);
    glLightfv(GL_LIGHT0, GL_SPECULAR, LIGHT_SPECULAR);
    // Set with the identity loaded: the position is taken in eye coordinates.
    const GLfloat position[4] = {lightPosition.x, lightPosition.y, lightPosition.z, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, position);

    applyCamera();
    glCallList(surfaceList);
}

void applyCamera()
{
    glTranslatef(-cameraOffset.x, -cameraOffset.y, -cameraOffset.z);
    glRotatef(cameraAngles.x, 1.0f, 0.0f, 0.0f);
    glRotatef(cameraAngles.y, 0.0f, 1.0f, 0.0f);
    glRotatef(cameraAngles.z, 0.0f, 0.0f, 1.0f);
}

void display()
{
    drawFrame();
    glutSwapBuffers();
}

void reshape(int width, int height)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(FIELD_OF_VIEW, viewAspect(width, height), NEAR_PLANE, FAR_PLANE);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void mouseButton(int button, int state, int x, int y, int modifiers)
{
    if (state == GLUT_DOWN) {
        lastMouseX = x;
        lastMouseY = y;
        if (button == GLUT_LEFT_BUTTON)
            dragMode = modifiers == GLUT_ACTIVE_CTRL ? DRAG_PAN : DRAG_ROTATE;
        else if (button == GLUT_RIGHT_BUTTON)
            dragMode = DRAG_ZOOM;
        // The middle button and the wheel leave the drag as it is.
    } else if (state == GLUT_UP) {
        // Any release ends the drag, whichever button it was.
        dragMode = DRAG_NONE;
    }
}

void mouse(int button, int state, int x, int y)
{
    // GLUT answers the modifier query only inside an input callback.
    const bool leftPress = state == GLUT_DOWN && button == GLUT_LEFT_BUTTON;
    mouseButton(button, state, x, y, leftPress ? glutGetModifiers() : 0);
}

void motion(int x, int y)
{
    const int dx = x - lastMouseX;
    const int dy = y - lastMouseY;
    dragCamera(dragMode, dx, dy, cameraOffset, cameraAngles);
    lastMouseX = x;
    lastMouseY = y;
}
