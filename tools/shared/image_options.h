#pragma once

// The options dispdome-export and dispdome-render share, each with one
// meaning, one refusal and one help text: the colour and height images read
// in place of texture/'s, and the normals the surface has.

#include "command_line.h"
#include "surface.h"

#include <cstring>
#include <string>
#include <vector>

struct ImageOptions {
    // Null: looked up in texture/ as the viewer does; a file named must be
    // read.
    const char* color = nullptr;
    const char* displacement = nullptr;
    SurfaceNormals normals;
    bool normalsNamed = false;  // --normals was given
};

// --color FILE, --displacement FILE and --normals KIND, taken into chosen,
// for readCommandLine. A file's name missing or empty is refused with
// "<program>: --color needs a file name (see --help)".
std::vector<Option> imageOptions(const char* program, ImageOptions& chosen);

// Their lines of a usage, the descriptions from its 21st column, and
// byDefault named as the normals' default.
std::string imageOptionsUsage(SurfaceNormals byDefault);

// "A<separator>B": two parts each parsed whole.
template <typename Parse>
bool splitPair(const char* text, char separator, Parse parse)
{
    const char* middle = std::strchr(text, separator);
    return middle && parse(std::string(text, middle).c_str(), std::string(middle + 1).c_str());
}

// --light X,Y,Z, the light's position in eye coordinates, into light; and
// its lines of a usage, the viewer's light named as the default, then more.
Option lightOption(const char* program, Vector3& light);
std::string lightOptionUsage(const std::string& more = "");
