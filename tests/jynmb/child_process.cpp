#include "tests/jynmb/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

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

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "jynmb-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

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

}  // namespace jynmbtest
