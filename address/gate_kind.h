// The four kinds of gate the read and write code tells apart, and the string
// length that string gates carry in their address text.
#pragma once

#include <cstdint>

#include "interface/host_abi.h"

namespace jyn::address {

enum class GateKind { kBit, k32Bit, kString, kWord };

// Timer and counter sub-devices: the sub-device letter in the high byte.
constexpr int32_t PackedCode(char device, char sub) {
    return static_cast<int32_t>(static_cast<unsigned char>(sub)) * 256 +
           static_cast<unsigned char>(device);
}
constexpr int32_t kTS = PackedCode('T', 'S');
constexpr int32_t kTC = PackedCode('T', 'C');
constexpr int32_t kTN = PackedCode('T', 'N');
constexpr int32_t kCS = PackedCode('C', 'S');
constexpr int32_t kCC = PackedCode('C', 'C');
constexpr int32_t kCN = PackedCode('C', 'N');

// Points of one block: the protocol's word commands carry at most 64 words,
// and a 32-bit value takes two of them.
constexpr int32_t kMaxWordPoints = 64;
constexpr int32_t kMax32BitPoints = 32;

constexpr std::size_t kStringMarkerPosition = 8;  // the ninth character
constexpr uint16_t kMaxStringLength = 64;

// The letters of 32-bit register pairs: '1' (file registers), '2' (link
// registers), 'Z' (data registers).
bool Is32BitLetter(int32_t memType);

// Position 8 holds the string marker 'L'. A text that ends earlier has no
// marker: nothing past the terminator is ever read. A null text is empty.
bool HasStringMarker(const char* text);

// The decimal number that follows the marker, digits up to the first other
// character or the terminator, kept to 16 bits; 0 without a marker.
uint16_t StringLength(const char* text);

// The string length rounded up to whole PLC words of two characters.
uint32_t RoundedStringLength(const char* text);

// Tested in this order: bit gate, 32-bit gate, string gate, word gate.
GateKind KindOf(const GateAddress& address, const char* text);

}  // namespace jyn::address
