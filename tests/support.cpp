#include "support.h"

#include "sample_images.h"

#include <GL/freeglut.h>
#include <sys/wait.h>  // Required for: WEXITSTATUS
#include <unistd.h>    // Required for: chdir(), getpid(), usleep()

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace fs = std::filesystem;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes tgaHeader(int type, int width, int height, int depth)
{
    Bytes h(18, 0);
    h[2] = static_cast<unsigned char>(type);
    h[12] = static_cast<unsigned char>(width);
    h[13] = static_cast<unsigned char>(width >> 8);
    h[14] = static_cast<unsigned char>(height);
    h[15] = static_cast<unsigned char>(height >> 8);
    h[16] = static_cast<unsigned char>(depth);
    return h;
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string readFile(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void enterTemporaryFolder(bool samples)
{
    static std::vector<fs::path> made;
    std::string name = (fs::temp_directory_path() / "viewer_test_XXXXXX").string();
    if (made.empty())
        std::atexit([] {
            for (const fs::path& folder : made)
                fs::remove_all(folder);
        });
    if (!mkdtemp(name.data()) || chdir(name.c_str()) != 0 ||
        (samples && !(fs::create_directory("texture") && writeSampleImages("texture").empty())))
        std::abort();
    made.push_back(name);
}

Outcome runCommand(const std::string& command)
{
    const std::string capture = (fs::temp_directory_path() / ("viewer_test_" + std::to_string(getpid()))).string();
    const int status = std::system(("(" + command + ") >" + capture + ".out 2>" + capture + ".err").c_str());
    const Outcome run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(capture + ".out"), readFile(capture + ".err")};
    fs::remove(capture + ".out");
    fs::remove(capture + ".err");
    return run;
}

void openTestWindow()
{
    int argc = 1;
    char name[] = "viewer_test";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
    glutInitWindowSize(700, 700);
    glutInitWindowPosition(250, 250);
    glutCreateWindow(name);
    glutDisplayFunc([] {});  // freeglut insists on one; tests call display() themselves
#if defined(__SANITIZE_ADDRESS__)
    // Leaks are looked for while the GL driver is loaded: once it is unloaded
    // at exit, what it holds would show as leaks of unknown origin.
    std::atexit([] { __lsan_do_leak_check(); });
#endif
    for (int round = 0; round < 10; ++round) {  // until mapped and shown
        glutMainLoopEvent();
        usleep(5000);
    }
}
