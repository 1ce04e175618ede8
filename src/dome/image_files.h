#pragma once

// The dome's images as files: their names, which of the kinds there is
// read, and a height image read as the surface reads it. No GL and none of
// the viewer's state: every program and the web page's module use these.

#include "image.h"    // Required for: ImageRead, how the images named here are read
#include "surface.h"  // Required for: Displacement, the form the surface reads heights in

#include <string>

// The images, relative to the working directory: a TGA that is there is
// read, else the first there of the other kinds, in this order.
constexpr const char* COLOR_FILE = "texture/color.tga";
constexpr const char* DISPLACE_FILE = "texture/displace.tga";
constexpr const char* NORMAL_FILE = "texture/normal.tga";
constexpr const char* IMAGE_EXTENSIONS[] = {".tga", ".png", ".jpg", ".tif", ".exr", ".webp"};

// The first of file (a name ending in .tga) and the same name with the
// other IMAGE_EXTENSIONS that is there, in any form (a FIFO or an unreadable file counts);
// file itself when none is.
const char* chosenImageFile(const char* file);

// The line refusing heights that were read but give no relief ("REASON;
// there is no relief to USE"); empty when they give some, or were not read
// at all (their reader has said why).
std::string noReliefLine(const Displacement& heights, const char* use);

// image's pixels, 16-bit red channel, float heights and size (none and
// 0 x 0 when it was not read), at scale; image keeps owning them and must outlive the result.
Displacement displacementOf(const ImageRead& image, float scale);

// The line said of a colour image of width x height named name that GL
// cannot take as a texture, its largest side being largest.
std::string textureTooLarge(const std::string& name, int width, int height, int largest);
