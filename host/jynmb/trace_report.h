// What jynmb trace prints: the statistics per station and the failed
// transactions with their frames, as text for a person or as JSON.
#pragma once

#include <string>
#include <vector>

#include "host/jynmb/trace_file.h"

namespace jynmb::trace {

std::string TextReport(const TraceData& data, const std::vector<const Transaction*>& selected);

// One JSON document: "files", "lines", "unreadLines" with "unread" (the
// first few, where and why), "unfinished", "transactions" (selected), "from"
// and "to", "stations" (one object per station and PC number with the
// counts, "naks" by code and "responseMs" {count, p50, p95, max} or null),
// and "failed" (each failed transaction with its "records").
std::string JsonReport(const TraceData& data, const std::vector<const Transaction*>& selected);

}  // namespace jynmb::trace
