// How the driver scales with lines: 1, 2, 4 and 8 lines at once, each a
// paced simulated line with one driver instance and one host thread moving
// a word read, against the line's physical limit, against a bare host
// replaying the same frames on the same number of lines, and in CPU per
// transaction. The limit and the reference host are measured the way
// jyn_bench measures them for one line (docs/performance.md).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jynmulti {

struct BenchOptions {
    std::vector<uint32_t> lines = {1, 2, 4, 8};
    // 0: unpaced, the pseudo-terminal at full speed, for CPU per transaction.
    std::vector<uint32_t> bauds = {9600, 115200, 0};
    double seconds = 2.0;  // timed seconds of each run
    int repeat = 5;        // rounds; every case once a round
    bool reference = true;
    bool smoke = false;  // a few transactions, one round, no verdicts
    std::string driver;
};

// Exit status: 0 when every run was clean, 1 when one was not, 2 when the
// lines could not be set up.
int RunBench(const BenchOptions& options);

// --- what the runs measure and the report prints ---

// One line's timed run, with the simulator's account of it.
struct LineFigures {
    uint64_t transactions = 0;
    double seconds = 0;
    double cpuSeconds = 0;  // the host thread's, user and system
    double chars = 0;       // characters on the line per transaction
    double turnaround = 0;  // the station's, per transaction, seconds
    std::string problem;    // empty: clean

    double PerSecond() const { return seconds > 0 ? transactions / seconds : 0; }
    double Limit(uint32_t baud) const { return baud > 0 ? chars * 10 / baud + turnaround : 0; }
    double Ratio(uint32_t baud) const { return PerSecond() * Limit(baud); }
};

// All lines of one run, side by side.
struct LinesRun {
    std::vector<LineFigures> lines;

    double WorstRatio(uint32_t baud) const;
    double MeanRatio(uint32_t baud) const;
    double Total() const;  // transactions per second over all lines
    double CpuPerTransaction() const;
    // The worst line's ratio to the same line's in `reference`.
    double WorstAgainst(const LinesRun& reference, uint32_t baud) const;
    std::string Problem() const;
};

struct BenchCase {
    uint32_t baud;
    uint32_t lines;
    std::vector<LinesRun> driver;
    std::vector<LinesRun> reference;  // the same rounds, right after the driver's
};

struct MemoryFigures {
    uint32_t lines = 0;
    double driverHeapPerLine = 0;  // bytes the driver allocated at ColdStart
    uint32_t contextSize = 0;      // the host's context, per line
    double rssPerLine = 0;         // the process, simulated line and threads included
};

void PrintCases(const std::vector<BenchCase>& cases, const BenchOptions& options);
void PrintGoals(const std::vector<BenchCase>& cases);
void PrintMemory(const MemoryFigures& memory);

}  // namespace jynmulti
