// What a trace says about each station: which transactions to count (by
// station and by time), and their statistics.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/jynmb/trace/trace_file.h"

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

// Takes transactions one at a time, in the order read: the selection's
// times of day fall on the day of the first transaction it is shown.
class Selector {
public:
    explicit Selector(const Selection& selection) : selection_(selection) {}
    bool Takes(const Transaction& txn);

private:
    const Selection& selection_;
    bool resolved_ = false;
    std::optional<Micros> since_;
    std::optional<Micros> until_;
};

// The transactions the selection takes, in the order read.
std::vector<const Transaction*> Select(const TraceData& data, const Selection& selection);

// Answer times in a fixed amount of memory however many there are: exact
// to the microsecond below 2 ms, within 0.1 % above; the longest exact.
class Answers {
public:
    void Add(Micros micros);
    uint64_t Count() const { return count_; }
    bool Empty() const { return count_ == 0; }
    // Nearest rank: the smallest answer time that `share` of them do not
    // exceed, in milliseconds; 0 without answers.
    double Percentile(double share) const;
    double MaxMs() const { return static_cast<double>(max_) / 1e3; }

private:
    std::map<uint32_t, uint64_t> buckets_;  // at most some 56 000 of them
    uint64_t count_ = 0;
    Micros max_ = 0;
};

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
    Answers answers;
    // READAHEAD: the blocks the driver read, and the host's reads they served.
    uint64_t readAheadBlocks = 0;
    uint64_t readAheadServed = 0;
    Answers late;  // answers that came after their attempt had given up
};

// The statistics of the selected transactions, gathered one at a time.
class Tally {
public:
    void Add(const Transaction& txn);
    // One entry per station and PC number, in their order.
    std::vector<StationStats> Stations() const;
    uint64_t Selected() const { return selected_; }
    uint64_t Failed() const { return failed_; }
    // From the first transaction's start to the last one's end.
    Micros From() const { return from_; }
    Micros To() const { return to_; }
    // The same, and the last answer: what a picture of them spans.
    Micros LastMoment() const { return last_; }

private:
    std::map<std::pair<std::string, std::string>, StationStats> stations_;
    uint64_t selected_ = 0;
    uint64_t failed_ = 0;
    Micros from_ = 0;
    Micros to_ = 0;
    Micros last_ = 0;
};

// One entry per station and PC number, in their order.
std::vector<StationStats> Statistics(const std::vector<const Transaction*>& transactions);

}  // namespace jynmb::trace
