// What the lines of a soak share while they run: when to stop,
// the count of transactions over all lines, the moment a line's port
// vanished, and how many lines were inside a transfer at once. None of it
// orders the lines' calls (relaxed): the threads are joined before the
// figures are read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/faults.h"

#include "soak/overlap.h"

namespace jynsoak {

using Clock = std::chrono::steady_clock;

struct SoakOptions {
    int lines = 1;                 // one driver instance and host thread each
    uint64_t transactions = 2000;  // over all lines: each line makes its share
    double seconds = 0;            // 0: no limit besides the count
    uint64_t seed = 20240601;
    uint32_t timeoutUnits = 5;  // reply time-out, units of 10 ms
    double faultShare = 0.25;   // chance of a fault per request (the busiest line's)
    std::vector<jynsim::FaultKind> classes;  // the classes drawn; empty: the faults of one reply
    uint32_t baud = 0;                       // line pacing of the simulator; 0: none
    // The driver's baud rate, which its waits for the line are reckoned in;
    // 0: the line's, or the most the driver takes on a faster or unpaced line.
    uint32_t driverBaud = 0;
    // Delay of the slow-reply fault; 0: drawn from 1.2 to 4 reply time-outs
    // (the late answer comes 0.2 to 3 time-outs after the time-out).
    uint32_t slowMs = 0;
    // A station late with an answer still takes the retries and answers them
    // right after it; false: a retry drops the late answer.
    bool lateQueue = true;
    double noise = 0;  // bit error rate on the line
    // The host's logging call takes this long (ms) each time the driver logs.
    uint32_t slowLogMs = 0;
    // The most a late-jitter station's answers jitter (ms); -1: half a reply
    // time-out, at least 10 ms.
    int32_t jitterMs = -1;
    // READAHEAD = this many ms in the station file; 0: off. The soak then
    // also changes values behind the driver's back, so that a value served
    // from a block can be checked for its age.
    uint32_t readAheadMs = 0;
    bool portCommands = true;     // several lines: line 0 closes, reopens, switches and restarts
    bool vanish = true;           // several lines: the last line's port disappears a third of the way
    bool traceEveryLine = false;  // several lines: line 0 writes a trace; with this, every line does
    bool verbose = false;
    std::string driver;  // path of libRAVEVUD.so
};

class RunControl {
public:
    explicit RunControl(const SoakOptions& options)
        : options_(options),
          overlap_(options.lines),
          start_(Clock::now()),
          share_((options.transactions + options.lines - 1) / options.lines),
          short_(share_ == 0 ? 0 : options.lines) {}

    // One more judged transaction, the line's `own`-th.
    void Counted(uint64_t own) {
        total_.fetch_add(1, kLoose);
        if (own == share_) short_.fetch_sub(1, kLoose);
    }
    uint64_t Total() const { return total_.load(kLoose); }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    // Every line has made its share of the transactions, or the time is up:
    // a line without faults is many times faster than the others and must
    // not end the run for them.
    bool Due() const { return short_.load(kLoose) <= 0 || TimeShare(1); }
    // A third of the way, by the line's own count or by time: when its port
    // vanishes.
    bool AThirdDone(uint64_t own) const { return 3 * own >= share_ || TimeShare(3); }

    void Stop() { stop_.store(true, kLoose); }
    bool Stopped() const { return stop_.load(kLoose); }
    // A vanished line makes no more judged transactions: its share is done.
    void MarkVanished(uint64_t own) {
        vanished_.store(true, kLoose);
        if (own < share_) short_.fetch_sub(1, kLoose);
    }
    bool Vanished() const { return vanished_.load(kLoose); }
    Overlap& Inside() { return overlap_; }
    const Overlap& Inside() const { return overlap_; }

private:
    static constexpr std::memory_order kLoose = std::memory_order_relaxed;

    // 1/parts of the run's time has passed.
    bool TimeShare(int parts) const {
        return options_.seconds > 0 && parts * Elapsed() >= options_.seconds;
    }

    const SoakOptions& options_;
    Overlap overlap_;
    const Clock::time_point start_;
    const uint64_t share_;  // judged transactions each line makes at least
    std::atomic<uint64_t> total_{0};
    std::atomic<int> short_;  // lines that have not made their share yet
    std::atomic<bool> stop_{false};
    std::atomic<bool> vanished_{false};
};

}  // namespace jynsoak
