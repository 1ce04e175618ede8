#include "viewer_process.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int WINDOW_X = 250, WINDOW_Y = 250, WINDOW_SIZE = 700;

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

long peakResident(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// The window as it is on the screen; no window manager runs under Xvfb, so
// it sits where the viewer asked.
std::vector<unsigned char> grabWindow()
{
    std::vector<unsigned char> rgb;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return rgb;
    XImage* image = XGetImage(display, DefaultRootWindow(display), WINDOW_X, WINDOW_Y,
                              WINDOW_SIZE, WINDOW_SIZE, AllPlanes, ZPixmap);
    if (image) {
        rgb.resize(size_t(WINDOW_SIZE) * WINDOW_SIZE * 3);
        for (int y = 0; y < WINDOW_SIZE; ++y)
            for (int x = 0; x < WINDOW_SIZE; ++x) {
                const unsigned long p = XGetPixel(image, x, WINDOW_SIZE - 1 - y);
                unsigned char* out = &rgb[(size_t(y) * WINDOW_SIZE + x) * 3];
                out[0] = (p & image->red_mask) >> 16;
                out[1] = (p & image->green_mask) >> 8;
                out[2] = p & image->blue_mask;
            }
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return rgb;
}

}  // namespace

std::string makeTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/viewer-test-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

ViewerRun runViewer(const std::string& workDir, double seconds, bool readFrame)
{
    const std::string outPath = workDir + "/.stdout", errPath = workDir + "/.stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workDir.c_str()) != 0)
            _exit(127);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execl(VIEWER_BINARY, VIEWER_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }

    ViewerRun run;
    // Set-up ends before the first frame; wait for the window to be mapped
    // (its first expose) by giving the viewer a moment after it goes quiet.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    bool exited = false;
    while (Clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!exited) {
        run.stillRunning = true;
        run.peakResidentKb = peakResident(pid);
        if (readFrame)
            run.frame = grabWindow();
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    return run;
}
