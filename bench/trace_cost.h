// What the driver's own trace (TRACE = path in the station file) costs a
// host: every case run again right after its run without the trace, on the
// same line, and the two set side by side.
#pragma once

#include <string>
#include <vector>

#include "bench/report.h"

namespace jynbench {

// The station file of the bench's instance in the current directory, with
// only a TRACE line: each ColdStart reads it, so the trace is on for the
// runs started while it is there.
class TraceSwitch {
public:
    TraceSwitch(std::string stationFile, std::string tracePath)
        : stationFile_(std::move(stationFile)), tracePath_(std::move(tracePath)) {}
    ~TraceSwitch() { Off(); }
    TraceSwitch(const TraceSwitch&) = delete;
    TraceSwitch& operator=(const TraceSwitch&) = delete;

    // False with `error` when the file cannot be written, or is there
    // already and not the bench's own.
    bool On(std::string& error);
    void Off();
    const std::string& TracePath() const { return tracePath_; }

private:
    std::string stationFile_;
    std::string tracePath_;
    bool written_ = false;
};

struct TraceCostGoals {
    double pacedRatioLoss = 0.01;  // of the ratio without the trace
    double cpuRise = 0.25;         // of the CPU per transaction without it
};

void PrintPacedTraceCost(const std::vector<CaseRow>& off, const std::vector<CaseRow>& on,
                         const TraceCostGoals& goals, bool verdicts);
void PrintUnpacedTraceCost(const std::vector<CaseRow>& off, const std::vector<CaseRow>& on,
                           const TraceCostGoals& goals, bool verdicts);
// The trace file's size, to see it was written (and how much).
void PrintTraceFile(const std::string& path);

}  // namespace jynbench
