#include "tests/jynmb/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "harness/work_directory.h"

extern char** environ;

namespace jynmbtest {

namespace {

using Clock = std::chrono::steady_clock;

// Everything the child needs is built before the fork: between fork and
// exec only async-signal-safe calls are allowed in a process with threads.
struct ExecPlan {
    std::vector<std::string> words;
    std::vector<std::string> env;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

void BuildPlan(const std::string& program, const std::vector<std::string>& args,
               const ChildOptions& options, ExecPlan& plan) {
    plan.words.push_back(program);
    plan.words.insert(plan.words.end(), args.begin(), args.end());
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : options.env) {
            replaced = replaced || text.compare(0, name.size() + 1, name + "=") == 0;
        }
        if (!replaced) plan.env.push_back(text);
    }
    for (const auto& [name, value] : options.env) plan.env.push_back(name + "=" + value);
    for (std::string& word : plan.words) plan.argv.push_back(word.data());
    plan.argv.push_back(nullptr);
    for (std::string& entry : plan.env) plan.envp.push_back(entry.data());
    plan.envp.push_back(nullptr);
}

[[noreturn]] void Exec(const ExecPlan& plan, const std::string& directory, int out, int err) {
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execve(plan.argv[0], plan.argv.data(), plan.envp.data());
    _exit(127);
}

}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& args,
             const ChildOptions& options) {
    ExecPlan plan;
    BuildPlan(program, args, options, plan);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) Exec(plan, options.directory, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
}

Child::~Child() {
    for (const int fd : fds_) {
        if (fd >= 0) close(fd);
    }
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

// One read from whichever pipe has output; false when both are closed or
// the deadline passes.
bool Child::ReadSome(Clock::time_point deadline) {
    pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    std::string* sinks[2] = {&run_.out, &run_.err};
    for (;;) {
        if (fds_[0] < 0 && fds_[1] < 0) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        const int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds_[i]);
                fds_[i] = fds[i].fd = -1;
            }
        }
        return true;
    }
}

bool Child::WaitFor(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (run_.out.find(text) == std::string::npos && run_.err.find(text) == std::string::npos) {
        if (!ReadSome(deadline)) return false;
    }
    return true;
}

void Child::Signal(int number) const {
    if (pid_ > 0) kill(pid_, number);
}

ChildRun Child::Finish(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (ReadSome(deadline)) {
    }
    const bool finished = fds_[0] < 0 && fds_[1] < 0;
    if (pid_ > 0) {
        if (!finished) kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        if (finished && WIFEXITED(status)) run_.exitCode = WEXITSTATUS(status);
        if (finished && WIFSIGNALED(status)) run_.signal = WTERMSIG(status);
        pid_ = -1;
    }
    return run_;
}

std::string Describe(const ChildRun& run) {
    return "exit " + std::to_string(run.exitCode) + "\n--- stdout\n" + run.out + "--- stderr\n" +
           run.err;
}

ChildRun RunChild(const std::string& program, const std::vector<std::string>& args,
                  const ChildOptions& options) {
    Child child(program, args, options);
    return child.Finish(options.limit);
}

std::string FindOnPath(const std::string& program) {
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return std::string();
}

TempDir::TempDir() : path_(jynharness::MakePrivateDirectory("jynmb-test")) {}

TempDir::~TempDir() {
    std::error_code code;
    if (!path_.empty()) std::filesystem::remove_all(path_, code);
}

void TempDir::Write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + "/" + name, std::ios::binary) << text;
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    std::error_code code;
    for (const auto& entry : std::filesystem::directory_iterator(path_, code)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

namespace {

// Whether a user of `uid`, in the one group `gid`, may enter every
// directory on the way to `path`, as the kernel decides it: the owner's
// bits for the owner, the group's for the group, else the others'.
bool Reachable(const std::filesystem::path& path, uid_t uid, gid_t gid) {
    std::filesystem::path walked;
    for (const auto& part : path) {
        walked /= part;
        struct stat info {};
        if (stat(walked.c_str(), &info) != 0) return false;
        const mode_t bit = info.st_uid == uid   ? S_IXUSR
                           : info.st_gid == gid ? S_IXGRP
                                                : S_IXOTH;
        if ((info.st_mode & bit) == 0) return false;
    }
    return true;
}

// A file system mounted noexec (/tmp often is) runs no program.
bool RunsPrograms(const std::filesystem::path& path) {
    struct statvfs info {};
    return statvfs(path.c_str(), &info) == 0 && (info.f_flag & ST_NOEXEC) == 0;
}

// The owner's, and the group's to read and run.
bool OpenToGroup(const std::string& path, gid_t gid, mode_t mode) {
    return chown(path.c_str(), static_cast<uid_t>(-1), gid) == 0 && chmod(path.c_str(), mode) == 0;
}

bool IsSharedLibrary(const std::filesystem::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    return entry.is_regular_file() && name.rfind("lib", 0) == 0 &&
           entry.path().extension() == ".so";
}

}  // namespace

ProgramCopy::ProgramCopy(const std::string& program, uid_t uid, gid_t gid) : gid_(gid) {
    std::error_code code;
    std::vector<std::filesystem::path> places;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(code);
    if (!code) places.push_back(temp);
    for (const char* place : {"/tmp", "/var/tmp", "/dev/shm"}) places.emplace_back(place);
    for (const std::filesystem::path& place : places) {
        const std::filesystem::path real = std::filesystem::canonical(place, code);
        if (code || !Reachable(real, uid, gid) || !RunsPrograms(real)) continue;
        std::string pattern = (real / "jynmb-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) continue;
        directory_ = pattern;
        break;
    }
    if (directory_.empty()) {
        why_ = "no temporary directory (TMPDIR, /tmp, /var/tmp, /dev/shm) that user " +
               std::to_string(uid) + " may enter and run programs from";
        return;
    }
    if (!OpenToGroup(directory_, gid, 0750)) {
        why_ = "cannot give group " + std::to_string(gid) + " the directory " + directory_;
        return;
    }
    bool copied = Copy(program);
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(program).parent_path(), code)) {
        if (IsSharedLibrary(entry)) copied = Copy(entry.path().string()) && copied;
    }
    if (!copied || code) {
        why_ = "cannot copy " + program + " and its libraries into " + directory_;
        return;
    }
    program_ = directory_ + "/" + std::filesystem::path(program).filename().string();
}

ProgramCopy::~ProgramCopy() {
    std::error_code code;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, code);
}

bool ProgramCopy::Copy(const std::string& from) {
    std::error_code code;
    const std::string to = directory_ + "/" + std::filesystem::path(from).filename().string();
    return std::filesystem::copy_file(from, to, code) && OpenToGroup(to, gid_, 0750);
}

}  // namespace jynmbtest
