// Times the viewer's real set-up and frames in a 700 x 700 GLUT window, and
// the floor beside it: the same vertices prebuilt in one array, compiled into
// a display list with one glDrawArrays per strip, or drawn from a vertex
// buffer each frame. Each measurement runs in a fresh process of its own so
// the peak memory figures stay apart; the medians over the runs come out as
// rows of a Markdown table.
//
//     viewer_timing [runs] [frames] [dispdome-render]      (default 5 runs of 10 frames)
//
// Given dispdome-render, each run also times it in the same folder as a
// whole process: a still, and a turntable of `frames` frames.
//
// Needs an X display (Xvfb will do). The working folder is a temporary one
// holding the sample images.
#define GL_GLEXT_PROTOTYPES  // Required for: the GL 1.5 buffer functions
#include "support.h"
#include "surface.h"
#include "surface_list.h"
#include "textures.h"
#include "viewer.h"

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <sys/wait.h>
#include <unistd.h>  // Required for: fork(), pipe(), dup2(), execl()

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Figures = std::map<std::string, double>;

constexpr size_t SURFACE_VERTICES = size_t(GRID_STEPS) * STRIP_VERTICES;
constexpr int RESULT_FD = 3;  // where a measuring process writes its figures

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of this thread, ms: GL compiles lists on the calling thread, so
// this leaves out what other processes on the machine took.
double threadMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Peak resident set of this process so far, MB.
double peakResidentMb()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = 0;
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1)
            break;
    if (status)
        std::fclose(status);
    return kb / 1024.0;
}

// Median time of a frame, each drawn to completion.
template <typename Frame>
double frameTime(int frames, Frame frame)
{
    std::vector<double> times;
    for (int n = 0; n < frames; ++n) {
        const Clock::time_point start = Clock::now();
        frame();
        glFinish();
        times.push_back(millisecondsSince(start));
    }
    return median(times);
}

// Once set up: memory so far, the first frame (counted from the start of
// set-up) and the steady frame, then memory with frames drawn.
template <typename Frame>
void firstAndSteadyFrames(Figures& f, Clock::time_point start, int frames, Frame frame)
{
    f["setupMemory"] = peakResidentMb();
    frame();
    glFinish();
    f["first"] = millisecondsSince(start);
    f["frame"] = frameTime(frames, frame);
    f["memory"] = peakResidentMb();
}

// The viewer: initScene's own steps in their order, each timed (with the
// CPU time of this thread, and GL finished), then the first frame as GLUT
// would draw it (reshape, display) and the steady frames.
Figures measureViewer(int frames)
{
    Figures f;
    const Clock::time_point start = Clock::now();
    for (const SetupStep& step : SETUP_STEPS) {
        const Clock::time_point stepStart = Clock::now();
        const double cpu = threadMilliseconds();
        step.run(ViewerStart{});
        glFinish();
        f[std::string(step.name) + "Cpu"] = threadMilliseconds() - cpu;
        f[step.name] = millisecondsSince(stepStart);
    }
    reshape(WINDOW_WIDTH, WINDOW_HEIGHT);  // as GLUT calls it before the first frame
    firstAndSteadyFrames(f, start, frames, display);
    return f;
}

// The floor's common part, not timed: initScene's steps but the last, the
// list recording (the viewer's state, tables, nets and textures), and all
// 2,099,200 vertices computed into one array.
std::vector<StripVertex> prebuiltSurface()
{
    for (int k = 0; k + 1 < SETUP_STEP_COUNT; ++k)
        SETUP_STEPS[k].run(ViewerStart{});
    std::vector<StripVertex> vertices(SURFACE_VERTICES);
    const SurfaceHeights heights = surfaceHeights(viewerDisplacement());
    for (int e = 0; e < GRID_STEPS; ++e)
        computeStrip(heights, e, &vertices[size_t(e) * STRIP_VERTICES]);
    return vertices;
}

// One draw per strip from the current arrays, which hold the whole surface.
void drawStrips()
{
    for (int e = 0; e < GRID_STEPS; ++e)
        glDrawArrays(GL_TRIANGLE_STRIP, e * STRIP_VERTICES, STRIP_VERTICES);
}

