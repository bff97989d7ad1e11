// A pseudo-terminal for tests of the real device: the test holds the master
// end as the far side of the line; the driver opens the slave by name.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace jyn::testing {

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
        termios tio{};
        if (keeper_ >= 0 && tcgetattr(keeper_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(keeper_, TCSANOW, &tio);
        }
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

    void Send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    // What arrives at the master within `ms`, up to `count` bytes.
    std::string Receive(std::size_t count, int ms) const {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd entry{master_, POLLIN, 0};
            if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[512];
            const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n <= 0) break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    int master_ = -1;
    int keeper_ = -1;
    std::string slavePath_;
};

}  // namespace jyn::testing
