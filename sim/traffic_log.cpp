#include "sim/traffic_log.h"

#include <cstdlib>

#include "sim/hex.h"

namespace jynsim {
namespace {

constexpr std::size_t kBytesColumn = 44;
constexpr std::size_t kDataShown = 48;

std::string Clip(const std::string& text) {
    if (text.size() <= kDataShown) return text;
    return text.substr(0, kDataShown) + "...(" + std::to_string(text.size()) + " chars)";
}

std::string StationAndPc(std::string_view bytes) {
    if (bytes.size() < 5) return "(short)";
    return "st " + std::string(bytes.substr(1, 2)) + " pc " + std::string(bytes.substr(3, 2));
}

const char* DirectionText(Direction direction) {
    switch (direction) {
        case Direction::kToPlc: return "host > PLC";
        case Direction::kFromPlc: return "PLC > host";
        case Direction::kNote: break;
    }
    return "  note    ";
}

// One line without the newline: time in seconds, direction, bytes, decoded.
std::string FormatEntry(const TrafficEntry& entry) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%12.6f", static_cast<double>(entry.time.count()) / 1e6);
    std::string line = std::string(stamp) + "  " + DirectionText(entry.direction) + "  ";
    if (entry.direction == Direction::kNote) return line + entry.decoded;
    std::string raw = Printable(entry.bytes);
    if (raw.size() < kBytesColumn) raw.resize(kBytesColumn, ' ');
    return line + raw + "  " + entry.decoded;
}

}  // namespace

std::string DescribeRequest(const Request& request) {
    if (!request.command) return "request";
    const CommandInfo& info = InfoOf(*request.command);
    std::string text = std::string(info.name) + " st " + FormatHex(request.station & 0xFF, 2) +
                       " pc " + FormatHex(request.pc & 0xFF, 2);
    if (request.device) text += " " + DeviceName(*request.device);
    if (info.field_length > 0 && !request.device) text += " field '" + request.field + "'";
    text += " x" + std::to_string(request.points);
    if (request.wait > 0) text += " wait " + std::to_string(request.wait * 10) + "ms";
    if (!request.data.empty()) text += " data " + Clip(Printable(request.data));
    if (!request.sum_ok) text += " (sum wrong)";
    return text;
}

std::string DescribeReply(std::string_view bytes) {
    if (bytes.empty()) return "nothing";
    const char first = bytes[0];
    if (first == kAckChar && bytes.size() == 5) return "ACK " + StationAndPc(bytes);
    if (first == kNakChar && bytes.size() == 7) {
        const auto code = ParseHex(bytes.substr(5, 2));
        return "NAK " + StationAndPc(bytes) + " " + std::string(bytes.substr(5, 2)) + "h " +
               (code ? NakName(static_cast<std::uint8_t>(*code)) : "?");
    }
    const std::size_t etx = bytes.find(kEtxChar);
    if (first == kStxChar && etx != std::string_view::npos && etx >= 5 && bytes.size() == etx + 3) {
        return "data " + StationAndPc(bytes) + " " +
               Clip(Printable(std::string(bytes.substr(5, etx - 5))));
    }
    return "malformed reply (" + std::to_string(bytes.size()) + " bytes)";
}

void DumpTrafficIfAsked(const std::vector<TrafficEntry>& entries, std::string label) {
    const char* folder = std::getenv("JYN_TRAFFIC_DUMP");
    if (folder == nullptr || *folder == '\0') return;
    for (char& c : label) {
        if (c == '/') c = '_';
    }
    std::FILE* file = std::fopen((std::string(folder) + "/" + label + ".txt").c_str(), "a");
    if (file == nullptr) return;
    for (const TrafficEntry& entry : entries) {
        const std::string line = FormatEntry(entry);
        std::fprintf(file, "%s\n", line.substr(line.find_first_not_of(" 0123456789.")).c_str());
    }
    std::fclose(file);
}

void TrafficLog::Add(TrafficEntry entry) {
    if (file_ != nullptr) {
        std::fprintf(file_, "%s\n", FormatEntry(entry).c_str());
        std::fflush(file_);
    }
    if (capacity_ == 0) return;
    if (ring_.size() == capacity_) ring_.pop_front();
    ring_.push_back(std::move(entry));
}

std::vector<std::string> TrafficLog::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(ring_.size());
    for (const TrafficEntry& entry : ring_) lines.push_back(FormatEntry(entry));
    return lines;
}

}  // namespace jynsim
