// What a gate is, as a host configures it, without the driver or the
// simulator: its kind, its address text after the station digits, and the
// device memory it covers. The value-buffer bytes each kind owns and the
// data characters of a good reply are worked out from that description
// alone, never from the driver's own tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jynharness {

enum class Kind { kBit, kWord, k32Bit, kString, kWordBlock, k32BitBlock };
const char* KindName(Kind kind);

struct GateShape {
    const char* suffix;  // the address after the two station digits
    int32_t gateType;
    Kind kind;
    int32_t block;       // points of a block (the largest, where the count varies), 0 for singles
    const char* device;  // device code in the simulator: "D", "X", "TN"
    uint32_t number;     // first device number
    uint32_t chars;      // string gates: characters
    bool anAcpuOnly;     // beyond what the ACPU commands reach
};

inline bool IsBlock(Kind kind) { return kind == Kind::kWordBlock || kind == Kind::k32BitBlock; }
// A string occupies whole words.
inline uint32_t RoundedChars(uint32_t chars) { return chars + (chars & 1); }

// Words of device memory a transfer of `count` points covers.
std::size_t WordsOf(Kind kind, int32_t count, uint32_t chars);

// Bytes of the value buffer a transfer of `count` points may touch: a read
// may store a string's terminator, a write reads only the string's words.
std::size_t OwnedBytes(Kind kind, int32_t count, uint32_t chars, bool write);
inline std::size_t OwnedBytes(const GateShape& shape, bool write) {
    return OwnedBytes(shape.kind, shape.block, shape.chars, write);
}

// Data characters of a good reply to a read of `count` points.
std::size_t ReplyDataChars(Kind kind, int32_t count, uint32_t chars);

}  // namespace jynharness
