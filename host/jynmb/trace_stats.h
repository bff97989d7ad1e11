// What a trace says about each station: which transactions to count (by
// station and by time), and their statistics.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/jynmb/trace_file.h"

namespace jynmb::trace {

// A moment as a person gives it: a time stamp as the trace writes it, or a
// part of one ("2026-12-09", "2026-12-09 12:49", "2026-12-09T12:49:34.5Z"),
// or a time of day ("12:49", "12:49:34.25"), which is taken on the day of
// the trace's first transaction. Always UTC, as the trace is.
struct Moment {
    bool timeOfDay = false;
    Micros value = 0;  // since 1970, or since midnight

    Micros On(Micros firstOfTrace) const;
};
bool ParseMoment(const std::string& text, Moment& moment);

// "SS" or "SS:PP", hexadecimal, as the requests carried them.
struct StationChoice {
    std::string station;
    std::string pc;  // empty: any
};
bool ParseStationChoice(const std::string& text, StationChoice& choice);

struct Selection {
    std::vector<StationChoice> stations;  // empty: all
    std::optional<Moment> since;          // transactions that began at it or later
    std::optional<Moment> until;          // ... and before it
};

// The transactions the selection takes, in the order read.
std::vector<const Transaction*> Select(const TraceData& data, const Selection& selection);

struct StationStats {
    std::string station;
    std::string pc;
    uint64_t transactions = 0;
    uint64_t good = 0;
    uint64_t failed = 0;
    uint64_t attempts = 0;
    uint64_t timeouts = 0;
    uint64_t settles = 0;
    uint64_t bytesOut = 0;
    uint64_t bytesIn = 0;
    std::map<std::string, uint64_t> naks;  // by code, "??" for unreadable ones
    std::vector<double> responseMs;        // sorted

    // Nearest rank: the smallest answer time that `share` of them do not exceed.
    double Percentile(double share) const;
};

// One entry per station and PC number, in their order.
std::vector<StationStats> Statistics(const std::vector<const Transaction*>& transactions);

}  // namespace jynmb::trace
