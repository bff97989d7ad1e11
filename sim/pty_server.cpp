#include "sim/pty_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>

namespace jynsim {
namespace {

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Raw 8-bit line, no echo: the driver sets its own modes when it opens the
// slave; until then nothing may be echoed back to the master.
bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// ptsname's buffer is shared by the process.
std::string SlaveName(int master) {
    static std::mutex guard;
    std::lock_guard<std::mutex> lock(guard);
    const char* name = ptsname(master);
    return name != nullptr ? name : "";
}

std::string LinkTarget(const std::string& path) {
    char target[512] = {};
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

void SetFlags(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

bool PtyServer::Start(const PtyOptions& options, std::string& error) {
    if (Running()) {
        error = "the simulator is already serving " + slave_path_;
        return false;
    }
    if (!OpenPty(error) || (!options.link_path.empty() && !MakeLink(options.link_path, error))) {
        CloseAll();
        return false;
    }
    if (pipe(wake_) != 0) {
        error = Errno("pipe");
        CloseAll();
        return false;
    }
    SetFlags(wake_[0]);
    SetFlags(wake_[1]);
    stop_ = false;
    epoch_ = std::chrono::steady_clock::now();
    std::promise<void> ready;
    std::future<void> running = ready.get_future();
    thread_ = std::thread([this, started = std::move(ready)]() mutable {
        started.set_value();
        Serve();
    });
    running.wait();
    return true;
}

bool PtyServer::OpenPty(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error = Errno("posix_openpt");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = Errno("grantpt/unlockpt");
        return false;
    }
    SetFlags(master_);
    slave_path_ = SlaveName(master_);
    slave_keep_ = slave_path_.empty() ? -1 : open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_keep_ < 0) {
        error = Errno("open slave");
        return false;
    }
    fcntl(slave_keep_, F_SETFD, fcntl(slave_keep_, F_GETFD) | FD_CLOEXEC);
    if (!MakeRaw(slave_keep_)) {
        error = Errno("raw mode on the slave");
        return false;
    }
    return true;
}

bool PtyServer::MakeLink(const std::string& path, std::string& error) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = "'" + path + "' exists and is not a symlink; not replacing it";
            return false;
        }
        // A pseudo-terminal's node goes when its master closes, so a link
        // whose target is still there leads to a line somebody serves (or to
        // a device of the user's): only a dead link is taken over.
        struct stat target {};
        if (stat(path.c_str(), &target) == 0) {
            error = "'" + path + "' leads to " + LinkTarget(path) +
                    ", which is still there (another simulator serving it?); not taking it " +
                    "over: stop that one, or give another --link";
            return false;
        }
        unlink(path.c_str());
    }
    if (symlink(slave_path_.c_str(), path.c_str()) != 0) {
        error = Errno(("symlink " + path).c_str());
        return false;
    }
    link_path_ = path;
    return true;
}

void PtyServer::Stop() {
    if (thread_.joinable()) {
        stop_ = true;
        const char wake = 1;
        if (write(wake_[1], &wake, 1) < 0) {
            // The pipe is full only if a wake is already pending.
        }
        thread_.join();
    }
    CloseAll();
}

void PtyServer::CloseAll() {
    if (!link_path_.empty()) {
        if (LinkTarget(link_path_) == slave_path_) unlink(link_path_.c_str());
        link_path_.clear();
    }
    for (int* fd : {&master_, &slave_keep_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    unsent_.clear();
}

Micros PtyServer::Now() const {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - epoch_);
}

}  // namespace jynsim
