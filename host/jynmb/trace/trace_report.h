// What jynmb trace prints: the statistics per station and the failed
// transactions with their frames, as text for a person or as JSON.
#pragma once

#include <string>
#include <vector>

#include "host/jynmb/trace/trace_file.h"
#include "host/jynmb/trace/trace_stats.h"

namespace jynmb::trace {

// The reports in pieces, for traces too large to hold: the head says all
// but the failed transactions' frames, which follow one at a time as a
// second reading of the files finds them (as JSON, kJsonFailedBetween
// between two, kJsonTail after the last).
std::string TextHead(const TraceData& data, const Tally& tally);
// A line per station of a line with READAHEAD: the blocks the driver read
// and the reads they served; empty for a line without it.
std::string ReadAheadText(const std::vector<StationStats>& stations);
std::string TextFailed(const Transaction& txn);
std::string JsonHead(const TraceData& data, const Tally& tally);
std::string FailedJson(const Transaction& txn);
extern const char kJsonFailedBetween[];
extern const char kJsonTail[];

// The whole reports of transactions in memory.

std::string TextReport(const TraceData& data, const std::vector<const Transaction*>& selected);

// One JSON document: "files", "lines", "unreadLines" with "unread" (the
// first few, where and why), "unfinished", "transactions" (selected), "from"
// and "to", "stations" (one object per station and PC number with the
// counts, "naks" by code and "responseMs" {count, p50, p95, max} or null),
// and "failed" (each failed transaction with its "records").
std::string JsonReport(const TraceData& data, const std::vector<const Transaction*>& selected);

}  // namespace jynmb::trace
