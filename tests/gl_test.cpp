// The viewer against a real GL context (Mesa's software renderer under Xvfb):
// the textures set-up makes, up to the limit GL gives, and the fixed state
// it sets; a frame of the display list, and one of
// dispdome-render, against the exported mesh drawn with a light and camera
// set by hand.
#include "support.h"
#include "textures.h"

TEST(Gl, TexturesHoldToGlsLimitAndTheListDrawsTheExportedSurface)
{
    // Mesa's llvmpipe, whatever GPU the machine has (the tests' environment
    // pins it, for GLX as for EGL): viewer_test compares the window with
    // dispdome-render's pictures, render_test those with llvmpipe's.
    openTestWindow();
    EXPECT_NE(std::string(reinterpret_cast<const char*>(glGetString(GL_RENDERER))).find("llvmpipe"), std::string::npos);
    // The sample images, but a normal image one pixel wider than GL takes,
    // as GL says here, and of another size than the displacement image,
    // which set-up reads before it: its texture gets that size and no data.
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    const std::string past = std::to_string(largest + 1), limit = std::to_string(largest) + " x " + std::to_string(largest);
    enterTemporaryFolder(true);
    writeFile("texture/normal.tga", tgaHeader(2, largest + 1, 1, 24) + Bytes(size_t(largest + 1) * 3, 7));
    testing::internal::CaptureStderr();
    initScene();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "texture/normal.tga: " + past + " x 1 is larger than GL takes as a texture here (" + limit + ")\n");
    reshape(700, 700);
    // A value GL holds; the bound texture's width or height.
    auto integer = [](auto read, auto... names) { GLint v = 0; return read(names..., &v), v; };
    auto size = [&](GLenum parameter) { return integer(glGetTexLevelParameteriv, GL_TEXTURE_2D, 0, parameter); };
    EXPECT_EQ(std::pair(size(GL_TEXTURE_WIDTH), size(GL_TEXTURE_HEIGHT)), std::pair(512, 512));  // the normal texture
    // An image taller than GL takes gets its line too; one as wide as GL
    // takes is laid as it is.
    PixelBuffer* pixels = nullptr;
    writeFile("tall.tga", tgaHeader(2, 1, largest + 1, 24) + Bytes(size_t(largest + 1) * 3, 7));
    writeFile("wide.tga", tgaHeader(2, largest, 1, 24) + Bytes(size_t(largest) * 3, 7));
    testing::internal::CaptureStderr();
    createTexture(normalTexture, "tall.tga", pixels);
    delete[] std::exchange(pixels, nullptr);
    createTexture(normalTexture, "wide.tga", pixels);
    delete[] pixels;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tall.tga: 1 x " + past + " is larger than GL takes as a texture here (" + limit + ")\n");
    EXPECT_EQ(std::pair(size(GL_TEXTURE_WIDTH), size(GL_TEXTURE_HEIGHT)), std::pair(largest, 1));
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
    glBindTexture(GL_TEXTURE_2D, normalTexture);  // the list binds its own
    display();
    std::string list(700 * 700 * 3, 0);
    glReadPixels(0, 0, 700, 700, GL_RGB, GL_UNSIGNED_BYTE, list.data());

    // Every piece of fixed state the viewer sets, and the defaults it keeps
    // (no material, the light model's, nothing culled, blended, normalised or
    // tracking the colour), as GL holds them after a frame: a picture cannot
    // tell them all apart. Light 0's position is in eye coordinates.
    using Four = std::array<GLfloat, 4>;
    auto floats = [](auto read, auto... names) { Four v{}; return read(names..., v.data()), v; };
    EXPECT_EQ(floats(glGetFloatv, GL_COLOR_CLEAR_VALUE), (Four{1, 1, 1, 1}));
    EXPECT_EQ(floats(glGetFloatv, GL_DEPTH_CLEAR_VALUE)[0], 1.0f);
    auto light = [&](GLenum name) { return floats(glGetLightfv, GL_LIGHT0, name); };
    auto material = [&](GLenum name) { return floats(glGetMaterialfv, GL_FRONT, name); };
    EXPECT_EQ(std::vector<Four>({light(GL_AMBIENT), light(GL_DIFFUSE), light(GL_SPECULAR), light(GL_POSITION)}),
              std::vector<Four>({{0.8f, 0.6f, 0.5f, 1}, {0.9f, 0.9f, 0.9f, 1}, {0.9f, 0.9f, 0.9f, 1}, {0, 0, 10, 1}}));
    EXPECT_EQ(std::vector<Four>({material(GL_AMBIENT), material(GL_DIFFUSE), material(GL_SPECULAR), material(GL_EMISSION)}),
              std::vector<Four>({{0.2f, 0.2f, 0.2f, 1}, {0.8f, 0.8f, 0.8f, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}}));
    EXPECT_EQ(material(GL_SHININESS)[0], 0.0f);
    EXPECT_EQ(floats(glGetFloatv, GL_LIGHT_MODEL_AMBIENT), (Four{0.2f, 0.2f, 0.2f, 1}));
    glBindTexture(GL_TEXTURE_2D, colorTexture);
    auto state = [&](GLenum name) { return integer(glGetIntegerv, name); };
    auto texture = [&](GLenum name) { return integer(glGetTexParameteriv, GL_TEXTURE_2D, name); };
    EXPECT_EQ(std::vector<GLint>({state(GL_DEPTH_FUNC), state(GL_SHADE_MODEL), texture(GL_TEXTURE_MAG_FILTER),
                                  texture(GL_TEXTURE_MIN_FILTER), texture(GL_TEXTURE_WRAP_S), texture(GL_TEXTURE_WRAP_T),
                                  integer(glGetTexEnviv, GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE),
                                  state(GL_LIGHT_MODEL_TWO_SIDE), state(GL_LIGHT_MODEL_LOCAL_VIEWER)}),
              std::vector<GLint>({GL_LEQUAL, GL_SMOOTH, GL_LINEAR, GL_LINEAR, GL_REPEAT, GL_REPEAT, GL_MODULATE, 0, 0}));
    std::string enabled;
    for (GLenum capability : {GL_DEPTH_TEST, GL_LIGHTING, GL_LIGHT0, GL_TEXTURE_2D, GL_CULL_FACE, GL_BLEND,
                              GL_NORMALIZE, GL_COLOR_MATERIAL, GL_LIGHT1})
        enabled += glIsEnabled(capability) ? '1' : '0';
    EXPECT_EQ(enabled, "111100000");

    // That frame of the list against its export with the viewer's normals.
    const GLfloat behind[4] = {0, 0, 10, 1}, side[4] = {-8, 3, 2, 1};
    const std::string exported = drawPly("--normals viewer", behind, {-0.3f, 0.5f, -8}, 30, 40, 700);
    EXPECT_EQ(unlike(exported, list, 0), 0u);

    // dispdome-render's own normals, light, pan and size against the mesh it
    // exports, drawn here from the PLY with the window's state: the light set
    // in eye coordinates, the camera moved, tilted and turned by hand.
    ASSERT_EQ(runCommand("'" RENDER_BINARY "' --normals displaced --light -8,3,2 --pan 0.3,0.4 --tilt 30 --turn 40 "
                         "--size 700x500 lit.png").status, 0);
    const std::string drawn = drawPly("", side, {0.3f, 0.4f, -10}, 30, 40, 500);
    EXPECT_LE(unlike(drawn, runCommand("convert lit.png -flip -depth 8 rgb:-").out, 2), 700u * 500 / 200);

    // The matrices the web page draws with are those the viewer's own GL
    // calls build, about all three axes, in a window wider than tall.
    auto farthest = [](GLenum name, const Matrix4& ours) {
        std::array<GLfloat, 16> gl{};
        glGetFloatv(name, gl.data());
        float most = 0;
        for (int k = 0; k < 16; ++k)
            most = std::max(most, std::fabs(gl[size_t(k)] - ours.m[k]));
        return most;
    };
    reshape(700, 500);
    cameraAngles = {30, 40, -25};
    glLoadIdentity();
    applyCamera();
    EXPECT_LT(farthest(GL_MODELVIEW_MATRIX, cameraModelView(cameraOffset, cameraAngles)), 1e-5f);
    EXPECT_LT(farthest(GL_PROJECTION_MATRIX, cameraProjection(700, 500)), 1e-6f);
}
