// The parts of the bench beside the clean-line runs. The driver on a line
// that is not clean, timed: what one fault of each class costs a
// transaction, how many values a second get through bit errors, and how
// long a host's scan takes with a station switched off, with and without
// the rest (OFFLINE) for silent stations. The read-ahead's scan. And how the
// driver scales with lines: 1, 2, 4 and 8 lines at once, each a paced
// simulated line with one driver instance and one host thread moving a word
// read, against the line's physical limit, against a bare host replaying
// the same frames on the same number of lines, and in CPU per transaction
// (docs/performance.md, "Several lines at once").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/gates.h"
#include "bench/line_runs.h"

namespace jynbench {

// `repeat`: transactions of each fault class, rounds of each noise run;
// `smoke`: short time-outs too.
struct FaultBenchOptions : RunOptions {
    std::vector<uint32_t> bauds = {9600, 115200};
};

// One fault of each class in the first attempt of a word read (a word
// write for the classes that hit an ACK), against the same transaction on a
// clean line. `gates` are the bench's configured cases (kGateCases).
bool RunFaultCosts(DriverHost& host, std::vector<Gate>& gates, const FaultBenchOptions& options);

// Good transfers a second at bit error rates 1e-4 and 1e-3 against the
// clean line, with a 200 ms reply time-out.
bool RunNoise(DriverHost& host, std::vector<Gate>& gates, const FaultBenchOptions& options);

// Ten gates on a live station and ten on one that is switched off, with a
// 1 s reply time-out: a scan without the rest, and scans with OFFLINE = 30
// over at least two rest periods after the station was found silent.
bool RunScan(DriverHost& host, const FaultBenchOptions& options);

// A whole scan of single reads with and without READAHEAD in the station
// file: 64 word gates, 128 bit gates, a mixed plant on two stations.
bool RunReadAhead(DriverHost& host, const FaultBenchOptions& options);

struct LinesOptions : RunOptions {
    std::vector<uint32_t> lines = {1, 2, 4, 8};
    // 0: unpaced, the pseudo-terminal at full speed, for CPU per transaction.
    std::vector<uint32_t> bauds = {9600, 115200, 0};
    std::string driver;
};

// Exit status: 0 when every run was clean, 1 when one was not, 2 when the
// lines could not be set up.
int RunLines(const LinesOptions& options);

}  // namespace jynbench
