#include "output_file.h"

#include "command_line.h"

#include <fcntl.h>     // Required for: open flags, AT_FDCWD
#include <sys/stat.h>  // Required for: fchmod(), umask(), lstat()
#include <unistd.h>    // Required for: write(), read(), lseek(), close(), unlink()

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>

#ifdef __EMSCRIPTEN__
namespace {
// The web page's module writes into a folder of its own, where no file is
// there to trade places with: it renames, as on a file system that cannot
// trade.
constexpr unsigned RENAME_EXCHANGE = 2;
int renameat2(int, const char*, int, const char*, unsigned)
{
    errno = ENOSYS;
    return -1;
}
}  // namespace
#endif

// The temporaries being written, for the signal handler and
// removeTemporaries; a slot is in use while its flag is set. No export
// writes more files than this at once.
namespace {
constexpr int MAX_TEMPORARIES = 8;
char temporaryNames[MAX_TEMPORARIES][4096];
volatile std::sig_atomic_t temporaryExists[MAX_TEMPORARIES] = {};
}  // namespace

void removeTemporaries()
{
    for (int k = 0; k < MAX_TEMPORARIES; ++k)
        if (temporaryExists[k])
            unlink(temporaryNames[k]);
}

namespace {

constexpr size_t BUFFER_SIZE = size_t(1) << 20;

void removeTemporariesAndDie(int signalNumber)
{
    removeTemporaries();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void cannotWrite(const std::string& path, int error)
{
    report(path, "cannot be written (%s)", std::strerror(error));
}

// The signals' slot of a temporary, or -1.
int slotOf(const OutputFile& out)
{
    for (int k = 0; k < MAX_TEMPORARIES; ++k)
        if (temporaryExists[k] && out.temporary == temporaryNames[k])
            return k;
    return -1;
}

void forget(const OutputFile& out)
{
    const int slot = slotOf(out);
    if (slot >= 0)
        temporaryExists[slot] = 0;
}

// Bytes written by all outputs so far.
size_t writtenInAll = 0;

void flush(OutputFile& out)
{
    const char* at = out.buffer.data();
    size_t left = out.used;
    while (left > 0 && out.error == 0) {
        const ssize_t written = write(out.fd, at, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            out.error = written < 0 ? errno : EIO;
            break;
        }
        at += written;
        left -= size_t(written);
        writtenInAll += size_t(written);
        if (outputWritten)
            outputWritten(writtenInAll);
    }
    out.used = 0;
}

}  // namespace

void (*outputWritten)(size_t total) = nullptr;

bool openOutput(OutputFile& out, const std::string& path)
{
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        report(path, "is a directory");
        return false;
    }
    out.path = path;
    out.temporary = path + ".tmp-XXXXXX";
    out.used = 0;
    out.error = 0;
    int slot = 0;
    while (slot < MAX_TEMPORARIES && temporaryExists[slot])
        ++slot;
    if (slot == MAX_TEMPORARIES || out.temporary.size() >= sizeof temporaryNames[0]) {
        cannotWrite(path, ENAMETOOLONG);
        return false;
    }

    sigset_t ending, previous;
    sigemptyset(&ending);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&ending, signalNumber);
        std::signal(signalNumber, removeTemporariesAndDie);
    }
    std::signal(SIGXFSZ, SIG_IGN);

    // No signal between making the file and noting it.
    sigprocmask(SIG_BLOCK, &ending, &previous);
    out.fd = mkstemp(out.temporary.data());
    const int openError = errno;
    if (out.fd >= 0) {
        std::memcpy(temporaryNames[slot], out.temporary.c_str(), out.temporary.size() + 1);
        temporaryExists[slot] = 1;
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (out.fd < 0) {
        cannotWrite(path, openError);
        return false;
    }
    // mkstemp makes the file private; give it the permissions a new file
    // normally gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(out.fd, 0666 & ~mask);
    out.buffer.resize(BUFFER_SIZE);
    return true;
}

bool closeOutput(OutputFile& out)
{
    flush(out);
    if (close(out.fd) != 0 && out.error == 0)
        out.error = errno;
    out.fd = -1;
    if (out.error == 0)
        return true;
    cannotWrite(out.path, out.error);
    discardOutput(out);
    return false;
}

bool commitOutput(OutputFile& out)
{
    if (std::rename(out.temporary.c_str(), out.path.c_str()) == 0) {
        forget(out);
        return true;
    }
    cannotWrite(out.path, errno);
    discardOutput(out);
    return false;
}

bool commitOutputs(std::vector<OutputFile>& files)
{
    // A file already there (not a folder) trades places with the new one and
    // waits under the temporary name until all are in place, to come back
    // should a later one fail. Where the file system cannot trade places, a
    // plain rename replaces it for good.
    std::vector<bool> traded(files.size(), false);
    size_t placed = 0;
    for (; placed < files.size(); ++placed) {
        OutputFile& out = files[placed];
        struct stat there;
        traded[placed] = lstat(out.path.c_str(), &there) == 0 && !S_ISDIR(there.st_mode) &&
                         renameat2(AT_FDCWD, out.temporary.c_str(), AT_FDCWD, out.path.c_str(), RENAME_EXCHANGE) == 0;
        if (!traded[placed] && !commitOutput(out))
            break;
    }
    const bool all = placed == files.size();
    for (size_t k = placed; k < files.size(); ++k)
        discardOutput(files[k]);
    for (size_t k = 0; k < placed; ++k) {
        OutputFile& out = files[k];
        if (!all && traded[k])
            renameat2(AT_FDCWD, out.temporary.c_str(), AT_FDCWD, out.path.c_str(), RENAME_EXCHANGE);
        else if (!all)
            unlink(out.path.c_str());
        if (traded[k])
            unlink(out.temporary.c_str());  // the file replaced, or the new one taken back
        forget(out);
    }
    return all;
}

void discardOutput(OutputFile& out)
{
    if (out.fd >= 0)
        close(out.fd);
    out.fd = -1;
    if (slotOf(out) >= 0)
        unlink(out.temporary.c_str());
    forget(out);
}

bool copyOutput(OutputFile& from, OutputFile& to)
{
    flush(from);
    if (from.error == 0 && lseek(from.fd, 0, SEEK_SET) != 0)
        from.error = errno;
    while (from.error == 0) {
        char* at = reserve(to, BUFFER_SIZE);
        const ssize_t got = read(from.fd, at, BUFFER_SIZE);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            from.error = errno;
        if (got <= 0)
            break;
        to.used += size_t(got);
    }
    if (from.error == 0)
        return true;
    cannotWrite(from.path, from.error);
    return false;
}

char* reserve(OutputFile& out, size_t bytes)
{
    if (out.buffer.size() - out.used < bytes)
        flush(out);
    return out.buffer.data() + out.used;
}

void put(OutputFile& out, const char* text) { putBytes(out, text, std::strlen(text)); }

void putBytes(OutputFile& out, const void* data, size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const size_t part = size < out.buffer.size() ? size : out.buffer.size();
        std::memcpy(reserve(out, part), at, part);
        out.used += part;
        at += part;
        size -= part;
    }
}

bool writeWholeOutput(const std::string& path, const void* data, size_t size)
{
    OutputFile out;
    if (!openOutput(out, path))
        return false;
    putBytes(out, data, size);
    return closeOutput(out) && commitOutput(out);
}
