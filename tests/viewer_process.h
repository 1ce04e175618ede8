#pragma once

#include <string>
#include <vector>

// Runs the real viewer binary as a user would, in a folder of the test's
// choosing, on the X display the tests run under.
struct ViewerRun {
    std::string out;                   // everything printed on standard output
    std::string err;                   // everything printed on standard error
    bool stillRunning = false;         // alive when the run was cut off
    bool drewFrame = false;            // its window showed a frame
    long peakResidentKb = 0;           // VmHWM just before it was stopped
    std::vector<unsigned char> frame;  // 700 x 700 RGB, bottom row first; empty if not taken
};

// Starts the viewer in workDir, lets it draw for `seconds` after its first
// frame is on the screen, optionally reads its window back, then stops it.
// Running as root, the viewer is started without root's power to read any
// file, so a file without read permission stops it as it stops a user.
ViewerRun runViewer(const std::string& workDir, double seconds, bool readFrame);

// False when the viewer cannot be started without that power (as root in a
// sandbox that keeps it): it then reads files whatever their permissions.
bool viewerHonoursPermissions();

// A fresh empty folder under the system's temporary directory.
std::string makeTempDir();

// Runs a shell command; true when it exits with status 0.
bool shell(const std::string& command);
