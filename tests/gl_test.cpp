// The viewer against a real GL context: the fixed state set-up leaves, the
// vertices the display list really holds, the projection and a drawn frame.
#include "gl_window.h"
#include "sample_folder.h"
#include "surface.h"
#include "viewer.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

class GlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        openTestWindow();
        // The list binds the colour texture; the sample images make it complete.
        enterTemporaryFolder(true);
        initScene();
        reshape(700, 700);
    }
};

TEST_F(GlTest, InitSceneSetsTheFixedState)
{
    GLint depthFunc = 0, shadeModel = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetIntegerv(GL_SHADE_MODEL, &shadeModel);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
    EXPECT_EQ(shadeModel, GL_SMOOTH);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    for (GLenum off : {GL_CULL_FACE, GL_BLEND, GL_NORMALIZE, GL_COLOR_MATERIAL})
        EXPECT_FALSE(glIsEnabled(off)) << std::hex << off;

    GLfloat clear[4] = {0, 0, 0, 0};
    GLfloat clearDepth = 0;
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &clearDepth);
    for (float c : clear)
        EXPECT_EQ(c, 1.0f);
    EXPECT_EQ(clearDepth, 1.0f);
    EXPECT_TRUE(glIsList(surfaceList));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// One corner of a triangle as GL_3D_COLOR_TEXTURE feedback reports it:
// window x, y, z, colour (4), texture coordinate (4).
constexpr size_t FEEDBACK_VERTEX = 11;
constexpr size_t FEEDBACK_TRIANGLE = 2 + 3 * FEEDBACK_VERTEX;

