#include <cstring>

#include "address/gate_kind.h"
#include "protocol/device_field.h"
#include "protocol/hex.h"
#include "protocol/request.h"
#include "protocol/value_buffer.h"

namespace jyn::protocol {

namespace {

using address::GateKind;

std::size_t PutWord(unsigned char* out, const unsigned char* values, std::size_t offset) {
    PutHex(out, LoadWord(values, offset), 4);
    return 4;
}

// The PLC keeps the first character of each pair in the low byte of its
// word, so every word goes out high byte first. The buffer is copied as it
// stands: whatever follows a terminator is sent too.
std::size_t PutString(unsigned char* out, const unsigned char* text, uint32_t roundedLength) {
    std::size_t at = 0;
    for (uint32_t k = 0; 2 * k < roundedLength; ++k) {
        PutHex(out + at, text[2 * k + 1], 2);
        PutHex(out + at + 2, text[2 * k], 2);
        at += 4;
    }
    return at;
}

std::size_t PutSingle(const RequestPlan& plan, const unsigned char* values, unsigned char* out) {
    if (plan.command == 'B' || plan.command == 'J') {
        out[0] = LoadWord(values, kSingleValueOffset) != 0 ? '1' : '0';
        return 1;
    }
    switch (plan.kind) {
        case GateKind::k32Bit: return PutWord(out, values, 0) + PutWord(out + 4, values, 2);
        case GateKind::kString:
            return PutString(out, values, address::RoundedStringLength(plan.request->addressText));
        default: return PutWord(out, values, kSingleValueOffset);
    }
}

// Blocks are word gates or 32-bit gates; elements are packed from byte 0.
std::size_t PutBlock(const RequestPlan& plan, const unsigned char* values, unsigned char* out) {
    const std::size_t wordsPerValue = plan.kind == GateKind::k32Bit ? 2 : 1;
    std::size_t at = 0;
    for (std::size_t word = 0; word < plan.values * wordsPerValue; ++word) {
        at += PutWord(out + at, values, 2 * word);
    }
    return at;
}

}  // namespace

bool BuildWriteRequest(const CallBlock& block, unsigned char* buffer, uint16_t& length,
                       uint32_t function, RequestPlan* planned) {
    RequestPlan plan;
    const bool single = IsSingle(function, kSingleWrite);
    if (!PlanRequest(block, Operation::kWrite, single, plan)) return false;
    const auto* values = static_cast<const unsigned char*>(plan.request->data);
    std::size_t end = PutHeader(plan, Operation::kWrite, buffer);
    if (single) {
        end += PutSingle(plan, values, buffer + end);
    } else {
        end += PutBlock(plan, values, buffer + end);
    }
    FinishFrame(buffer, end, length);
    if (planned != nullptr) *planned = plan;
    return true;
}

}  // namespace jyn::protocol
