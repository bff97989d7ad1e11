// The built jynmb run as a person runs it: a child process with its own
// working directory and environment, its output captured, its time bounded.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace jynmbtest {

struct ChildRun {
    int exitCode = -1;  // -1 when it did not exit by itself in time
    std::string out;
    std::string err;
};

struct ChildOptions {
    std::string directory;                                 // empty: the test's own
    std::vector<std::pair<std::string, std::string>> env;  // added or replaced
    std::chrono::milliseconds limit{30000};
};

// Runs `program` with `args`; a child still running at the limit is killed
// by its process id and reported with exit code -1.
ChildRun RunChild(const std::string& program, const std::vector<std::string>& args,
                  const ChildOptions& options = {});

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

}  // namespace jynmbtest
