#include "command_line.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

bool answersInfo(const std::string& argument, const char* program, const char* usage, bool shortHelp)
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

void report(const std::string& what, const char* format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::vector<char> reason(length > 0 ? size_t(length) + 1 : 1, '\0');
    std::vsnprintf(reason.data(), reason.size(), format, again);
    va_end(again);
    va_end(args);
    std::fprintf(stderr, "%s: %s\n", what.c_str(), reason.data());
}

int unknownOption(const char* program, const std::string& option)
{
    report(program, "unknown option %s (see --help)", option.c_str());
    return STATUS_BAD_ARGUMENTS;
}

int needsValue(const char* program, const std::string& option, const std::string& what)
{
    report(program, "%s needs %s", option.c_str(), what.c_str());
    return STATUS_BAD_ARGUMENTS;
}

int noOutputGiven(const char* program)
{
    report(program, "no output file given (see --help)");
    return STATUS_BAD_ARGUMENTS;
}

int takeName(const char* program, const char* usage, const std::string& argument, std::string& name,
             const char* noun, bool seeHelp)
{
    if (answersInfo(argument, program, usage))
        return STATUS_WRITTEN;
    if (isOption(argument))
        return unknownOption(program, argument);
    if (!name.empty()) {
        report(program, "one %s only, not also %s%s", noun, argument.c_str(), seeHelp ? " (see --help)" : "");
        return STATUS_BAD_ARGUMENTS;
    }
    name = argument;
    return -1;
}

bool isOption(const std::string& argument) { return argument.size() > 1 && argument[0] == '-'; }

bool hasSuffix(const std::string& name, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    if (name.size() < n)
        return false;
    for (size_t k = 0; k < n; ++k)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + k])) != suffix[k])
            return false;
    return true;
}
