#pragma once

// The relief as one web page: the page, its script and its shaders (from
// web/, built in), the WebAssembly module of the desktop's own readers and
// surface (web/module.cpp), the colour and height images, and the viewer's
// definitions of the grid and the view (view.h), which the page takes from
// there alone. The page reads the images and evaluates the surface with the
// module, and draws and turns it in WebGL2 as the viewer does; it loads
// nothing else.

#include "image.h"
#include "png_image.h"
#include "surface.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// What the page is made of besides its markup (web/page.html): its parts
// by name (the style, the shaders, the scripts, the module's script), as
// "@INCLUDE name@" in the markup names them, and the module's WebAssembly,
// deflated, in base64.
struct WebPageParts {
    std::map<std::string, std::string> texts;
    std::string module;
};

// The parts this program writes pages with: built in (web_page_parts.cpp),
// or, in the page's own module, the page's (web/module.cpp). No module
// when it was built without one (no emscripten).
const WebPageParts& builtInPageParts();

// False when this program was built without the module: then no page can
// be written.
bool webModuleBuiltIn();

// size bytes in zlib's format at its best compression, in base64, as the
// page carries its module; empty when zlib fails.
std::string deflatedBase64(const unsigned char* bytes, size_t size);

// The colour image as the page carries it: an image file's bytes of type
// "png" or "jpeg", which the page reads as the desktop does. No bytes: no
// picture, and the page draws the surface untextured.
struct PagePicture {
    std::vector<unsigned char> bytes;
    const char* type = "png";
};

// The smallest faithful form of the colour image read from file, whose
// pixels png holds: a JPEG as its own bytes (its EXIF orientation with it),
// anything else as png encoded. None when png is null.
PagePicture pagePicture(const std::string& file, const PngPicture* png);

// How the page starts: its normals and its light (in eye coordinates).
struct PageStart {
    SurfaceNormals normals;
    Vector3 light;
};

// Writes path, which appears only once complete, and sets bytes to its size:
// colorName and heightsName are the files the images came from, which the
// page names in its lines. The heights go as the surface samples them
// (surfaceHeights(), which needs displacementAvailable()), as a grey PNG at
// 16 bits where 8 would lose any; the page's relief is heights' scale, and
// it starts as start says. False after one line on standard error.
bool writeWebPage(const std::string& path, const PagePicture& picture, const std::string& colorName,
                  const Displacement& heights, const std::string& heightsName, const PageStart& start,
                  size_t& bytes);
