// The reference host's run of a case: the bare host of sim/reference_host.h
// on the bench's line, timed as the driver is.
#pragma once

#include "bench/line_runs.h"
#include "sim/reference_host.h"

namespace jynbench {

using jynsim::CaptureExchange;
using jynsim::Exchange;

RunFigures RunReference(BenchLine& line, const Exchange& exchange, const RunPlan& plan);

}  // namespace jynbench
