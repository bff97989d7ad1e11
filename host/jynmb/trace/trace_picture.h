// A trace as a picture to take in at a glance: the stations' answer times
// against the time of day, one row per station, with the failed and the
// retried transactions marked above their row.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/jynmb/trace/trace_file.h"
#include "host/jynmb/trace/trace_stats.h"

namespace jynmb::trace {

// An SVG document. Each answer is a circle of class "rt", each failed
// transaction a cross of class "fail", each transaction that succeeded only
// after a retry a triangle of class "retry"; every one of them carries its
// row's station and PC number (data-st, data-pc), and how many of the row's
// answers or transactions it stands for (data-n): those that fall on the
// same spot are drawn once.
//
// The tally's transactions are drawn as `replay` gives them again, one at a
// time, to the sink it is handed (the selected ones, in the order read):
// the picture holds its spots, never the transactions. An empty string
// when the replay fails.
using Replay = std::function<bool(const TransactionSink& sink)>;
std::string Picture(const Tally& tally, const Replay& replay);
// The same for transactions in memory.
std::string Picture(const std::vector<const Transaction*>& transactions);

}  // namespace jynmb::trace
