// How the driver reads characters of the host's texts (gate addresses, the
// station file) and of the line: the way the formatted scans these texts
// were always read with see them, in the "C" locale whatever the host sets.
#pragma once

namespace jyn::chars {

// The blanks a formatted scan skips before a number.
constexpr bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

constexpr char ToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// 0..15 for a hexadecimal digit of either case, -1 for any other character.
constexpr int HexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A digit of `radix` (10 or 16), or -1.
constexpr int DigitValue(char c, unsigned radix) {
    const int value = HexDigitValue(static_cast<unsigned char>(c));
    return value >= 0 && static_cast<unsigned>(value) < radix ? value : -1;
}

}  // namespace jyn::chars
