// The built jynmb run as a person runs it: a child process with its own
// working directory and environment, its output captured, its time bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace jynmbtest {

struct ChildRun {
    int exitCode = -1;  // -1 when it did not exit by itself in time
    int signal = 0;     // the signal that ended it, when one did
    std::string out;
    std::string err;
};

struct ChildOptions {
    std::string directory;                                 // empty: the test's own
    std::vector<std::pair<std::string, std::string>> env;  // added or replaced
    std::chrono::milliseconds limit{30000};
};

// A child that runs while the test talks to it: waits for its output,
// sends it signals, and is killed by its process id if it is still running
// when the object goes.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args,
          const ChildOptions& options = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    // Reads its output until standard output or standard error holds `text`;
    // false if the child ends or the limit passes first.
    bool WaitFor(const std::string& text, std::chrono::milliseconds limit);
    void Signal(int number) const;
    // Reads the rest of its output and waits for it to end; a child still
    // running at the limit is killed and reported with exit code -1.
    ChildRun Finish(std::chrono::milliseconds limit);

private:
    bool ReadSome(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};  // its standard output and standard error
    ChildRun run_;
};

// Its exit code and both outputs, for a failed expectation.
std::string Describe(const ChildRun& run);

// Runs `program` with `args` to its end, within options.limit.
ChildRun RunChild(const std::string& program, const std::vector<std::string>& args,
                  const ChildOptions& options = {});

// The full path of `program` found on PATH, or empty.
std::string FindOnPath(const std::string& program);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    void Write(const std::string& name, const std::string& text) const;
    std::vector<std::string> Entries() const;

private:
    std::string path_;
};

// The program and the shared libraries beside it (the driver, the host's
// logging library), copied where another user may run them: a checkout
// often lies below a directory only its owner may enter, a home or a
// `mktemp -d`, and the loader running as that user stops there. The copy
// lies in a directory of its own, open to that user's group alone, and is
// removed with everything in it when the object goes.
class ProgramCopy {
public:
    ProgramCopy(const std::string& program, uid_t uid, gid_t gid);
    ~ProgramCopy();
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;

    // Empty when no copy could be made; Why() then says why.
    const std::string& Program() const { return program_; }
    const std::string& Directory() const { return directory_; }
    const std::string& Why() const { return why_; }

private:
    bool Copy(const std::string& from);

    gid_t gid_;
    std::string directory_;
    std::string program_;
    std::string why_;
};

}  // namespace jynmbtest
