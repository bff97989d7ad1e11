// The PLC devices a gate can name, as one table: the device the line
// carries for each memory-type letter, how its number is written and
// counted, and how far each CPU family reaches into it. The address parser,
// the request builders, the read-ahead and jynmb's device names all read
// this table, so a device can never mean one thing to one of them and
// another to the next.
#pragma once

#include <cstdint>

namespace jyn::address {

// How a gate's `address` turns into the device number on the line.
enum class Numbering {
    kRegister,  // the register number itself
    kPair,      // 32-bit gates keep half the number of their first register
    kGroup,     // bit devices: 16-point groups, a bit gate adds its point
};

struct DeviceRule {
    int32_t memType;  // as the parser leaves it in GateAddress.memType
    int32_t device;   // the device the line names, packed as memType is
    unsigned radix;   // of the device number, on the line and in the text
    Numbering numbering;
    // The ACPU commands reach only the low end of each device: the last
    // device number they carry, counted in words and in bits. Past it an
    // ACPU needs the extended commands, as an AnACPU always does.
    int64_t acpuWordLimit;
    int64_t acpuBitLimit;
    // The last device number an AnACPU (A3A class) has, in points for a bit
    // device, in registers otherwise.
    int64_t anacpuLast;
};

// The rule of `memType`, or null for a letter that names no device. A
// device code ('D', kTN) is also the memType of its own plain gates, so
// the rule of a line's device is found the same way.
const DeviceRule* FindDevice(int32_t memType);

// A bit device: its gates address single points, a word gate 16 of them.
bool IsBitDevice(int32_t memType);

// A packed device or memType code as the line and the messages write it:
// "D", "TN". Zero-terminated.
struct CodeText {
    char text[3];
};
CodeText CodeOf(int32_t packed);

}  // namespace jyn::address
