// The figures as the benchmark prints them: medians of repeated runs, set
// against the line's physical limit and the goals.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/gates.h"
#include "bench/line_runs.h"

namespace jynbench {

struct Goals {
    double slowLineRatio = 0.97;  // 9600 and 19200 baud
    double fastLineRatio = 0.90;  // above 19200 baud
    double cpuPerWordRead = 50e-6;
    double overshootPerAttempt = 2e-3;
    // The driver's trace: what it may cost of the ratio without it, paced,
    // and of the CPU per transaction, unpaced.
    double tracedRatioLoss = 0.01;
    double tracedCpuRise = 0.25;
    bool shown = true;  // a smoke run shows no verdicts
};

// "met", "MISSED", or nothing when no verdicts are shown.
const char* GoalVerdict(bool met, bool shown);
// Empty for a clean run; otherwise what went wrong first.
std::string Trouble(const RunFigures& run);

// One gate's runs on one line; baud 0: the unpaced line.
struct CaseRow {
    const GateCase* gateCase;
    uint32_t baud;
    std::vector<RunFigures> runs;
    std::vector<RunFigures> reference;  // the reference host, same line, same rounds
};

struct TimeoutRow {
    double timeoutSeconds;
    int attempts;
    std::vector<TimeoutFigures> runs;
};

// The line's time for one transaction: its characters at the baud rate, plus
// the station's turnaround. An unpaced line (baud 0) has none: ratio 0.
double LimitSeconds(const RunFigures& run, uint32_t baud);
double Ratio(const RunFigures& run, uint32_t baud);

void PrintLoad(const char* when);
void PrintPacedHeader(double turnaroundUs);
void PrintPaced(const CaseRow& row, const Goals& goals);
void PrintUnpacedHeader();
void PrintUnpaced(const CaseRow& row, const Goals& goals);
void PrintTimeout(const TimeoutRow& row, const Goals& goals);
// Whatever went wrong in a run, once per row.
void PrintProblems(const char* what, const std::vector<RunFigures>& runs);

// What the driver's own trace (TRACE = path in the station file) costs a
// host: every case run again right after its run without the trace, on the
// same line, and the two set side by side.
void PrintPacedTraceCost(const std::vector<CaseRow>& off, const std::vector<CaseRow>& on,
                         const Goals& goals);
void PrintUnpacedTraceCost(const std::vector<CaseRow>& off, const std::vector<CaseRow>& on,
                           const Goals& goals);
// The trace file's size, to see it was written (and how much).
void PrintTraceFile(const std::string& path);

}  // namespace jynbench
