#include "host/jynmb/values/gate_reading.h"

#include <cstdio>

#include "address/gate_kind.h"
#include "address/parse.h"

namespace jynmb {

namespace {

constexpr int64_t kPointsPerWord = 16;
constexpr int32_t kPairWidth = 32;

struct DeviceLetter {
    int32_t memType;
    std::string device;  // as the requests name it
    bool hex;
    bool points;  // a bit device: a word gate covers 16 of its points
};

using jyn::address::kCC, jyn::address::kCN, jyn::address::kCS;
using jyn::address::kTC, jyn::address::kTN, jyn::address::kTS;

// The letters whose device differs from the letter, or whose numbers are
// hexadecimal, or that count points; any other letter is a decimal register.
const DeviceLetter kLetters[] = {
    {'X', "X", true, true},    {'Y', "Y", true, true},    {'B', "B", true, true},
    {'W', "W", true, false},   {'2', "W", true, false},   {'1', "R", false, false},
    {'Z', "D", false, false},  {'S', "D", false, false},  {'M', "M", false, true},
    {'L', "L", false, true},   {'F', "F", false, true},   {kTS, "TS", false, true},
    {kTC, "TC", false, true},  {kCS, "CS", false, true},  {kCC, "CC", false, true},
    {kTN, "TN", false, false}, {kCN, "CN", false, false},
};

DeviceLetter LetterOf(int32_t memType) {
    for (const DeviceLetter& letter : kLetters) {
        if (letter.memType == memType) return letter;
    }
    return {memType, std::string(1, static_cast<char>(memType & 0xFF)), false, false};
}

std::string Number(const DeviceLetter& letter, int64_t number) {
    char text[32];
    std::snprintf(text, sizeof text, letter.hex ? "%s%llX" : "%s%lld", letter.device.c_str(),
                  static_cast<long long>(number));
    return text;
}

// First point or register, and how many the gate covers.
void Span(const GateArg& arg, const jyn::GateAddress& address, const DeviceLetter& letter,
          int64_t& first, int64_t& count) {
    const int64_t gates = arg.IsBlock() ? arg.blockSize : 1;
    first = address.address;
    switch (KindOf(arg, address)) {
        case ValueKind::kBit:
            first = first * kPointsPerWord + address.bitIndex;
            count = 1;
            return;
        case ValueKind::kDword:
            // Once validated, a 32-bit gate's address counts register pairs.
            if (address.bitWidth == kPairWidth) first *= 2;
            count = 2 * gates;
            return;
        case ValueKind::kString: count = (StringLength(arg.text) + 1) / 2; return;
        case ValueKind::kWord: break;
    }
    if (letter.points) {
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
    const DeviceLetter letter = LetterOf(address.memType);
    int64_t first = 0, count = 0;
    Span(arg, address, letter, first, count);
    if (count <= 1) return Number(letter, first);
    return Number(letter, first) + ".." + Number(letter, first + count - 1);
}

}  // namespace jynmb
