// The figures as the benchmark prints them: medians of repeated runs, set
// against the line's physical limit and the goals.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/gates.h"
#include "bench/line_runs.h"

namespace jynbench {

struct Goals {
    double slowLineRatio = 0.97;  // 9600 and 19200 baud
    double fastLineRatio = 0.90;  // above 19200 baud
    double cpuPerWordRead = 50e-6;
    double overshootPerAttempt = 2e-3;
    bool shown = true;  // a smoke run shows no verdicts
};

struct PacedRow {
    const GateCase* gateCase;
    uint32_t baud;
    int bitsPerChar;
    std::vector<RunFigures> runs;
    std::vector<RunFigures> reference;  // the reference host, same line, same rounds
};

struct UnpacedRow {
    const GateCase* gateCase;
    std::vector<RunFigures> runs;
    std::vector<RunFigures> reference;
};

struct TimeoutRow {
    double timeoutSeconds;
    int attempts;
    std::vector<TimeoutFigures> runs;
};

// The line's time for one transaction: its characters at the baud rate, plus
// the station's turnaround.
double LimitSeconds(const RunFigures& run, uint32_t baud, int bitsPerChar);
double Ratio(const RunFigures& run, uint32_t baud, int bitsPerChar);

void PrintLoad(const char* when);
void PrintPacedHeader(int bitsPerChar, double turnaroundUs);
void PrintPaced(const PacedRow& row, const Goals& goals);
void PrintUnpacedHeader();
void PrintUnpaced(const UnpacedRow& row, const Goals& goals);
void PrintTimeout(const TimeoutRow& row, const Goals& goals);
// Whatever went wrong in a run, once per row.
void PrintProblems(const char* what, const std::vector<RunFigures>& runs);

}  // namespace jynbench