// Floor (a): the array compiled into a display list, drawn by the viewer's
// own display().
Figures measureListFloor(int frames)
{
    const std::vector<StripVertex> vertices = prebuiltSurface();
    Figures f;
    const Clock::time_point start = Clock::now();
    const double cpu = threadMilliseconds();
    surfaceList = glGenLists(1);
    glNewList(surfaceList, GL_COMPILE);
    glBindTexture(GL_TEXTURE_2D, colorTexture);
    glInterleavedArrays(GL_T2F_N3F_V3F, 0, vertices.data());
    drawStrips();
    glEndList();
    glFinish();
    f["compileCpu"] = threadMilliseconds() - cpu;
    f["compile"] = millisecondsSince(start);
    reshape(WINDOW_WIDTH, WINDOW_HEIGHT);  // as GLUT calls it before the first frame
    firstAndSteadyFrames(f, start, frames, display);
    return f;
}

// Floor (b): the array in a vertex buffer, drawn every frame with the
// viewer's clear, camera and texture.
Figures measureBufferFloor(int frames)
{
    const std::vector<StripVertex> vertices = prebuiltSurface();
    reshape(WINDOW_WIDTH, WINDOW_HEIGHT);
    surfaceList = glGenLists(1);  // empty: display() then only clears and sets light 0
    glNewList(surfaceList, GL_COMPILE);
    glEndList();
    display();
    glFinish();

    Figures f;
    const Clock::time_point start = Clock::now();
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size() * sizeof(StripVertex)), vertices.data(),
                 GL_STATIC_DRAW);
    glInterleavedArrays(GL_T2F_N3F_V3F, 0, nullptr);
    glFinish();
    f["compile"] = millisecondsSince(start);
    auto frame = [] {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        applyCamera();
        glBindTexture(GL_TEXTURE_2D, colorTexture);
        drawStrips();
        glutSwapBuffers();
    };
    firstAndSteadyFrames(f, start, frames, frame);
    return f;
}

// One measuring process: opens the window, measures, and writes "name value"
// lines to RESULT_FD (its standard output carries the viewer's own lines).
int measure(const std::string& what, int frames)
{
    openTestWindow();
    const Figures f = what == "viewer" ? measureViewer(frames)
                      : what == "list" ? measureListFloor(frames)
                                       : measureBufferFloor(frames);
    if (glGetError() != GL_NO_ERROR)
        std::fprintf(stderr, "viewer_timing: %s: GL error\n", what.c_str());
    FILE* out = fdopen(RESULT_FD, "w");
    if (!out)
        return 1;
    for (const auto& [name, value] : f)
        std::fprintf(out, "%s %.3f\n", name.c_str(), value);
    return std::fclose(out) == 0 ? 0 : 1;
}

