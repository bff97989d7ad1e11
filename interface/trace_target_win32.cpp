#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "interface/trace_target.h"

namespace jyn::tracefile {

namespace {

constexpr int kOpenFlags = _O_RDWR | _O_APPEND | _O_BINARY | _O_NOINHERIT;
constexpr std::size_t kHeadBytes = 256;

std::string Reason(int error) { return std::strerror(error); }

bool SameLetters(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
    }
    return true;
}

// Windows opens a device by its bare name in any folder and with any
// extension ("C:\logs\nul.trc" is the null device), and by \\.\ paths.
bool NamesDevice(const std::string& path) {
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0 ||
        path.rfind("//./", 0) == 0 || path.rfind("//?/", 0) == 0) {
        return true;
    }
    const std::size_t slash = path.find_last_of("\\/:");
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    name = name.substr(0, name.find('.'));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    static const char* const kDevices[] = {"CON",    "PRN",     "AUX",   "NUL",
                                           "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : kDevices) {
        if (SameLetters(name, device)) return true;
    }
    return name.size() == 4 &&
           (SameLetters(name.substr(0, 3), "COM") || SameLetters(name.substr(0, 3), "LPT")) &&
           std::isdigit(static_cast<unsigned char>(name[3]));
}

std::string ContentProblem(int file, bool mayBeEmpty) {
    struct _stat64 info {};
    if (_fstat64(file, &info) != 0) return Reason(errno);
    if ((info.st_mode & _S_IFMT) != _S_IFREG) return "not a regular file";
    if (info.st_size == 0) return mayBeEmpty ? std::string() : "not a trace";
    char head[kHeadBytes];
    if (_lseeki64(file, 0, SEEK_SET) != 0) return Reason(errno);
    const int got = _read(file, head, sizeof head);
    if (got < 0) return Reason(errno);
    return IsTraceStart(head, static_cast<std::size_t>(got)) ? std::string() : "not a trace";
}

std::string PathProblem(const std::string& path, bool mayBeMissing, bool mayBeEmpty) {
    if (NamesDevice(path)) return "a device";
    struct _stat64 info {};
    if (_stat64(path.c_str(), &info) != 0) {
        return errno == ENOENT && mayBeMissing ? std::string() : Reason(errno);
    }
    if ((info.st_mode & _S_IFMT) != _S_IFREG) return "not a regular file";
    const int file = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (file < 0) return Reason(errno);
    const std::string problem = ContentProblem(file, mayBeEmpty);
    _close(file);
    return problem;
}

}  // namespace

std::string Absolute(const std::string& path) {
    char full[_MAX_PATH];
    if (path.empty() || NamesDevice(path) ||
        _fullpath(full, path.c_str(), sizeof full) == nullptr) {
        return path;
    }
    return full;
}

std::string Problem(const std::string& path) { return PathProblem(path, true, true); }

std::FILE* OpenToRead(const std::string& path, uint64_t& size, std::string& why) {
    struct _stat64 info {};
    if (NamesDevice(path)) {
        why = "a device";
        return nullptr;
    }
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        why = Reason(errno);
        return nullptr;
    }
    if (_fstat64(_fileno(stream), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        why = "not a regular file";
        std::fclose(stream);
        return nullptr;
    }
    size = static_cast<uint64_t>(info.st_size);
    return stream;
}

int Open(const std::string& path, uint64_t& size, std::string& why) {
    why = PathProblem(path, true, true);
    if (!why.empty()) return kNoFile;
    const int file = _open(path.c_str(), kOpenFlags | _O_CREAT, _S_IREAD | _S_IWRITE);
    if (file < 0) {
        why = Reason(errno);
        return kNoFile;
    }
    struct _stat64 info {};
    why = ContentProblem(file, true);
    if (!why.empty() || _fstat64(file, &info) != 0) {
        if (why.empty()) why = Reason(errno);
        _close(file);
        return kNoFile;
    }
    size = static_cast<uint64_t>(info.st_size);
    return file;
}

bool Write(int file, const char* bytes, std::size_t count, std::string& why) {
    while (count > 0) {
        const unsigned part = count > 0x10000000u ? 0x10000000u : static_cast<unsigned>(count);
        const int done = _write(file, bytes, part);
        if (done <= 0) {
            why = done < 0 ? Reason(errno) : Reason(ENOSPC);
            return false;
        }
        bytes += done;
        count -= static_cast<std::size_t>(done);
    }
    return true;
}

void Close(int file) {
    if (file != kNoFile) _close(file);
}

// Windows renames neither an open file nor onto an existing one: the file
// is closed first and an older trace removed.
int TurnOver(int file, const std::string& path, std::string& why) {
    _close(file);
    const std::string older = path + ".1";
    const std::string olderProblem = PathProblem(older, true, false);
    if (!olderProblem.empty()) {
        why = "cannot turn over into '" + older + "': " + olderProblem;
        return kNoFile;
    }
    if (std::remove(older.c_str()) != 0 && errno != ENOENT) {
        why = "cannot turn over into '" + older + "': " + Reason(errno);
        return kNoFile;
    }
    if (std::rename(path.c_str(), older.c_str()) != 0) {
        why = "cannot turn over into '" + older + "': " + Reason(errno);
        return kNoFile;
    }
    const int fresh = _open(path.c_str(), kOpenFlags | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
    if (fresh < 0) why = Reason(errno);
    return fresh < 0 ? kNoFile : fresh;
}

}  // namespace jyn::tracefile
