#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "interface/trace_target.h"

namespace jyn::tracefile {

namespace {

// O_NONBLOCK: an open of a FIFO returns at once instead of waiting for a
// reader; the type is checked on the handle before anything is written.
constexpr int kOpenFlags = O_RDWR | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr std::size_t kHeadBytes = 256;

std::string Reason(int error) { return std::strerror(error); }

// Whether the open file is a regular file holding a trace, or nothing yet.
std::string ContentProblem(int file, bool mayBeEmpty) {
    struct stat info {};
    if (fstat(file, &info) != 0) return Reason(errno);
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    if (info.st_size == 0) return mayBeEmpty ? std::string() : "not a trace";
    char head[kHeadBytes];
    const ssize_t got = pread(file, head, sizeof head, 0);
    if (got < 0) return Reason(errno);
    return IsTraceStart(head, static_cast<std::size_t>(got)) ? std::string() : "not a trace";
}

// Looks at the path's own entry, a link not followed: what a rename would
// move or replace.
std::string EntryProblem(const std::string& path, bool mayBeMissing) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT && mayBeMissing ? std::string() : Reason(errno);
    }
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    if (file < 0) return Reason(errno);
    const std::string problem = ContentProblem(file, false);
    close(file);
    return problem;
}

bool SameFile(int file, const std::string& path) {
    struct stat open {
    }, named{};
    return fstat(file, &open) == 0 && stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char* here = getcwd(nullptr, 0);
    if (here == nullptr) return path;
    std::string absolute = here;
    free(here);
    return absolute + (absolute.back() == '/' ? "" : "/") + path;
}

// A file not there yet is made in its folder, which must be there.
std::string FolderProblem(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return Reason(errno);
    if (!S_ISDIR(info.st_mode)) return Reason(ENOTDIR);
    return access(folder.c_str(), W_OK | X_OK) == 0 ? std::string() : Reason(errno);
}

std::string Problem(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? FolderProblem(path) : Reason(errno);
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) return Reason(errno);
    const std::string problem = ContentProblem(file, true);
    close(file);
    return problem;
}

std::FILE* OpenToRead(const std::string& path, uint64_t& size, std::string& why) {
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        why = Reason(errno);
        return nullptr;
    }
    struct stat info {};
    why = fstat(file, &info) != 0  ? Reason(errno)
          : !S_ISREG(info.st_mode) ? "not a regular file"
                                   : "";
    size = static_cast<uint64_t>(info.st_size);
    std::FILE* stream = why.empty() ? fdopen(file, "rb") : nullptr;
    if (stream == nullptr) {
        if (why.empty()) why = Reason(errno);
        close(file);
    }
    return stream;
}

int Open(const std::string& path, uint64_t& size, std::string& why) {
    // A device or a FIFO is refused before it is opened at all: opening a
    // terminal or a tape has effects of its own.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        why = "not a regular file";
        return kNoFile;
    }
    const int file = open(path.c_str(), kOpenFlags | O_CREAT, 0666);
    if (file < 0) {
        why = Reason(errno);
        return kNoFile;
    }
    why = ContentProblem(file, true);
    if (!why.empty() || fstat(file, &info) != 0) {
        close(file);
        return kNoFile;
    }
    size = static_cast<uint64_t>(info.st_size);
    return file;
}

bool Write(int file, const char* bytes, std::size_t count, std::string& why) {
    while (count > 0) {
        const ssize_t done = write(file, bytes, count);
        if (done < 0 && errno == EINTR) continue;
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
    if (file != kNoFile) close(file);
}

int TurnOver(int file, const std::string& path, std::string& why) {
    const std::string older = path + ".1";
    const std::string olderProblem = EntryProblem(older, true);
    if (!olderProblem.empty()) {
        why = "cannot turn over into '" + older + "': " + olderProblem;
    } else if (!SameFile(file, path)) {
        why = "the file was moved or replaced";
    } else if (rename(path.c_str(), older.c_str()) != 0) {
        why = "cannot turn over into '" + older + "': " + Reason(errno);
    }
    close(file);
    if (!why.empty()) return kNoFile;
    // A new name of its own: whatever appeared there meanwhile stays.
    const int fresh = open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0666);
    if (fresh < 0) why = Reason(errno);
    return fresh < 0 ? kNoFile : fresh;
}

}  // namespace jyn::tracefile
