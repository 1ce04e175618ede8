// The viewer against a real GL context (Mesa's software renderer under Xvfb
// in CI): the state and textures set-up leaves, the projection, the camera
// transform, and a frame of the display list against the computed strips.
#include "sample_images.h"
#include "support.h"
#include "surface.h"
#include "textures.h"
#include "viewer.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class Gl : public testing::Test {
protected:
    // The sample images, but a normal image of another size than the
    // displacement image, which set-up reads before it.
    static void SetUpTestSuite()
    {
        openTestWindow();
        enterTemporaryFolder(true);
        const unsigned char blue[6] = {0, 0, 255, 0, 0, 200};
        writeFile("texture/normal.tga", encodeTga(2, 1, blue));
        initScene();
        reshape(700, 700);
    }
};

// What GL reports for each name in turn, each a value or `each` values.
template <typename T>
std::vector<T> got(void (*get)(GLenum, T*), std::initializer_list<GLenum> names, size_t each = 1)
{
    std::vector<T> values(names.size() * each);
    for (size_t n = 0; n < names.size(); ++n)
        get(names.begin()[n], &values[n * each]);
    return values;
}

TEST_F(Gl, SetUpLeavesTheFixedStateAndThreeTextures)
{
    EXPECT_EQ(got(glGetIntegerv, {GL_DEPTH_FUNC, GL_SHADE_MODEL, GL_TEXTURE_BINDING_2D}),
              (std::vector<GLint>{GL_LEQUAL, GL_SMOOTH, GLint(normalTexture)}));  // the texture made last stays bound
    for (GLenum on : {GL_DEPTH_TEST, GL_LIGHTING, GL_LIGHT0, GL_TEXTURE_2D})
        EXPECT_TRUE(glIsEnabled(on)) << std::hex << on;
    for (GLenum off : {GL_CULL_FACE, GL_BLEND, GL_NORMALIZE, GL_COLOR_MATERIAL})
        EXPECT_FALSE(glIsEnabled(off)) << std::hex << off;
    EXPECT_EQ(got(glGetFloatv, {GL_COLOR_CLEAR_VALUE}, 4), std::vector<GLfloat>(4, 1.0f));
    EXPECT_EQ(got(glGetFloatv, {GL_DEPTH_CLEAR_VALUE}), std::vector<GLfloat>{1.0f});
    GLint environment = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &environment);
    EXPECT_EQ(environment, GL_MODULATE);

    // Each texture holds its kept pixels at their own size; the relief reads
    // the displacement image with its own width, not the normal image's.
    EXPECT_EQ(displaceWidth, 512);
    const std::tuple<GLuint, const PixelBuffer*, GLint, GLint> textures[] = {
        {colorTexture, colorPixels, 512, 512}, {displaceTexture, displacePixels, 512, 512}, {normalTexture, normalPixels, 2, 1}};
    for (const auto& [name, pixels, width, height] : textures) {
        glBindTexture(GL_TEXTURE_2D, name);
        auto level = [](GLenum parameter, GLint* value) { glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, parameter, value); };
        auto texture = [](GLenum parameter, GLint* value) { glGetTexParameteriv(GL_TEXTURE_2D, parameter, value); };
        EXPECT_EQ(got<GLint>(level, {GL_TEXTURE_WIDTH, GL_TEXTURE_HEIGHT, GL_TEXTURE_INTERNAL_FORMAT}),
                  (std::vector<GLint>{width, height, GL_RGBA}));
        EXPECT_EQ(got<GLint>(texture, {GL_TEXTURE_MAG_FILTER, GL_TEXTURE_MIN_FILTER, GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T}),
                  (std::vector<GLint>{GL_LINEAR, GL_LINEAR, GL_REPEAT, GL_REPEAT}));
        std::vector<unsigned char> texels(size_t(width) * height * 4);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        EXPECT_TRUE(std::equal(texels.begin(), texels.end(), pixels)) << name;
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Gl, ProjectionKeepsFortyFiveDegreesAtAnySize)
{
    // A zero width or height counts as one pixel.
    for (const auto& [width, height, aspect] : {std::make_tuple(1000, 500, 2.0), std::make_tuple(300, 0, 300.0),
                                                std::make_tuple(0, 0, 1.0)}) {
        reshape(width, height);
        const std::vector<GLfloat> m = got(glGetFloatv, {GL_PROJECTION_MATRIX}, 16);
        EXPECT_EQ(got(glGetIntegerv, {GL_MATRIX_MODE}), std::vector<GLint>{GL_MODELVIEW});
        const double f = 1 / std::tan(M_PI / 8);
        EXPECT_NEAR(m[0], f / aspect, 1e-6);
        EXPECT_NEAR(m[5], f, 1e-6);
    }
    reshape(700, 700);
}

// The pixels of one frame as display() draws it from the given list.
std::vector<unsigned char> frame(GLuint list)
{
    std::vector<unsigned char> pixels(700 * 700 * 3);
    std::swap(surfaceList, list);
    glBindTexture(GL_TEXTURE_2D, normalTexture);  // the list binds its own
    display();
    std::swap(surfaceList, list);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 700, 700, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

TEST_F(Gl, FrameIsTheComputedStripsSeenThroughTheCamera)
{
    // The same strips drawn from arrays: texture coordinate, normal and
    // position of every vertex, after the colour texture is bound.
    const GLuint computed = glGenLists(1);
    std::vector<StripVertex> strip(STRIP_VERTICES);
    glInterleavedArrays(GL_T2F_N3F_V3F, 0, strip.data());
    glNewList(computed, GL_COMPILE);
    glBindTexture(GL_TEXTURE_2D, colorTexture);
    for (int e = 0; e < GRID_STEPS; ++e) {
        computeStrip(e, strip.data());
        glDrawArrays(GL_TRIANGLE_STRIP, 0, STRIP_VERTICES);
    }
    glEndList();
    cameraOffset = {0.3f, -0.5f, 8};
    cameraAngles = {30, 40, 0};
    const std::vector<unsigned char> drawn = frame(surfaceList);
    EXPECT_TRUE(drawn == frame(computed));
    const long white = std::count(drawn.begin(), drawn.end(), 255);
    EXPECT_TRUE(white > 700 * 700 && white < 700 * 700 * 3 * 8 / 10) << white << " bytes of 255: no dome on white";

    // The camera moves back by the offset, then turns about x, then about y:
    // T * Rx * Ry, column by column. The light stays put in eye coordinates.
    const double sa = 0.5, ca = std::sqrt(0.75), sb = std::sin(M_PI * 2 / 9), cb = std::cos(M_PI * 2 / 9);
    const double camera[16] = {cb, sa * sb, -ca * sb, 0, 0, ca, sa, 0, sb, -sa * cb, ca * cb, 0, -0.3, 0.5, -8, 1};
    const std::vector<GLfloat> m = got(glGetFloatv, {GL_MODELVIEW_MATRIX}, 16);
    for (int n = 0; n < 16; ++n)
        EXPECT_NEAR(m[n], camera[n], 1e-6) << n;
    auto light = [](GLenum parameter, GLfloat* value) { glGetLightfv(GL_LIGHT0, parameter, value); };
    EXPECT_EQ(got<GLfloat>(light, {GL_POSITION}, 4), (std::vector<GLfloat>{0, 0, 10, 1}));
}

}  // namespace
