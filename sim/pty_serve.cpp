// The serving thread of the pseudo-terminal front end.
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "sim/hex.h"
#include "sim/pty_server.h"

namespace jynsim {
namespace {

// Longest wait of one poll: Stop comes at once through the wake pipe; this
// only bounds how late a time-driven event (a paced byte, a stall) can be.
constexpr int kMaxPollMs = 20;
constexpr std::size_t kReadChunk = 1024;
constexpr int kReadsPerWake = 8;
constexpr std::size_t kMaxUnsent = 1 << 16;

// To the microsecond: a paced character must leave when the line is free,
// not at the next whole millisecond, or short frames at high rates would
// come late by a good part of their own length.
timespec PollTimeout(const std::optional<Micros>& next, Micros now) {
    long long wait = kMaxPollMs * 1000LL;
    if (next) wait = std::clamp<long long>((*next - now).count(), 0, wait);
    return timespec{static_cast<time_t>(wait / 1000000),
                    static_cast<long>((wait % 1000000) * 1000)};
}

}  // namespace

void PtyServer::Serve() {
    while (!stop_) {
        const Micros now = Now();
        const short events = static_cast<short>(POLLIN | (unsent_.empty() ? 0 : POLLOUT));
        pollfd fds[2] = {{master_, events, 0}, {wake_[0], POLLIN, 0}};
        const timespec timeout = PollTimeout(simulator_.NextEvent(), now);
        const int ready = ppoll(fds, 2, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && fds[1].revents != 0) break;
        if (ready > 0 && (fds[0].revents & POLLIN) != 0 && !ReadFromHost(Now())) break;
        if (ready > 0 && (fds[0].revents & POLLHUP) != 0) {
            // Only seen if the kept slave is gone; wait for Stop without spinning.
            poll(&fds[1], 1, kMaxPollMs);
        }
        std::string output = simulator_.TakeOutput(Now());
        if (!output.empty() && line_ && HostMatch() != LineMatch::kSame) {
            Note(Now(), "the host's port is set otherwise: it hears garbage");
            output = GarbleForOtherFrame(output);
        }
        unsent_ += output;
        WriteToHost();
    }
}

bool PtyServer::ReadFromHost(Micros now) {
    char buffer[kReadChunk];
    for (int i = 0; i < kReadsPerWake; ++i) {
        const ssize_t count = read(master_, buffer, sizeof buffer);
        if (count > 0) {
            const std::string_view bytes(buffer, static_cast<std::size_t>(count));
            if (line_ && HostMatch() == LineMatch::kOtherBaud) {
                Note(now,
                     "not heard, the host's port is at another baud rate: " + Printable(bytes));
            } else {
                simulator_.Receive(bytes, now);
            }
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        // EAGAIN: all read. EIO: no slave open at the moment (not with ours kept).
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EIO);
    }
    return true;
}

void PtyServer::WriteToHost() {
    while (!unsent_.empty()) {
        const ssize_t count = write(master_, unsent_.data(), unsent_.size());
        if (count > 0) {
            unsent_.erase(0, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        break;  // EAGAIN: the slave's input queue is full; poll for POLLOUT
    }
    // Nobody reads the slave: keep the newest bytes only, bounded.
    if (unsent_.size() > kMaxUnsent) unsent_.erase(0, unsent_.size() - kMaxUnsent);
}

LineMatch PtyServer::HostMatch() {
    const auto host = ReadHostFormat(master_, host_format_file_, slave_path_);
    return host ? CompareFormats(*line_, *host) : LineMatch::kOtherBaud;
}

void PtyServer::Note(Micros now, const std::string& text) {
    simulator_.WithEngine([&](LineEngine& engine) {
        engine.Log().Add({now, Direction::kNote, std::string(), text});
    });
}

}  // namespace jynsim
