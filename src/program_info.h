#pragma once

#include <cstdio>
#include <string>

// The two options every program answers before anything else runs, on
// standard output: --help (and -h, where shortHelp) with the usage, and
// --version with one line "<program> <version>", the package's version.
// True when argument was one of them: the program then ends with status 0.
inline bool answersInfo(const std::string& argument, const char* program, const char* usage, bool shortHelp = true)
{
    if (argument == "--help" || (shortHelp && argument == "-h")) {
        std::fputs(usage, stdout);
        return true;
    }
    if (argument == "--version") {
        std::printf("%s %s\n", program, PROGRAM_VERSION);
        return true;
    }
    return false;
}
