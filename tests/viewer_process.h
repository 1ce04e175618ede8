#pragma once

#include <string>
#include <vector>

// Runs the real viewer binary as a user would, in a folder of the test's
// choosing, on the X display the tests run under.
struct ViewerRun {
    std::string out;                   // everything printed on standard output
    std::string err;                   // everything printed on standard error
    bool stillRunning = false;         // alive when the run was cut off
    long peakResidentKb = 0;           // VmHWM just before it was stopped
    std::vector<unsigned char> frame;  // 700 x 700 RGB, bottom row first; empty if not taken
};

// Starts the viewer in workDir, lets it draw for `seconds` after its set-up
// has printed what it prints, optionally reads its window back, then stops it.
ViewerRun runViewer(const std::string& workDir, double seconds, bool readFrame);

// A fresh empty folder under the system's temporary directory.
std::string makeTempDir();

// Runs a shell command; true when it exits with status 0.
bool shell(const std::string& command);
