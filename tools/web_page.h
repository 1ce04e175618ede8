#pragma once

// The relief as one web page: the page, its script and its shaders (from
// web/, built in), the colour picture and the height samples the
// displacement reads, and the viewer's definitions (view.h, and the tables
// and nets buildSurfaceTables() fills), which the page takes from there
// alone. The page evaluates the surface in WebGL2 by them and draws and
// turns it as the viewer does; it loads nothing else.

#include "image.h"
#include "png_image.h"
#include "surface.h"

#include <cstddef>
#include <string>
#include <vector>

// The colour picture as the page carries it: an image file's bytes of type
// "image/png" or "image/jpeg", which the page turns by orientation (a
// JPEG's EXIF orientation, 1 to 8, as the reader turned it). No bytes: no
// picture, and the page draws the surface untextured.
struct PagePicture {
    std::vector<unsigned char> bytes;
    const char* type = "image/png";
    int orientation = 1;
};

// The smallest faithful form of the colour image colour read from file: a
// JPEG as its own bytes less its EXIF block (the page turns it itself,
// where a browser would go by the block), anything else as png encoded.
// None when png is null.
PagePicture pagePicture(const std::string& file, const ImageRead& colour, const PngPicture* png);

// Writes path, which appears only once complete, and sets bytes to its size:
// colorName is the file the picture came from, which the page names in its
// lines. The page's heights are rows and columns 0..DISPLACE_GRID_MAX of
// heights, at 16 bits when it has them, deflated, and its relief heights'
// scale. Needs displacementAvailable(heights) and buildSurfaceTables(). False
// after one line on standard error.
bool writeWebPage(const std::string& path, const PagePicture& picture, const std::string& colorName,
                  const Displacement& heights, size_t& bytes);
