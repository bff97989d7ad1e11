#pragma once
// A host's end of the simulated line for tests: the pseudo-terminal slave
// opened raw, writes, and reads bounded by a deadline.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/pty_pair.h"

namespace simtest {

class PtyClient {
public:
    explicit PtyClient(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        jyn::testing::MakeRaw(fd_);
    }
    ~PtyClient() {
        if (fd_ >= 0) close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    bool Send(const std::string& bytes) { return jyn::testing::WriteAll(fd_, bytes); }
    // Up to `count` bytes, waiting at most `limit` in all.
    std::string Read(std::size_t count, std::chrono::milliseconds limit) {
        return jyn::testing::ReadFor(fd_, count, static_cast<int>(limit.count()));
    }

private:
    int fd_ = -1;
};

}  // namespace simtest
