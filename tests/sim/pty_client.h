#pragma once
// A host's end of the simulated line for tests: the pseudo-terminal slave
// opened raw, writes, and reads bounded by a deadline.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace simtest {

class PtyClient {
public:
    explicit PtyClient(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~PtyClient() {
        if (fd_ >= 0) close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool Ok() const { return fd_ >= 0; }
    bool Send(const std::string& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Up to `count` bytes, waiting at most `limit` in all.
    std::string Read(std::size_t count, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::string got;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd fds{fd_, POLLIN, 0};
            if (poll(&fds, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[256];
            const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int fd_ = -1;
};

}  // namespace simtest
