#pragma once

// Files that appear only once complete: each is written under a temporary
// name beside its destination and renamed into place at the end, so a
// failure or Ctrl-C never leaves a partial file and an existing file is
// replaced only by a complete one. SIGINT, SIGTERM and SIGHUP remove every
// temporary still there; past a file-size limit a write fails rather than
// the program dying.

#include <cstddef>
#include <string>
#include <vector>

struct OutputFile {
    std::string path;       // the destination
    std::string temporary;  // where it is written meanwhile
    int fd = -1;
    std::vector<char> buffer;
    size_t used = 0;
    int error = 0;  // errno of the first failed write; later writes are dropped
};

// Each of these that fails says why in one line "<path>: <reason>" on
// standard error and leaves no temporary behind.

// Creates the temporary file for path.
bool openOutput(OutputFile& out, const std::string& path);
// Flushes and closes the temporary file.
bool closeOutput(OutputFile& out);
// Renames the closed temporary file into place.
bool commitOutput(OutputFile& out);
// Removes the temporary file, as when another file of the same set failed.
void discardOutput(OutputFile& out);

// Room for at least bytes more (at most 1 MiB); returns where they go. The
// caller adds what it wrote to out.used.
char* reserve(OutputFile& out, size_t bytes);
void put(OutputFile& out, const char* text);
void putBytes(OutputFile& out, const void* data, size_t size);

// One whole file from memory: open, write, close and commit.
bool writeWholeOutput(const std::string& path, const void* data, size_t size);
