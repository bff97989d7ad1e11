#pragma once
// Character-level helpers of the computer link line: hexadecimal fields,
// the sum check and printable names of the control characters.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jynsim {

// Control characters of the computer link dedicated protocol.
inline constexpr char kNulChar = 0x00;
inline constexpr char kStxChar = 0x02;
inline constexpr char kEtxChar = 0x03;
inline constexpr char kEotChar = 0x04;
inline constexpr char kEnqChar = 0x05;
inline constexpr char kAckChar = 0x06;
inline constexpr char kClChar = 0x0C;
inline constexpr char kNakChar = 0x15;

// How a hexadecimal field was written, so the station can tell a usable
// field from one a real module would call a character error.
enum class HexCase { kUpper, kHasLower, kInvalid };

// Value of one hexadecimal digit (either case), or -1.
int HexDigit(char c);
HexCase ClassifyHex(std::string_view text);
// The value of an all-hex field of at most 8 digits (either case).
std::optional<std::uint32_t> ParseHex(std::string_view text);
// Upper-case, zero-padded, exactly `digits` characters (low digits kept).
std::string FormatHex(std::uint32_t value, int digits);
// Low 8 bits of the sum of the byte values.
std::uint8_t SumCheck(std::string_view text);
// Bytes as a person reads them: control characters as <ENQ>, <STX>, others
// outside printable ASCII as <xx>.
std::string Printable(std::string_view bytes);

}  // namespace jynsim
