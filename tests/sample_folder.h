#pragma once

#include <string>

// Makes a new temporary folder the working directory and returns its path;
// with samples, its texture/ holds the sample images the viewer reads. The
// folders are removed when the test program exits.
std::string enterTemporaryFolder(bool samples);
