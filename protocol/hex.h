// Hexadecimal characters on the line. Requests are sent in upper case;
// replies are read in either case, and only whole fields of hexadecimal
// digits are values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jyn::protocol {

// Reads exactly `digits` hexadecimal digits at `text`; false if any of them
// is not one.
bool ParseHexField(const unsigned char* text, std::size_t digits, uint32_t& value);

// Writes `value` as `digits` upper-case hexadecimal digits (the low digits
// of a larger value).
void PutHex(unsigned char* out, uint32_t value, std::size_t digits);

// The protocol's sum check: the byte values added, low 8 bits.
uint8_t SumCheck(const unsigned char* bytes, std::size_t count);

}  // namespace jyn::protocol
