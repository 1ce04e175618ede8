// The viewer against a real GL context (Mesa's software renderer under Xvfb
// in CI): the state and textures set-up leaves, the camera transform, and a
// frame of the display list against one of the computed strips.
#include "sample_images.h"
#include "support.h"
#include "surface.h"
#include "textures.h"
#include "viewer.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using Ints = std::vector<GLint>;
using Floats = std::vector<GLfloat>;

// What GL reports for each name in turn, each a value or `each` values.
template <typename T>
std::vector<T> got(void (*get)(GLenum, T*), std::initializer_list<GLenum> names, size_t each = 1)
{
    std::vector<T> values(names.size() * each);
    for (size_t n = 0; n < names.size(); ++n)
        get(names.begin()[n], &values[n * each]);
    return values;
}

// The pixels of one frame as display() draws it from the given list.
std::vector<unsigned char> frame(GLuint list)
{
    std::vector<unsigned char> pixels(700 * 700 * 3);
    std::swap(surfaceList, list);
    glBindTexture(GL_TEXTURE_2D, normalTexture);  // the list binds its own
    display();
    std::swap(surfaceList, list);
    glReadPixels(0, 0, 700, 700, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

TEST(Gl, StateTexturesListAndCameraAreWhatTheViewerSets)
{
    // The sample images, but a normal image of another size than the
    // displacement image, which set-up reads before it, and wider than GL
    // takes: its texture gets the size read before it and no data.
    openTestWindow();
    enterTemporaryFolder(true);
    writeFile("texture/normal.tga", tgaHeader(2, 20000, 1, 24) + Bytes(60000, 7));
    testing::internal::CaptureStderr();
    initScene();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "texture/normal.tga: 20000 x 1 is larger than GL takes as a texture here (16384 x 16384)\n");
    reshape(700, 700);
    // The texture made last stays bound.
    EXPECT_EQ(got(glGetIntegerv, {GL_DEPTH_FUNC, GL_SHADE_MODEL, GL_TEXTURE_BINDING_2D}),
              Ints({GL_LEQUAL, GL_SMOOTH, int(normalTexture)}));
    EXPECT_EQ(got(glGetBooleanv, {GL_DEPTH_TEST, GL_LIGHTING, GL_LIGHT0, GL_TEXTURE_2D, GL_CULL_FACE, GL_BLEND,
                                  GL_NORMALIZE, GL_COLOR_MATERIAL}),
              (std::vector<GLboolean>{1, 1, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(got(glGetFloatv, {GL_COLOR_CLEAR_VALUE, GL_DEPTH_CLEAR_VALUE}, 4), Floats({1, 1, 1, 1, 1, 0, 0, 0}));
    auto environment = [](GLenum parameter, GLint* value) { glGetTexEnviv(GL_TEXTURE_ENV, parameter, value); };
    EXPECT_EQ(got<GLint>(environment, {GL_TEXTURE_ENV_MODE}), Ints({GL_MODULATE}));

    // The colour texture at its image's size; the relief reads the
    // displacement image with its own width, not the normal image's.
    EXPECT_EQ(displaceWidth, 512);
    auto level = [](GLenum parameter, GLint* value) { glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, parameter, value); };
    auto texture = [](GLenum parameter, GLint* value) { glGetTexParameteriv(GL_TEXTURE_2D, parameter, value); };
    EXPECT_EQ(got<GLint>(level, {GL_TEXTURE_WIDTH, GL_TEXTURE_HEIGHT}), Ints({512, 512}));  // the normal texture
    glBindTexture(GL_TEXTURE_2D, colorTexture);
    EXPECT_EQ(got<GLint>(level, {GL_TEXTURE_WIDTH, GL_TEXTURE_HEIGHT, GL_TEXTURE_INTERNAL_FORMAT}),
              Ints({512, 512, GL_RGBA}));
    EXPECT_EQ(got<GLint>(texture, {GL_TEXTURE_MAG_FILTER, GL_TEXTURE_MIN_FILTER, GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T}),
              Ints({GL_LINEAR, GL_LINEAR, GL_REPEAT, GL_REPEAT}));
    // Nor does an image taller than GL takes.
    writeFile("tall.tga", tgaHeader(2, 1, 20000, 24) + Bytes(60000, 7));
    PixelBuffer* tall = nullptr;
    testing::internal::CaptureStderr();
    createTexture(normalTexture, "tall.tga", tall);
    delete[] tall;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tall.tga: 1 x 20000 is larger than GL takes as a texture here (16384 x 16384)\n");
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // A frame of dispdome-export's PLY drawn here from its arrays with the
    // window's state, the light (in eye coordinates) and camera set by hand.
    auto drawPly = [](const char* options, const GLfloat light[4], Vector3 pan, float tilt, float turn, int height) {
        const Ply mesh = (runCommand("'" EXPORT_BINARY "' " + std::string(options) + " dome.ply"), readPly(readFile("dome.ply")));
        glVertexPointer(3, GL_FLOAT, 32, &mesh.vertices[0][0]);
        glNormalPointer(GL_FLOAT, 32, &mesh.vertices[0][3]);
        glTexCoordPointer(2, GL_FLOAT, 32, &mesh.vertices[0][6]);
        for (GLenum array : {GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_TEXTURE_COORD_ARRAY})
            glEnableClientState(array);
        reshape(700, height);
        glLightfv(GL_LIGHT0, GL_POSITION, light);
        glTranslatef(pan.x, pan.y, pan.z);
        glRotatef(tilt, 1, 0, 0);
        glRotatef(turn, 0, 1, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBindTexture(GL_TEXTURE_2D, colorTexture);
        glDrawElements(GL_TRIANGLES, GLsizei(mesh.faces.size() * 3), GL_UNSIGNED_INT, mesh.faces.data());
        std::string drawn(700 * size_t(height) * 3, 0);
        glReadPixels(0, 0, 700, height, GL_RGB, GL_UNSIGNED_BYTE, drawn.data());
        return drawn;
    };
    cameraOffset = {0.3f, -0.5f, 8};
    cameraAngles = {30, 40, 0};
    const std::vector<unsigned char> list = frame(surfaceList);

    // The camera moves back by the offset, then turns about x, then about y:
    // T * Rx * Ry, column by column. The light stays put in eye coordinates.
    const double sa = 0.5, ca = std::sqrt(0.75), sb = std::sin(M_PI * 2 / 9), cb = std::cos(M_PI * 2 / 9);
    const double camera[16] = {cb, sa * sb, -ca * sb, 0, 0, ca, sa, 0, sb, -sa * cb, ca * cb, 0, -0.3, 0.5, -8, 1};
    const Floats m = got(glGetFloatv, {GL_MODELVIEW_MATRIX}, 16);
    EXPECT_TRUE(std::equal(m.begin(), m.end(), camera, [](float a, double b) { return std::fabs(a - b) < 1e-6; }));
    auto light = [](GLenum parameter, GLfloat* value) { glGetLightfv(GL_LIGHT0, parameter, value); };
    EXPECT_EQ(got<GLfloat>(light, {GL_POSITION}, 4), Floats({0, 0, 10, 1}));
    // That frame of the list against its export with the viewer's normals.
    const GLfloat behind[4] = {0, 0, 10, 1}, side[4] = {-8, 3, 2, 1};
    const std::string exported = drawPly("--normals viewer", behind, {-0.3f, 0.5f, -8}, 30, 40, 700);
    EXPECT_EQ(unlike(exported, std::string(list.begin(), list.end()), 0), 0u);

    // dispdome-render's own normals, light, pan and size against the mesh it
    // exports, drawn here from the PLY with the window's state: the light set
    // in eye coordinates, the camera moved, tilted and turned by hand.
    ASSERT_EQ(runCommand("'" RENDER_BINARY "' --normals displaced --light -8,3,2 --pan 0.3,0.4 --tilt 30 --turn 40 "
                         "--size 700x500 lit.png").status, 0);
    const std::string drawn = drawPly("", side, {0.3f, 0.4f, -10}, 30, 40, 500);
    EXPECT_LE(unlike(drawn, runCommand("convert lit.png -flip -depth 8 rgb:-").out, 2), 700u * 500 / 200);
}

}  // namespace
