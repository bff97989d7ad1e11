// A pseudo-terminal for tests of the real device: the test holds the master
// end as the far side of the line; the driver opens the slave by name. And
// the raw, bounded reads and writes every pseudo-terminal test uses.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

namespace jyn::testing {

// A terminal that passes every byte as it is: no echo, no line editing.
inline void MakeRaw(int fd) {
    termios tio{};
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}

inline bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Up to `count` bytes from `fd`, waiting at most `ms` in all; less when the
// other end closes.
inline std::string ReadFor(int fd, std::size_t count, int ms) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[512];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - out.size()));
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

class PtyPair {
public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name == nullptr) return;
        slavePath_ = name;
        // Held open so the master never sees a hang-up between the driver's opens.
        keeper_ = open(name, O_RDWR | O_NOCTTY);
        MakeRaw(keeper_);
    }
    ~PtyPair() {
        if (keeper_ >= 0) close(keeper_);
        CloseMaster();
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && keeper_ >= 0; }
    int Master() const { return master_; }
    int Slave() const { return keeper_; }
    const std::string& SlavePath() const { return slavePath_; }
    // The name as a host writes it: "pts/N", taken under /dev/.
    std::string PortName() const { return slavePath_.substr(5); }
    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

    void Send(const std::string& bytes) const { WriteAll(master_, bytes); }
    // What arrives at the master within `ms`, up to `count` bytes.
    std::string Receive(std::size_t count, int ms) const { return ReadFor(master_, count, ms); }

private:
    int master_ = -1;
    int keeper_ = -1;
    std::string slavePath_;
};

}  // namespace jyn::testing