// Plays the list in feedback mode and returns the floats GL reports. The
// projection scales by 1/4 (exact) so the whole dome stays inside the clip
// volume, and the viewport maps normalised coordinates to window coordinates
// with scale 1 and offset 0, so what comes back is the recorded vertex / 4.
std::vector<GLfloat> feedback(const GLfloat projection[16], bool normalsAsTexCoords)
{
    // Room for every strip triangle and the joins GL may add between strips.
    const size_t triangles = size_t(GRID_STEPS) * (STRIP_VERTICES + 8);
    std::vector<GLfloat> buffer(triangles * FEEDBACK_TRIANGLE);

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadMatrixf(projection);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glViewport(-1, -1, 2, 2);
    glDisable(GL_LIGHTING);
    GLuint texture = 0;
    if (normalsAsTexCoords) {
        // Eye-space normal as texture coordinate: with an identity
        // model-view that is the recorded normal itself. GL generates
        // coordinates only on a unit with a complete texture.
        const GLubyte texel[4] = {255, 255, 255, 255};
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
        for (GLenum coord : {GL_S, GL_T, GL_R})
            glTexGeni(coord, GL_TEXTURE_GEN_MODE, GL_NORMAL_MAP);
        glEnable(GL_TEXTURE_GEN_S);
        glEnable(GL_TEXTURE_GEN_T);
        glEnable(GL_TEXTURE_GEN_R);
    }

    glFeedbackBuffer(GLsizei(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
    glRenderMode(GL_FEEDBACK);
    glCallList(surfaceList);
    const GLint used = glRenderMode(GL_RENDER);

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
    glDeleteTextures(1, &texture);

    buffer.resize(used < 0 ? 0 : size_t(used));
    return buffer;
}

bool sameVertex(const StripVertex& a, const StripVertex& b)
{
    return a.s == b.s && a.t == b.t && a.nx == b.nx && a.ny == b.ny && a.nz == b.nz &&
           a.x == b.x && a.y == b.y && a.z == b.z;
}

// Reads back what the list holds, one StripVertex per triangle corner. Only
// window x comes back exactly (GL flips window y and scales depth), so each
// coordinate is moved into x in a pass of its own.
std::vector<StripVertex> recordedCorners()
{
    const GLfloat xToX[16] = {0.25f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 1};
    const GLfloat yToX[16] = {0, 0.25f, 0, 0, 0.25f, 0, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 1};
    const GLfloat zToX[16] = {0, 0, 0.25f, 0, 0, 0.25f, 0, 0, 0.25f, 0, 0, 0, 0, 0, 0, 1};
    std::vector<StripVertex> corners;
    for (int pass = 0; pass < 3; ++pass) {
        const std::vector<GLfloat> raw = feedback(pass == 0 ? xToX : pass == 1 ? yToX : zToX, pass == 1);
        const size_t count = raw.size() / FEEDBACK_TRIANGLE * 3;
        if (pass == 0)
            corners.resize(count);
        if (corners.size() != count || raw.size() % FEEDBACK_TRIANGLE != 0)
            return {};
        for (size_t n = 0; n < count; ++n) {
            const size_t triangle = n / 3 * FEEDBACK_TRIANGLE;
            if (raw[triangle] != GLfloat(GL_POLYGON_TOKEN) || raw[triangle + 1] != 3.0f)
                return {};
            const GLfloat* v = &raw[triangle + 2 + n % 3 * FEEDBACK_VERTEX];
            StripVertex& c = corners[n];
            if (pass == 0) {
                c.x = v[0] * 4;
                c.s = v[7];
                c.t = v[8];
            } else if (pass == 1) {
                c.y = v[0] * 4;
                c.nx = v[7];
                c.ny = v[8];
                c.nz = v[9];
            } else {
                c.z = v[0] * 4;
            }
        }
    }
    return corners;
}

TEST_F(GlTest, DisplayListHoldsTheComputedStrips)
{
    const std::vector<StripVertex> corners = recordedCorners();
    ASSERT_FALSE(corners.empty());

    // GL may join the strips into one with zero-area triangles between them;
    // those repeat a vertex and are passed over. Every other triangle must be
    // the next one of the computed strips, as the same three vertices (GL may
    // reorder the corners of alternate triangles).
    std::vector<StripVertex> strip(STRIP_VERTICES);
    int e = -1, k = STRIP_VERTICES - 3;
    size_t mismatches = 0;
    for (size_t at = 0; at < corners.size(); at += 3) {
        const StripVertex* triangle = &corners[at];
        if (sameVertex(triangle[0], triangle[1]) || sameVertex(triangle[1], triangle[2]) ||
            sameVertex(triangle[0], triangle[2]))
            continue;

        if (++k == STRIP_VERTICES - 2) {
            k = 0;
            ASSERT_LT(++e, GRID_STEPS) << "more triangles than strips";
            computeStrip(e, strip.data());
        }
        bool seen[3] = {false, false, false};
        for (int c = 0; c < 3; ++c)
            for (int m = 0; m < 3; ++m)
                if (!seen[m] && sameVertex(triangle[c], strip[k + m])) {
                    seen[m] = true;
                    break;
                }
        if (!(seen[0] && seen[1] && seen[2]) && ++mismatches <= 5)
            ADD_FAILURE() << "strip " << e << " triangle " << k << " differs";
    }
    EXPECT_EQ(e, GRID_STEPS - 1);
    EXPECT_EQ(k, STRIP_VERTICES - 3);
    EXPECT_EQ(mismatches, 0u);
}

TEST_F(GlTest, ReshapeSetsTheFortyFiveDegreePerspective)
{
    const int sizes[][2] = {{700, 700}, {1000, 500}, {300, 0}, {0, 0}, {1, 1}};
    for (const auto& size : sizes) {
        reshape(size[0], size[1]);
        GLfloat m[16];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW);

        const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
        const double aspect = double(size[0] > 0 ? size[0] : 1) / (size[1] > 0 ? size[1] : 1);
        const double nearPlane = 0.1, farPlane = 100.0;
        const double expected[16] = {f / aspect, 0, 0, 0, 0, f, 0, 0,
                                     0, 0, (farPlane + nearPlane) / (nearPlane - farPlane), -1,
                                     0, 0, 2 * farPlane * nearPlane / (nearPlane - farPlane), 0};
        for (int n = 0; n < 16; ++n) {
            EXPECT_TRUE(std::isfinite(m[n]));
            EXPECT_NEAR(m[n], expected[n], 1e-5 * (1 + std::fabs(expected[n])))
                << size[0] << " x " << size[1] << " element " << n;
        }
    }
    reshape(700, 700);
}

TEST_F(GlTest, FrameShowsTheLitDomeOnWhite)
{
    reshape(700, 700);
    pumpEvents(50);
    display();
    glFinish();
    GLfloat modelView[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    const GLfloat translation[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -10, 1};
    for (int n = 0; n < 16; ++n)
        EXPECT_EQ(modelView[n], translation[n]) << n;

    std::vector<unsigned char> pixels(700 * 700 * 3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 700, 700, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    auto pixel = [&](int x, int y) { return &pixels[(size_t(y) * 700 + x) * 3]; };
    auto white = [&](int x, int y) {
        const unsigned char* p = pixel(x, y);
        return p[0] == 255 && p[1] == 255 && p[2] == 255;
    };

    // Corners of the window and everything below the horizon are background.
    for (int x : {0, 699})
        for (int y : {0, 699})
            EXPECT_TRUE(white(x, y)) << x << ", " << y;
    EXPECT_TRUE(white(350, 360));
    // Seen from its own base height, the dome spans from the underside below
    // its near border (about 50 pixels above the centre) to its top (about
    // 175 pixels above).
    for (int y : {420, 470, 510})
        EXPECT_FALSE(white(350, y)) << "centre column at " << y;
    EXPECT_TRUE(white(350, 560));
    // Smoothly lit and symmetric about the vertical axis.
    const unsigned char* left = pixel(250, 470);
    const unsigned char* right = pixel(450, 470);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(left[c], right[c], 2);
    EXPECT_FALSE(white(250, 470));
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
