#include "viewer_process.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr int WINDOW_X = 250, WINDOW_Y = 250, WINDOW_SIZE = 700;

// Set-up takes seconds (longer in the sanitizer build); a viewer that has
// shown nothing by then is stuck.
constexpr double FIRST_FRAME_LIMIT = 60.0;

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

// True while the top-left corner of the viewer's window area shows the clear
// colour: a frame is on the screen. Xvfb's root window is a black and white
// stipple, never a white row.
bool frameShown(Display* display)
{
    XImage* image = XGetImage(display, DefaultRootWindow(display), WINDOW_X, WINDOW_Y, 16, 1,
                              AllPlanes, ZPixmap);
    if (!image)
        return false;
    const unsigned long white = image->red_mask | image->green_mask | image->blue_mask;
    bool shown = true;
    for (int x = 0; x < 16; ++x)
        shown = shown && (XGetPixel(image, x, 0) & white) == white;
    XDestroyImage(image);
    return shown;
}

// Gives up root's power to read and search any file, for this process and
// what it executes. True when it is gone (or was never there).
bool dropReadOverride()
{
    if (geteuid() != 0)
        return true;
    const int capabilities[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH};
    for (int capability : capabilities)
        if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0)
            return false;
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    for (int capability : capabilities) {
        const unsigned bit = 1u << (capability % 32);
        data[capability / 32].effective &= ~bit;
        data[capability / 32].permitted &= ~bit;
        data[capability / 32].inheritable &= ~bit;
    }
    return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

bool viewerHonoursPermissions()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(dropReadOverride() ? 0 : 1);
    int status = 1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string makeTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/viewer-test-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

ViewerRun runViewer(const std::string& workDir, double seconds, bool readFrame)
{
    using Clock = std::chrono::steady_clock;
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };
    Display* display = XOpenDisplay(nullptr);
    // The window of the run before may take a moment to go.
    for (auto end = Clock::now() + std::chrono::seconds(5); display && frameShown(display) && Clock::now() < end;)
        pause();

    const std::string outPath = workDir + "/.stdout", errPath = workDir + "/.stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workDir.c_str()) != 0)
            _exit(127);
        dropReadOverride();  // where it cannot, viewerHonoursPermissions() says so
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execl(VIEWER_BINARY, VIEWER_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }

    ViewerRun run;
    int status = 0;
    bool exited = false;
    auto deadline = Clock::now() + std::chrono::duration<double>(FIRST_FRAME_LIMIT);
    while (!exited && Clock::now() < deadline) {
        exited = waitpid(pid, &status, WNOHANG) == pid;
        if (!run.drewFrame && display && frameShown(display)) {
            run.drewFrame = true;
            deadline = Clock::now() + std::chrono::duration<double>(seconds);
        }
        pause();
    }
    if (!exited) {
        run.stillRunning = true;
        run.peakResidentKb = peakResident(pid);
        if (readFrame)
            run.frame = grabWindow();
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    if (display)
        XCloseDisplay(display);
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    return run;
}
