#pragma once

// What the four programs share on their command lines: the exit statuses,
// --help and --version, the one-line reasons on standard error, and the
// output name's extension.

#include <string>

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

// One line "<what>: <reason>" on standard error, the reason formatted as
// printf formats it.
[[gnu::format(printf, 2, 3)]] void report(const std::string& what, const char* format, ...);

// The refusals of a command line, each one line "<program>: <reason>";
// they return STATUS_BAD_ARGUMENTS.
// "unknown option OPTION (see --help)"
int unknownOption(const char* program, const std::string& option);
// "OPTION needs WHAT", such as "a value (see --help)".
int needsValue(const char* program, const std::string& option, const std::string& what);

// "no output file given (see --help)"
int noOutputGiven(const char* program);

// What the tools make of an argument that is none of their own options:
// --help or --version answered (STATUS_WRITTEN), another option refused,
// a second name refused with "one <noun> only, not also <argument>" (and
// " (see --help)" where seeHelp), else the argument taken as name, which is
// empty until then. -1 to go on, else the exit status.
int takeName(const char* program, const char* usage, const std::string& argument, std::string& name,
             const char* noun, bool seeHelp);

// True for an option: '-' and more ("-" alone names standard input or a file).
bool isOption(const std::string& argument);

// True when name ends in suffix (lower case, such as ".png"), in any case.
bool hasSuffix(const std::string& name, const char* suffix);
