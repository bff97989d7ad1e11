#include "address/device_table.h"

#include "address/gate_kind.h"

namespace jyn::address {

namespace {

constexpr DeviceRule kDevices[] = {
    {'X', 'X', 16, Numbering::kGroup, 2047, 2047, 0x7FF},
    {'Y', 'Y', 16, Numbering::kGroup, 2047, 2047, 0x7FF},
    {'B', 'B', 16, Numbering::kGroup, 2047, 2047, 0xFFF},
    {'M', 'M', 10, Numbering::kGroup, 1023, 2047, 8191},
    {'L', 'L', 10, Numbering::kGroup, 1023, 2047, 8191},
    {'F', 'F', 10, Numbering::kGroup, 255, 255, 2047},
    {kTS, kTS, 10, Numbering::kGroup, 255, 255, 2047},
    {kTC, kTC, 10, Numbering::kGroup, 255, 255, 2047},
    {kCS, kCS, 10, Numbering::kGroup, 255, 255, 1023},
    {kCC, kCC, 10, Numbering::kGroup, 255, 255, 1023},
    {kTN, kTN, 10, Numbering::kRegister, 255, 255, 2047},
    {kCN, kCN, 10, Numbering::kRegister, 255, 255, 1023},
    {'D', 'D', 10, Numbering::kRegister, 1023, 1023, 8191},
    {'R', 'R', 10, Numbering::kRegister, 2047, 2047, 8191},
    {'W', 'W', 16, Numbering::kRegister, 1023, 1023, 0xFFF},
    {'S', 'D', 10, Numbering::kRegister, 1023, 1023, 8191},
    {'1', 'R', 10, Numbering::kPair, 2047, 2047, 8191},
    {'2', 'W', 16, Numbering::kPair, 1023, 1023, 0xFFF},
    {'Z', 'D', 10, Numbering::kPair, 1023, 1023, 8191},
};

}  // namespace

const DeviceRule* FindDevice(int32_t memType) {
    for (const DeviceRule& rule : kDevices) {
        if (rule.memType == memType) return &rule;
    }
    return nullptr;
}

bool IsBitDevice(int32_t memType) {
    const DeviceRule* rule = FindDevice(memType);
    return rule != nullptr && rule->numbering == Numbering::kGroup;
}

CodeText CodeOf(int32_t packed) {
    CodeText code{};
    code.text[0] = static_cast<char>(packed & 0xFF);
    code.text[1] = static_cast<char>((packed >> 8) & 0xFF);
    return code;
}

}  // namespace jyn::address
