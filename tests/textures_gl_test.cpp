// The three textures against a real GL context: what set-up makes of the
// sample images, of a missing texture/ folder and of a rejected file, and the
// colour image lying on the drawn dome.
#include "gl_window.h"
#include "sample_folder.h"
#include "sample_images.h"
#include "surface.h"
#include "textures.h"
#include "tga.h"
#include "viewer.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

struct LevelZero {
    GLint width = -1, height = -1, format = -1;
};

// Level 0 of a texture, and its filters and wraps checked against the
// viewer's choice.
LevelZero inspect(GLuint texture)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    LevelZero level;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &level.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &level.height);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &level.format);
    const GLenum parameters[4][2] = {{GL_TEXTURE_MAG_FILTER, GL_LINEAR},
                                     {GL_TEXTURE_MIN_FILTER, GL_LINEAR},
                                     {GL_TEXTURE_WRAP_S, GL_REPEAT},
                                     {GL_TEXTURE_WRAP_T, GL_REPEAT}};
    for (const auto& parameter : parameters) {
        GLint value = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, parameter[0], &value);
        EXPECT_EQ(GLenum(value), parameter[1]) << "texture " << texture << " parameter " << std::hex << parameter[0];
    }
    return level;
}

std::string loadingLines(const char* file, int width, int height)
{
    return std::string("[Texture Loading] : ") + file + "\nwidth: " + std::to_string(width) +
           ", height: " + std::to_string(height) + "\n";
}

// Draws one frame and returns the RGB pixels of the 700 x 700 window.
std::vector<unsigned char> drawFrame()
{
    reshape(700, 700);
    display();
    glFinish();
    std::vector<unsigned char> pixels(700 * 700 * 3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 700, 700, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

const unsigned char* pixelAt(const std::vector<unsigned char>& frame, int x, int y)
{
    return &frame[(size_t(y) * 700 + x) * 3];
}

// ---------------------------------------------------------------- sample images

class SampleTextures : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        openTestWindow();
        enterTemporaryFolder(true);
        CaptureStdout();
        initScene();
        console = GetCapturedStdout();
    }

    static std::string console;
};

std::string SampleTextures::console;

TEST_F(SampleTextures, ThreeTexturesInOrderWithTheirParameters)
{
    EXPECT_EQ(console, loadingLines("texture/color.tga", 512, 512) + loadingLines("texture/displace.tga", 512, 512) +
                           loadingLines("texture/normal.tga", 512, 512));
    // The list only records its binding, so the texture made last stays bound.
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), normalTexture);

    GLint mode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    EXPECT_EQ(mode, GL_MODULATE);
    EXPECT_NE(colorTexture, displaceTexture);
    EXPECT_NE(displaceTexture, normalTexture);
    for (GLuint texture : {colorTexture, displaceTexture, normalTexture}) {
        EXPECT_TRUE(glIsTexture(texture)) << texture;
        const LevelZero level = inspect(texture);
        EXPECT_EQ(level.width, 512);
        EXPECT_EQ(level.height, 512);
        EXPECT_EQ(level.format, GL_RGBA);
    }
    EXPECT_EQ(displaceWidth, 512);
    EXPECT_EQ(displaceHeight, 512);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(SampleTextures, TexturesHoldTheKeptPixelsOfTheImages)
{
    const SampleImages images = makeSampleImages();
    const std::vector<unsigned char>* sources[3] = {&images.color, &images.displace, &images.normal};
    const GLuint textures[3] = {colorTexture, displaceTexture, normalTexture};
    const PixelBuffer* kept[3] = {colorPixels, displacePixels, normalPixels};
    const size_t bytes = size_t(512) * 512 * 4;
    for (int k = 0; k < 3; ++k) {
        ASSERT_NE(kept[k], nullptr) << k;
        std::vector<unsigned char> expected;
        for (size_t n = 0; n < sources[k]->size(); n += 3)
            expected.insert(expected.end(), {(*sources[k])[n], (*sources[k])[n + 1], (*sources[k])[n + 2], 255});
        EXPECT_TRUE(std::vector<unsigned char>(kept[k], kept[k] + bytes) == expected) << k;

        std::vector<unsigned char> texels(bytes);
        glBindTexture(GL_TEXTURE_2D, textures[k]);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        EXPECT_TRUE(texels == expected) << k;
    }
}

