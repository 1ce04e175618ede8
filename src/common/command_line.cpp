#include "command_line.h"

#include <getopt.h>  // Required for: getopt_long()

#include <cctype>
#include <cmath>
#include <cstdlib>
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

int secondName(const char* program, const char* noun, const std::string& argument, bool seeHelp)
{
    report(program, "one %s only, not also %s%s", noun, argument.c_str(), seeHelp ? " (see --help)" : "");
    return STATUS_BAD_ARGUMENTS;
}

int readCommandLine(int argc, char** argv, const char* program, const char* usage,
                    const std::vector<Option>& options, const std::function<int(const char* argument)>& name)
{
    // getopt_long's codes: 'h', one past any character for --version, and
    // the options' from there.
    constexpr int VERSION = 256, FIRST = VERSION + 1;
    std::vector<option> table;
    for (const Option& o : options)
        table.push_back({o.name, required_argument, nullptr, FIRST + int(table.size())});
    table.push_back({"help", no_argument, nullptr, 'h'});
    table.push_back({"version", no_argument, nullptr, VERSION});
    table.push_back({nullptr, 0, nullptr, 0});
    // '-': the names come back in their turn (code 1), not moved to the end;
    // ':': a missing value comes back apart from an unknown option. The lines
    // are ours: getopt prints none.
    opterr = 0;
    optind = 1;
    int status = -1;
    while (status < 0) {
        // The argument read now: getopt moves past it only when done with it.
        const int at = optind;
        const int code = getopt_long(argc, argv, "-:h", table.data(), nullptr);
        if (code == -1)
            break;
        const int given = code == ':' ? optopt : code;
        if (code == 1) {
            status = name(optarg);
        } else if (given >= FIRST) {
            const Option& o = options[size_t(given - FIRST)];
            status = o.take(std::string("--") + o.name, code == ':' ? nullptr : optarg);
        } else if (code == 'h' || code == VERSION) {
            // As typed in full: getopt has matched a shortened name too.
            answersInfo(code == 'h' ? "--help" : "--version", program, usage);
            status = STATUS_WRITTEN;
        } else {
            status = unknownOption(program, argv[at]);
        }
    }
    // After "--", names alone.
    for (int k = optind; status < 0 && k < argc; ++k)
        status = name(argv[k]);
    return status;
}

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

bool toFloat(const char* text, float& value)
{
    char* end = nullptr;
    value = std::strtof(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

std::string shown(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}
