#include "textures.h"

#include "command_line.h"  // Required for: report()
#include "image_files.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>

unsigned int colorTexture = 0;
unsigned int displaceTexture = 0;
unsigned int normalTexture = 0;

void makeTexture(unsigned int& textureName, const char* fileName, const ImageRead& image)
{
    // A file that cannot be read still gets its texture: no data, and the
    // size published for the image read before it (0 x 0 when none was). So
    // does an image larger than GL takes, but its size is published all the
    // same: the displacement reads its pixels without GL.
    int width = imageWidth;
    int height = imageHeight;
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    const bool taken = image.pixels && image.width <= largest && image.height <= largest;
    if (image.pixels && !taken)
        std::fprintf(stderr, "%s\n", textureTooLarge(fileName, image.width, image.height, largest).c_str());
    if (image.pixels) {
        imageWidth = image.width;
        imageHeight = image.height;
    }
    if (taken) {
        width = image.width;
        height = image.height;
    } else if (width > largest || height > largest) {
        width = height = 0;  // the size before was too large as well: GL would refuse it
    }
    glDeleteTextures(1, &textureName);  // name 0 is ignored
    glGenTextures(1, &textureName);
    glBindTexture(GL_TEXTURE_2D, textureName);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);  // lit colour x texture
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 taken ? image.pixels.get() : nullptr);
}

void createTexture(unsigned int& textureName, const char* fileName, PixelBuffer*& pixels)
{
    ImageRead image = loadImage(fileName, false);
    makeTexture(textureName, fileName, image);
    pixels = image.pixels.release();
}

bool createTextures(const ViewerStart& start)
{
    colorFile = start.colorFile ? start.colorFile : chosenImageFile(COLOR_FILE);
    displaceFile = start.displaceFile ? start.displaceFile : chosenImageFile(DISPLACE_FILE);
    createTexture(colorTexture, colorFile, colorPixels);
    ImageRead displacement = loadImage(displaceFile, true);
    makeTexture(displaceTexture, displaceFile, displacement);
    keepDisplacement(displacement);
    createTexture(normalTexture, chosenImageFile(NORMAL_FILE), normalPixels);
    // What start names must be read, and its heights give relief.
    const std::string refusal = start.displaceFile ? noReliefLine(viewerDisplacement(), "draw") : "";
    if (!refusal.empty())
        report(start.displaceFile, "%s", refusal.c_str());
    return !(start.colorFile && !colorPixels) && !(start.displaceFile && !displacementAvailable(viewerDisplacement()));
}
