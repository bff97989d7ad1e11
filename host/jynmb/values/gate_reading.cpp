#include "host/jynmb/values/gate_reading.h"

#include <cstdio>

#include "address/device_table.h"
#include "address/gate_kind.h"
#include "address/parse.h"

namespace jynmb {

namespace {

constexpr int64_t kPointsPerWord = 16;
constexpr int32_t kPairWidth = 32;

// How the device of a gate's letter is named, from the driver's device
// table; a letter the table does not know is named as a decimal register.
struct Naming {
    jyn::address::CodeText device;
    bool hex;
    bool points;  // a bit device: a word gate covers 16 of its points
};

Naming NamingOf(int32_t memType) {
    const jyn::address::DeviceRule* rule = jyn::address::FindDevice(memType);
    if (rule == nullptr) return {jyn::address::CodeOf(memType & 0xFF), false, false};
    return {jyn::address::CodeOf(rule->device), rule->radix == 16,
            rule->numbering == jyn::address::Numbering::kGroup};
}

std::string Number(const Naming& naming, int64_t number) {
    char text[32];
    std::snprintf(text, sizeof text, naming.hex ? "%s%llX" : "%s%lld", naming.device.text,
                  static_cast<long long>(number));
    return text;
}

// First point or register, and how many the gate covers.
void Span(const GateArg& arg, const jyn::GateAddress& address, const Naming& naming, int64_t& first,
          int64_t& count) {
    const int64_t gates = arg.IsBlock() ? arg.blockSize : 1;
    first = address.address;
    switch (KindOf(arg, address)) {
        case ValueKind::kBit:
            first = first * kPointsPerWord + address.bitIndex;
            count = 1;
            return;
        case ValueKind::k32Bit:
            // Once validated, a 32-bit gate's address counts register pairs.
            if (address.bitWidth == kPairWidth) first *= 2;
            count = 2 * gates;
            return;
        case ValueKind::kString:
            count = jyn::address::RoundedStringLength(arg.text.c_str()) / 2;
            return;
        case ValueKind::kWord: break;
    }
    if (naming.points) {
        first *= kPointsPerWord;
        count = kPointsPerWord * gates;
    } else {
        count = gates;
    }
}

}  // namespace

std::vector<std::size_t> UnreadPositions(const GateArg& arg) {
    const jyn::address::TextReading reading =
        jyn::address::ReadingOf(arg.text.c_str(), arg.gateType);
    std::vector<std::size_t> unread;
    for (std::size_t i = 0; i < reading.length; ++i) {
        if (reading.unread[i]) unread.push_back(i);
    }
    return unread;
}

std::string CaretLine(const std::vector<std::size_t>& unread) {
    std::string line;
    for (const std::size_t position : unread) {
        line.resize(position, ' ');
        line += '^';
    }
    return line;
}

std::string DeviceName(const GateArg& arg, const jyn::GateAddress& address) {
    const Naming naming = NamingOf(address.memType);
    int64_t first = 0, count = 0;
    Span(arg, address, naming, first, count);
    if (count <= 1) return Number(naming, first);
    return Number(naming, first) + ".." + Number(naming, first + count - 1);
}

}  // namespace jynmb
