#pragma once

// What the test programs share: temporary folders, file bytes, hand-made TGA
// headers, shell commands with their output, and the viewer's GL window.

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;
Bytes operator+(Bytes a, const Bytes& b);

// An 18-byte TGA header with the given type, size and depth; the rest 0.
Bytes tgaHeader(int type, int width, int height, int depth);

void writeFile(const std::string& path, const Bytes& bytes);
std::string readFile(const std::string& path);

// Makes a new temporary folder the working directory; with samples, its
// texture/ holds the sample images. The folders go when the program exits.
void enterTemporaryFolder(bool samples);

// A shell command run in the working directory, its output captured outside it.
struct Outcome {
    int status = -1;
    std::string out, err;
};
Outcome runCommand(const std::string& command);

// Opens the viewer's 700 x 700 double-buffered RGBA window with a depth
// buffer at (250, 250), once, for a real GL context. Needs an X display.
void openTestWindow();
