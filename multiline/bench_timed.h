// One line's timed run in the bench of several lines: the host's transfers
// in a loop on the line's own thread, and what the simulator saw of them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "multiline/bench_lines.h"
#include "sim/simulator.h"

namespace jynmulti {

// All host threads of a run begin their transfers together.
class StartLine {
public:
    explicit StartLine(std::size_t count) : waiting_(count) {}
    void Arrive();

private:
    std::mutex mutex_;
    std::condition_variable all_;
    std::size_t waiting_;
};

struct TimedPlan {
    double seconds = 2.0;
    std::size_t minTransactions = 5;
    std::size_t warmup = 3;
};

// One transaction of some host; false when it failed.
using Transfer = std::function<bool()>;

// On the line's host thread: the warm-up leads straight into the timed loop,
// so that the window begins and ends just after the host has handed over
// its last frame of a transaction. The driver must say nothing meanwhile.
LineFigures TimedTransfers(jynsim::Simulator& sim, const Transfer& transfer, const TimedPlan& plan,
                           StartLine& start);

}  // namespace jynmulti
