#pragma once
// What went over the line, frame by frame, in a form a person reads: kept in
// a bounded ring and, optionally, written to a file as it happens.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "sim/request.h"

namespace jynsim {

enum class Direction : std::uint8_t { kToPlc, kFromPlc, kNote };

struct TrafficEntry {
    std::chrono::microseconds time{0};  // line time of the frame's first character
    Direction direction = Direction::kNote;
    std::string bytes;    // raw bytes (empty for notes)
    std::string decoded;  // station, PC, command, device, ... or the note
};

// "BR st 05 pc FF X40 x5 wait 100ms"; write data and loopback text appended.
std::string DescribeRequest(const Request& request);
// "data st 05 pc FF 01101", "ACK st 01 pc FF", "NAK st 01 pc FF 06h character area error".
std::string DescribeReply(std::string_view bytes);

// For comparing the bytes two builds put on the wire: when JYN_TRAFFIC_DUMP
// names a folder, writes the entries without their times to
// <folder>/<label>.txt ('/' in the label becomes '_'), appending.
void DumpTrafficIfAsked(const std::vector<TrafficEntry>& entries, std::string label);

class TrafficLog {
public:
    explicit TrafficLog(std::size_t capacity) : capacity_(capacity) {}
    // Each entry is also written there (and flushed) as it is added; null stops it.
    void SetFile(std::FILE* file) { file_ = file; }
    void Add(TrafficEntry entry);
    std::vector<TrafficEntry> Entries() const { return {ring_.begin(), ring_.end()}; }
    std::vector<std::string> Lines() const;
    void Clear() { ring_.clear(); }

private:
    std::size_t capacity_;
    std::deque<TrafficEntry> ring_;
    std::FILE* file_ = nullptr;
};

}  // namespace jynsim