TEST_F(SampleTextures, DomeShowsTheColourImage)
{
    // Any binding left over is replaced by the list's own.
    glBindTexture(GL_TEXTURE_2D, 0);
    const std::vector<unsigned char> sample = drawFrame();
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), colorTexture);
    for (int y : {420, 470, 510}) {
        const unsigned char* p = pixelAt(sample, 350, y);
        EXPECT_FALSE(p[0] == 255 && p[1] == 255 && p[2] == 255) << y;
    }

    // Lit colour times texture: a pure red or green image leaves only that
    // channel on the dome, and the white background as it is.
    const GLubyte colours[2][4] = {{255, 0, 0, 255}, {0, 255, 0, 255}};
    for (int k = 0; k < 2; ++k) {
        glBindTexture(GL_TEXTURE_2D, colorTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, colours[k]);
        const std::vector<unsigned char> frame = drawFrame();
        for (int y : {420, 470, 510}) {
            const unsigned char* p = pixelAt(frame, 350, y);
            EXPECT_GT(p[k], 40) << y;
            EXPECT_EQ(p[1 - k], 0) << y;
            EXPECT_EQ(p[2], 0) << y;
        }
        const unsigned char* corner = pixelAt(frame, 0, 0);
        EXPECT_EQ(corner[0] + corner[1] + corner[2], 3 * 255);
    }
    glBindTexture(GL_TEXTURE_2D, colorTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 512, 512, 0, GL_RGBA, GL_UNSIGNED_BYTE, colorPixels);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// ---------------------------------------------------------------- no images

class MissingTextures : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        openTestWindow();
        enterTemporaryFolder(false);
        imageWidth = imageHeight = 0;  // as at start, whatever ran before
        CaptureStdout();
        CaptureStderr();
        initScene();
        errors = GetCapturedStderr();
        console = GetCapturedStdout();
    }

    static std::string console, errors;
};

std::string MissingTextures::console, MissingTextures::errors;

TEST_F(MissingTextures, SceneStillBuildsWithEmptyTextures)
{
    EXPECT_EQ(console, "");
    // A missing file is not an error of the reader; the surface says what it
    // does without the displacement image.
    EXPECT_EQ(errors, "texture/displace.tga: not loaded; the surface is drawn without relief\n");
    EXPECT_TRUE(glIsList(surfaceList));
    for (GLuint texture : {colorTexture, displaceTexture, normalTexture}) {
        EXPECT_TRUE(glIsTexture(texture)) << texture;
        const LevelZero level = inspect(texture);
        EXPECT_EQ(level.width, 0);
        EXPECT_EQ(level.height, 0);
    }
    EXPECT_EQ(colorPixels, nullptr);
    EXPECT_EQ(displacePixels, nullptr);
    EXPECT_EQ(normalPixels, nullptr);
    EXPECT_EQ(displaceWidth, 0);
    EXPECT_EQ(displaceHeight, 0);

    // The dome is drawn, lit and untextured.
    const std::vector<unsigned char> frame = drawFrame();
    const unsigned char* p = pixelAt(frame, 350, 470);
    EXPECT_FALSE(p[0] == 255 && p[1] == 255 && p[2] == 255);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(MissingTextures, RejectedImageGetsATextureLikeAMissingOne)
{
    enterTemporaryFolder(true);
    std::filesystem::remove("texture/normal.tga");
    std::filesystem::remove("texture/displace.tga");
    const unsigned char sixteenBits[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 16, 0};
    std::ofstream("texture/displace.tga", std::ios::binary).write(reinterpret_cast<const char*>(sixteenBits), 18);
    imageWidth = imageHeight = 0;

    CaptureStdout();
    CaptureStderr();
    createTextures();
    EXPECT_EQ(GetCapturedStderr(), "texture/displace.tga: 16-bit pixels are not supported (only 24 and 32)\n");
    EXPECT_EQ(GetCapturedStdout(),
              loadingLines("texture/color.tga", 512, 512) + loadingLines("texture/displace.tga", 512, 512));

    EXPECT_NE(colorPixels, nullptr);
    EXPECT_EQ(displacePixels, nullptr);
    EXPECT_EQ(normalPixels, nullptr);
    EXPECT_EQ(displaceWidth, 0);
    EXPECT_EQ(displaceHeight, 0);
    // Both get the size read last: the colour image's.
    for (GLuint texture : {displaceTexture, normalTexture}) {
        const LevelZero level = inspect(texture);
        EXPECT_EQ(level.width, 512);
        EXPECT_EQ(level.height, 512);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