// Runs this program again as a measuring process and reads its figures.
bool runMeasurement(const char* self, const std::string& what, int frames, Figures& figures)
{
    int channel[2];
    if (pipe(channel) != 0)
        return false;
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        close(channel[0]);
        dup2(channel[1], RESULT_FD);
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(127);
        const std::string count = std::to_string(frames);
        execl(self, self, "--measure", what.c_str(), count.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(channel[1]);
    FILE* in = fdopen(channel[0], "r");
    char name[64];
    double value = 0;
    while (in && std::fscanf(in, "%63s %lf", name, &value) == 2)
        figures[name] = value;
    if (in)
        std::fclose(in);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && !figures.empty();
}

// Wall time of a shell command, ms; its output is dropped.
double commandMilliseconds(const std::string& command)
{
    const Clock::time_point start = Clock::now();
    if (std::system((command + " >/dev/null").c_str()) != 0)
        std::fprintf(stderr, "viewer_timing: %s failed\n", command.c_str());
    return millisecondsSince(start);
}

using Samples = std::map<std::string, std::map<std::string, std::vector<double>>>;

// The figures of every run, by kind and name; false when a measurement
// failed. Given render (dispdome-render's path), each run times it too.
bool collectSamples(int runs, int frames, const char* render, Samples& samples)
{
    // Runs alternate between the three so that load from elsewhere on the
    // machine falls on all of them alike.
    for (int run = 0; run < runs; ++run) {
        for (const char* kind : {"viewer", "list", "vbo"}) {
            Figures figures;
            if (!runMeasurement("/proc/self/exe", kind, frames, figures)) {
                std::fprintf(stderr, "viewer_timing: the %s measurement failed\n", kind);
                return false;
            }
            for (const auto& [name, value] : figures)
                samples[kind][name].push_back(value);
        }
        if (render) {
            // The turntable's frames past the first, each drawn, read back,
            // encoded and written.
            const std::string command = std::string("'") + render + "' ";
            const double still = commandMilliseconds(command + "still.png");
            const double turntable = commandMilliseconds(command + "--turntable " + std::to_string(frames) + " turn.png");
            samples["render"]["still"].push_back(still);
            samples["render"]["frame"].push_back(frames > 1 ? (turntable - still) / (frames - 1) : turntable);
        }
        std::fprintf(stderr, "viewer_timing: run %d of %d done\n", run + 1, runs);
    }
    return true;
}

// The medians as rows of the Markdown table.
void printTable(Samples& samples, bool withRender)
{
    auto m = [&](const char* kind, const char* name) { return median(samples[kind][name]); };
    const double arrayMb = SURFACE_VERTICES * sizeof(StripVertex) / (1024.0 * 1024.0);
    std::printf("| set-up: fixed GL state | %.2f ms | | | |\n", m("viewer", "state"));
    std::printf("| set-up: tables and nets | %.2f ms | | | |\n", m("viewer", "tables"));
    std::printf("| set-up: textures (colour, displacement, normal) | %.1f ms | | | |\n", m("viewer", "textures"));
    std::printf("| set-up: list recording (evaluation included) | %.0f ms (CPU %.0f ms) | floor list compile %.0f ms (CPU %.0f ms) | %.2f x (CPU %.2f x) | |\n",
                m("viewer", "compile"), m("viewer", "compileCpu"), m("list", "compile"), m("list", "compileCpu"),
                m("viewer", "compile") / m("list", "compile"), m("viewer", "compileCpu") / m("list", "compileCpu"));
    std::printf("| time to first frame | %.0f ms | floor list compile + first frame %.0f ms | %.2f x | <= 1.10 x |\n",
                m("viewer", "first"), m("list", "first"), m("viewer", "first") / m("list", "first"));
    std::printf("| steady frame (glFinish) | %.1f ms | floor list frame %.1f ms | %.2f x | <= 1.05 x |\n",
                m("viewer", "frame"), m("list", "frame"), m("viewer", "frame") / m("list", "frame"));
    // The floor holds its prebuilt array beside the list; the viewer is
    // compared with what is left without it: the list and the rest of the
    // process.
    for (const char* phase : {"setupMemory", "memory"}) {
        const double viewer = m("viewer", phase), floor = m("list", phase);
        std::printf("| peak resident memory, %s | %.0f MB | floor list %.0f MB without its %.0f MB array (%.0f MB with it) | %+.0f MB | <= floor + 16 MB |\n",
                    phase == std::string("memory") ? "frames included" : "set-up done", viewer, floor - arrayMb,
                    arrayMb, floor, viewer - (floor - arrayMb));
    }
    if (withRender) {
        std::printf("| dispdome-render still, 700 x 700 PNG (whole process) | %.0f ms | viewer time to first frame %.0f ms | %.2f x | |\n",
                    m("render", "still"), m("viewer", "first"), m("render", "still") / m("viewer", "first"));
        std::printf("| dispdome-render turntable, per frame (draw, read back, PNG, write) | %.1f ms | viewer steady frame %.1f ms | %.2f x | |\n",
                    m("render", "frame"), m("viewer", "frame"), m("render", "frame") / m("viewer", "frame"));
    }
    std::printf("| floor VBO: upload, first frame | %.0f ms, %.0f ms | | | |\n", m("vbo", "compile"),
                m("vbo", "first"));
    std::printf("| floor VBO: steady frame | %.1f ms | floor list frame %.1f ms | | |\n", m("vbo", "frame"),
                m("list", "frame"));
    std::printf("| floor VBO: peak memory, set-up done / frames included | %.0f MB / %.0f MB | | | |\n",
                m("vbo", "setupMemory"), m("vbo", "memory"));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--measure") == 0)
        return measure(argv[2], std::atoi(argv[3]));

    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const char* render = argc > 3 ? argv[3] : nullptr;
    enterTemporaryFolder(true);
    Samples samples;
    if (!collectSamples(runs, frames, render, samples))
        return 1;
    printTable(samples, render != nullptr);
    return 0;
}
