#include "host/jynmb/plant/traffic_view.h"

#include <cstdio>

#include "sim/hex.h"

namespace jynmb {

namespace {

constexpr std::size_t kBytesColumn = 34;
// ENQ, station number, PC number, command, message wait.
constexpr std::size_t kHeaderLength = 8;
constexpr std::size_t kCountLength = 2;
constexpr std::size_t kSumLength = 2;

const char* DirectionText(jynsim::Direction direction) {
    switch (direction) {
        case jynsim::Direction::kToPlc: return "host > PLC";
        case jynsim::Direction::kFromPlc: return "PLC > host";
        case jynsim::Direction::kNote: break;
    }
    return "note      ";
}

// The command letter decides the form of the device field: the ACPU
// commands carry 5 characters, the extended ones 7.
std::size_t DeviceFieldLength(char command) {
    switch (command) {
        case 'B':
        case 'W': return 5;
        case 'J':
        case 'Q': return 7;
    }
    return 0;
}

}  // namespace

std::string FrameLine(const jynsim::TrafficEntry& entry) {
    std::string line = std::string(DirectionText(entry.direction)) + "  ";
    if (entry.direction == jynsim::Direction::kNote) return line + entry.decoded;
    std::string raw = jynsim::Printable(entry.bytes);
    if (raw.size() < kBytesColumn) raw.resize(kBytesColumn, ' ');
    return line + raw + "  " + entry.decoded;
}

void PrintFrames(const std::vector<jynsim::TrafficEntry>& entries) {
    for (const jynsim::TrafficEntry& entry : entries) {
        std::printf("  %s\n", FrameLine(entry).c_str());
        const std::string fields = entry.direction == jynsim::Direction::kToPlc
                                       ? RequestFields(entry.bytes)
                                       : std::string();
        if (!fields.empty()) std::printf("              %s\n", fields.c_str());
    }
}

std::string RequestFields(const std::string& frame) {
    if (frame.size() < kHeaderLength || frame[0] != jynsim::kEnqChar) return std::string();
    const std::size_t field = DeviceFieldLength(frame[5]);
    const char operation = frame[6];
    const std::size_t fixed = kHeaderLength + field + kCountLength + kSumLength;
    if (field == 0 || (operation != 'R' && operation != 'W') || frame.size() < fixed) {
        return std::string();
    }
    std::string text = "ENQ | station " + frame.substr(1, 2) + " | PC " + frame.substr(3, 2) +
                       " | command " + frame.substr(5, 2) + " | wait " + frame.substr(7, 1) +
                       " | device " + frame.substr(kHeaderLength, field) + " | points " +
                       frame.substr(kHeaderLength + field, kCountLength);
    const std::size_t dataStart = kHeaderLength + field + kCountLength;
    const std::size_t dataLength = frame.size() - dataStart - kSumLength;
    if (dataLength > 0) text += " | data " + jynsim::Printable(frame.substr(dataStart, dataLength));
    return text + " | sum " + frame.substr(frame.size() - kSumLength);
}

}  // namespace jynmb
