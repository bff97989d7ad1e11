// The soak's options, and what its lines share while they run: when to
// stop, the count of transactions over all lines, the moment a line's port
// vanished, and how many lines were inside a transfer at once. None of it
// orders the lines' calls (relaxed), so that ThreadSanitizer sees their
// calls into the driver with only the driver's own synchronisation; the
// threads are joined before the figures are read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace jynsoak {

using Clock = std::chrono::steady_clock;

struct SoakOptions {
    int lines = 1;                 // one driver instance and host thread each
    uint64_t transactions = 2000;  // over all lines: each line makes its share
    double seconds = 0;            // 0: no limit besides the count
    uint64_t seed = 20240601;
    uint32_t timeoutUnits = 5;               // reply time-out, units of 10 ms
    double faultShare = 0.25;                // chance of a fault per request (the busiest line's)
    std::vector<jynsim::FaultKind> classes;  // empty: the faults of one reply
    uint32_t baud = 0;                       // the simulator's pacing; 0: none
    uint32_t driverBaud = 0;                 // the driver's; 0: the line's, or the most it takes
    uint32_t slowMs = 0;          // the slow-reply fault's delay; 0: 1.2 to 4 reply time-outs
    bool lateQueue = true;        // a station late with an answer still answers the retries
    double noise = 0;             // bit error rate on the line
    uint32_t slowLogMs = 0;       // the host's logging call takes this long each time
    int32_t jitterMs = -1;        // of a late-jitter station; -1: half a time-out, 10 ms at least
    uint32_t readAheadMs = 0;     // READAHEAD in the station file; 0: off
    bool portCommands = true;     // several lines: line 0 closes, reopens, switches, restarts
    bool vanish = true;           // several lines: the last line's port vanishes a third in
    bool traceEveryLine = false;  // several lines: not only line 0 traces
    bool verbose = false;
    std::string driver;  // path of libRAVEVUD.so
};

// Exit status: 0 passed, 1 failed, 2 could not start.
int RunSoak(const SoakOptions& options);

class RunControl {
public:
    explicit RunControl(const SoakOptions& options)
        : options_(options),
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

    // Inside a transfer for as long as it lives. The run is only worth
    // something if every line was in the driver at the same moment.
    class Inside {
    public:
        explicit Inside(RunControl& c) : c_(c) {
            const int now = c_.inside_.fetch_add(1, kLoose) + 1;
            int seen = c_.most_.load(kLoose);
            while (now > seen && !c_.most_.compare_exchange_weak(seen, now, kLoose)) {
            }
            if (now == c_.options_.lines) c_.allInside_.fetch_add(1, kLoose);
        }
        ~Inside() { c_.inside_.fetch_sub(1, kLoose); }
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;

    private:
        RunControl& c_;
    };
    int MostInside() const { return most_.load(kLoose); }
    // Transfers that began while every other line was inside one.
    uint64_t AllInside() const { return allInside_.load(kLoose); }

private:
    static constexpr std::memory_order kLoose = std::memory_order_relaxed;

    // 1/parts of the run's time has passed.
    bool TimeShare(int parts) const {
        return options_.seconds > 0 && parts * Elapsed() >= options_.seconds;
    }

    const SoakOptions& options_;
    const Clock::time_point start_;
    const uint64_t share_;  // judged transactions each line makes at least
    std::atomic<uint64_t> total_{0};
    std::atomic<int> short_;  // lines that have not made their share yet
    std::atomic<bool> stop_{false};
    std::atomic<bool> vanished_{false};
    std::atomic<int> inside_{0};
    std::atomic<int> most_{0};
    std::atomic<uint64_t> allInside_{0};
};

}  // namespace jynsoak
