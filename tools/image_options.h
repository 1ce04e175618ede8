#pragma once

// The options dispdome-export and dispdome-render share, each with one
// meaning, one refusal and one help text: the colour and height images read
// in place of texture/'s, and the normals the surface has.

#include "command_line.h"
#include "surface.h"

#include <string>
#include <vector>

struct ImageOptions {
    // Null: looked up in texture/ as the viewer does; a file named must be
    // read.
    const char* color = nullptr;
    const char* displacement = nullptr;
    SurfaceNormals normals;
};

// --color FILE, --displacement FILE and --normals KIND, taken into chosen,
// for readCommandLine. A file's name missing or empty is refused with
// "<program>: --color needs a file name (see --help)".
std::vector<Option> imageOptions(const char* program, ImageOptions& chosen);

// Their lines of a usage, the descriptions from its 21st column, and
// byDefault named as the normals' default.
std::string imageOptionsUsage(SurfaceNormals byDefault);
