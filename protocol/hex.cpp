#include "protocol/hex.h"

#include "interface/chars.h"

namespace jyn::protocol {

bool ParseHexField(const unsigned char* text, std::size_t digits, uint32_t& value) {
    uint32_t result = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const int digit = chars::HexDigitValue(text[i]);
        if (digit < 0) return false;
        result = result * 16u + static_cast<uint32_t>(digit);
    }
    value = result;
    return true;
}

void PutHex(unsigned char* out, uint32_t value, std::size_t digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = digits; i > 0; --i) {
        out[i - 1] = static_cast<unsigned char>(kDigits[value & 0xFu]);
        value >>= 4;
    }
}

uint8_t SumCheck(const unsigned char* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum & 0xFFu);
}

}  // namespace jyn::protocol
