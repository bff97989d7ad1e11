#include "host/jynmb/values/value_buffer.h"

namespace jynmb {

namespace {

void PutWord(unsigned char* buffer, std::size_t offset, uint32_t value) {
    buffer[offset] = static_cast<unsigned char>(value & 0xFF);
    buffer[offset + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

uint32_t GetWord(const unsigned char* buffer, std::size_t offset) {
    return static_cast<uint32_t>(buffer[offset] | (buffer[offset + 1] << 8));
}

unsigned RoundedLength(const GateArg& arg) {
    const unsigned length = StringLength(arg.text);
    return length + (length & 1u);
}

}  // namespace

void EncodeValue(ValueKind kind, const GateArg& arg, const Value& value, unsigned char* buffer) {
    if (kind == ValueKind::kString) {
        for (std::size_t i = 0; i < value.text.size() && i < kValueBufferSize - 1; ++i) {
            buffer[i] = static_cast<unsigned char>(value.text[i]);
        }
        return;
    }
    for (std::size_t i = 0; i < value.numbers.size(); ++i) {
        const auto number = static_cast<uint64_t>(value.numbers[i]);
        if (kind == ValueKind::k32Bit) {
            PutWord(buffer, 4 * i, static_cast<uint32_t>(number & 0xFFFF));
            PutWord(buffer, 4 * i + 2, static_cast<uint32_t>((number >> 16) & 0xFFFF));
        } else {
            PutWord(buffer, arg.IsBlock() ? 2 * i : 2, static_cast<uint32_t>(number & 0xFFFF));
        }
    }
}

Value DecodeValue(ValueKind kind, const GateArg& arg, const unsigned char* buffer) {
    Value value;
    if (kind == ValueKind::kString) {
        const unsigned limit = RoundedLength(arg);
        for (unsigned i = 0; i < limit && buffer[i] != 0; ++i)
            value.text += static_cast<char>(buffer[i]);
        return value;
    }
    const std::size_t points = arg.IsBlock() ? static_cast<std::size_t>(arg.blockSize) : 1;
    for (std::size_t i = 0; i < points; ++i) {
        if (kind == ValueKind::k32Bit) {
            value.numbers.push_back(GetWord(buffer, 4 * i) |
                                    (int64_t{GetWord(buffer, 4 * i + 2)} << 16));
        } else {
            value.numbers.push_back(GetWord(buffer, arg.IsBlock() ? 2 * i : 2));
        }
    }
    return value;
}

}  // namespace jynmb
