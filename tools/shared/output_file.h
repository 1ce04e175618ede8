#pragma once

// Files that appear only once complete: each is written under a temporary
// name beside its destination and renamed into place at the end, so a
// failure or Ctrl-C never leaves a partial file and an existing file is
// replaced only by a complete one. SIGINT, SIGTERM and SIGHUP remove every
// temporary still there; past a file-size limit a write fails rather than
// the program dying.

#include "float_text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
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
// Renames the closed temporary files into place in their order, all or
// none: when one fails, those already in place go, and the files they
// replaced come back.
bool commitOutputs(std::vector<OutputFile>& files);
// Removes the temporary file, as when another file of the same set failed.
void discardOutput(OutputFile& out);
// Removes every temporary still there, as when the program must stop at
// once (no memory left); the handler of SIGINT, SIGTERM and SIGHUP does too.
void removeTemporaries();

// Puts everything written to from so far at the end of to: for a part whose
// length must be written before it, made in a scratch file first (opened
// with openOutput and discarded after). False after one line.
bool copyOutput(OutputFile& from, OutputFile& to);

// Room for at least bytes more (at most 1 MiB); returns where they go. The
// caller adds what it wrote to out.used (RecordWriter does).
char* reserve(OutputFile& out, size_t bytes);
void put(OutputFile& out, const char* text);
void putBytes(OutputFile& out, const void* data, size_t size);

// One record of at most `most` bytes written straight into the output's
// buffer, for many small records at little cost; what was written counts
// as written when the writer goes out of scope. Numbers go out
// little-endian whatever the host's byte order, or as text in the fewest
// digits that read back as the same value.
struct RecordWriter {
    RecordWriter(OutputFile& file, size_t most) : out(file), start(reserve(file, most)), at(start), end(start + most) {}
    ~RecordWriter() { out.used += size_t(at - start); }
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    void byte(char value) { *at++ = value; }
    void bytes(const char* data, size_t size)
    {
        std::memcpy(at, data, size);
        at += size;
    }
    void u32(std::uint32_t value)
    {
        for (int k = 0; k < 4; ++k)
            *at++ = static_cast<char>(value >> (8 * k) & 0xffu);
    }
    void f32(float value)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        u32(bits);
    }
    void text(float value)
    {
        at = floatText(at, end, value);
    }

    OutputFile& out;
    char* const start;
    char* at;
    char* const end;
};

// Told the bytes all outputs have written so far, after each write that
// adds to them: where a caller shows progress (the web page's module);
// none by default.
extern void (*outputWritten)(size_t total);

// One whole file from memory: open, write, close and commit.
bool writeWholeOutput(const std::string& path, const void* data, size_t size);
