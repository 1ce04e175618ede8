#pragma once

// The relief as one web page: the page, its script and its shaders (from
// web/, built in), the colour picture and the height samples the
// displacement reads, and the viewer's definitions (view.h, and the tables
// and nets buildSurfaceTables() fills), which the page takes from there
// alone. The page evaluates the surface in WebGL2 by them and draws and
// turns it as the viewer does; it loads nothing else.

#include <string>
#include <vector>

// Writes path, which appears only once complete: png is the colour picture
// as PNG, top row first (empty: none, and the page draws the surface
// untextured), colorName the file it came from, which the page names in its
// lines. The heights are the displacement image's rows and columns
// 0..DISPLACE_GRID_MAX, at 16 bits when the image has them, deflated. Needs
// displacementAvailable() and buildSurfaceTables(). False after one line on
// standard error.
bool writeWebPage(const std::string& path, const std::vector<unsigned char>& png, const std::string& colorName);
