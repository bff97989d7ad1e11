// How the driver scales with lines: 1, 2, 4 and 8 lines at once, each a
// paced simulated line with one driver instance and one host thread moving
// a word read, against the line's physical limit, against a bare host
// replaying the same frames on the same number of lines, and in CPU per
// transaction (docs/performance.md, "Several lines at once").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/line_runs.h"

namespace jynbench {

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
