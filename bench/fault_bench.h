// What the fault, noise and scan runs of the bench share: one timed
// transfer checked against the simulated station, and the times of many.
#pragma once

#include <string>
#include <vector>

#include "bench/gates.h"
#include "bench/report.h"
#include "sim/simulator.h"

namespace jynbench {

struct TransferTime {
    double seconds = 0;
    std::string problem;  // empty: result 0 and the values arrived
};

// One transfer of `gate`, its values put in place before and checked after,
// then a short quiet on the line before the next.
TransferTime TimedTransfer(DriverHost& host, jynsim::Simulator& sim, Gate& gate);

class Timings {
public:
    void Add(const TransferTime& transfer);
    double Median() const { return SpreadOf(seconds_).median; }
    double Low() const { return SpreadOf(seconds_).low; }
    double High() const { return SpreadOf(seconds_).high; }
    std::size_t Count() const { return seconds_.size(); }
    bool Clean() const { return problem_.empty() && !seconds_.empty(); }
    // The first problem, marked '!' as the other parts of the bench do.
    void PrintProblem(const char* what) const;

private:
    std::vector<double> seconds_;
    std::string problem_;
};

bool BenchFail(const std::string& error);
// The exit status when the runs could not be set up: 2.
int BenchRefuse(const std::string& error);
// The exit status after the runs: 0 when every one was clean, 1 (and a
// pointer to the rows marked '!') when one was not.
int ExitStatus(bool clean);

class BenchLine;
// ColdStart on `line` in a folder of its own whose station file (JYNMB.INT,
// which the driver reads when its instance has none) holds `contents`.
bool AttachWithStationFile(DriverHost& host, BenchLine& line, uint32_t timeoutUnits,
                           const std::string& contents, std::string& error);

}  // namespace jynbench
