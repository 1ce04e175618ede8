#pragma once

// What the four programs share on their command lines: the exit statuses,
// --help and --version, the reading of the tools' options, the one-line
// reasons on standard error, and the output name's extension.

#include <functional>
#include <string>
#include <vector>

// Exit statuses: written (or nothing to do), a file or GL failed, the
// command line was refused.
constexpr int STATUS_WRITTEN = 0;
constexpr int STATUS_FAILED = 1;
constexpr int STATUS_BAD_ARGUMENTS = 2;

// The two options every program answers before anything else runs, on
// standard output: --help (and -h, where shortHelp) with the usage, and
// --version with one line "<program> <version>", the package's version.
// True when argument was one of them: the program then ends with
// STATUS_WRITTEN.
bool answersInfo(const std::string& argument, const char* program, const char* usage, bool shortHelp = true);

// One option of a tool, with a value: its long name (without the "--"),
// and what takes the value, which is null when the command line ends before
// it; take returns -1 to go on, else the exit status.
struct Option {
    const char* name;
    std::function<int(const std::string& option, const char* value)> take;
};

// Reads a tool's command line as GNU tools do (getopt_long): options and
// names in any order, a value as --name VALUE or --name=VALUE, a long name
// shortened while it stays unambiguous, and "--" ending the options. -h,
// --help and --version are answered; an unknown option is refused; every
// other argument goes to name in its turn, which returns as take does.
// -1 when all was taken, else the exit status.
int readCommandLine(int argc, char** argv, const char* program, const char* usage,
                    const std::vector<Option>& options, const std::function<int(const char* argument)>& name);

// One line "<what>: <reason>" on standard error, the reason formatted as
// printf formats it.
[[gnu::format(printf, 2, 3)]] void report(const std::string& what, const char* format, ...);

// The refusals of a command line, each one line "<program>: <reason>";
// they return STATUS_BAD_ARGUMENTS.
// "unknown option OPTION (see --help)"
int unknownOption(const char* program, const std::string& option);
// "OPTION needs WHAT", such as "a value (see --help)".
int needsValue(const char* program, const std::string& option, const std::string& what);

// An option whose value parse (a function of the text to bool) takes whole;
// else "<program>: --name needs a value (see --help)" when there is none, or
// "... needs <needs>, not '<value>'".
template <typename Parse>
Option valuedOption(const char* program, const char* name, const char* needs, Parse parse)
{
    return {name, [program, needs, parse](const std::string& option, const char* value) {
                if (!value)
                    return needsValue(program, option, "a value (see --help)");
                if (!parse(value))
                    return needsValue(program, option, std::string(needs) + ", not '" + value + "'");
                return -1;
            }};
}

// "one NOUN only, not also ARGUMENT", and " (see --help)" where seeHelp.
int secondName(const char* program, const char* noun, const std::string& argument, bool seeHelp);

// "no output file given (see --help)"
int noOutputGiven(const char* program);

// A number as a usage shows it ("%g": 10, 0.05).
std::string shown(double value);

// The whole text as a finite number, as strtof reads it.
bool toFloat(const char* text, float& value);

// True when name ends in suffix (lower case, such as ".png"), in any case.
bool hasSuffix(const std::string& name, const char* suffix);
