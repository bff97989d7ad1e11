#include "sim/reference_host.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace jynsim {

namespace {

constexpr char kEnq = 0x05;
constexpr char kAck = 0x06;
constexpr int kReplyWaitMs = 1000;

bool WaitFor(int fd, short events) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = poll(&entry, 1, kReplyWaitMs);
        if (ready > 0) return (entry.revents & events) != 0;
        if (ready == 0 || errno != EINTR) return false;
    }
}

}  // namespace

bool CaptureExchange(const Simulator& sim, Exchange& exchange, std::string& error) {
    const auto traffic = sim.Traffic();
    // The last request, the reply after it and, for a read, the confirmation.
    for (std::size_t i = traffic.size(); i-- > 0;) {
        const auto& entry = traffic[i];
        if (entry.direction != Direction::kToPlc || entry.bytes.empty() ||
            entry.bytes[0] != kEnq) {
            continue;
        }
        exchange = Exchange{entry.bytes, 0, {}};
        for (std::size_t j = i + 1; j < traffic.size(); ++j) {
            const auto& next = traffic[j];
            if (next.direction == Direction::kFromPlc && exchange.replyLength == 0) {
                exchange.replyLength = next.bytes.size();
            } else if (next.direction == Direction::kToPlc && !next.bytes.empty() &&
                       next.bytes[0] == kAck) {
                exchange.confirmation = next.bytes;
            }
        }
        if (exchange.replyLength > 0) return true;
    }
    error = "no complete transaction in the traffic log";
    return false;
}

ReferenceHost::~ReferenceHost() { Close(); }

bool ReferenceHost::Open(const std::string& path, std::string& error) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
    tcflush(fd_, TCIFLUSH);
    return true;
}

void ReferenceHost::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool ReferenceHost::WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        if (!WaitFor(fd_, POLLOUT)) return false;
    }
    return true;
}

bool ReferenceHost::Transact(const Exchange& exchange) {
    if (!WriteAll(exchange.request)) return false;
    char reply[1024];
    std::size_t got = 0;
    while (got < exchange.replyLength) {
        const ssize_t n = ::read(fd_, reply, sizeof reply);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        if (!WaitFor(fd_, POLLIN)) return false;
    }
    return got == exchange.replyLength && WriteAll(exchange.confirmation);
}

}  // namespace jynsim
