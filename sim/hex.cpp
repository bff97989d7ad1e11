#include "sim/hex.h"

#include <array>

namespace jynsim {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

HexCase ClassifyHex(std::string_view text) {
    HexCase result = HexCase::kUpper;
    for (char c : text) {
        if (HexDigit(c) < 0) return HexCase::kInvalid;
        if (c >= 'a' && c <= 'f') result = HexCase::kHasLower;
    }
    return result;
}

std::optional<std::uint32_t> ParseHex(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::string FormatHex(std::uint32_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return text;
}

std::uint8_t SumCheck(std::string_view text) {
    unsigned sum = 0;
    for (char c : text) sum += static_cast<unsigned char>(c);
    return static_cast<std::uint8_t>(sum & 0xFF);
}

namespace {

// Names of the control characters 00h..1Fh, as the manuals write them.
const std::array<const char*, 32> kControlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "CL",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

}  // namespace

std::string Printable(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 8);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
            out += '<';
            out += kControlNames[byte];
            out += '>';
        } else if (byte >= 0x7F) {
            out += '<' + FormatHex(byte, 2) + '>';
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace jynsim
