// What the lines of a multi-line run share while they run: when to stop,
// the count of transactions over all lines, the moment a line's port
// vanished, and how many lines were inside a transfer at once. None of it
// orders the lines' calls (relaxed): the threads are joined before the
// figures are read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "multiline/overlap.h"

namespace jynmulti {

using Clock = std::chrono::steady_clock;

struct RunOptions {
    int lines = 4;
    uint64_t transactions = 2000;  // over all lines: each line makes its share
    double seconds = 0;            // 0: no limit besides the count
    uint64_t seed = 20240601;
    uint32_t timeoutUnits = 5;    // reply time-out, units of 10 ms
    double faultShare = 0.25;     // of the line with the most faults
    uint32_t baud = 0;            // line pacing of the simulator; 0: none
    bool portCommands = true;     // line 0 closes, reopens, switches and restarts
    bool vanish = true;           // the last line's port disappears a third of the way
    bool traceEveryLine = false;  // line 0 writes a trace; with this, every line does
    bool verbose = false;
    std::string driver;
};

class RunControl {
public:
    explicit RunControl(const RunOptions& options)
        : options_(options),
          overlap_(options.lines),
          start_(Clock::now()),
          share_((options.transactions + options.lines - 1) / options.lines),
          short_(options.lines) {}

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

    const RunOptions& options_;
    Overlap overlap_;
    const Clock::time_point start_;
    const uint64_t share_;  // judged transactions each line makes at least
    std::atomic<uint64_t> total_{0};
    std::atomic<int> short_;  // lines that have not made their share yet
    std::atomic<bool> stop_{false};
    std::atomic<bool> vanished_{false};
};

}  // namespace jynmulti
