#include "protocol/reply_data.h"

#include <cstring>

#include "address/gate_kind.h"
#include "interface/log.h"
#include "protocol/hex.h"
#include "protocol/request.h"
#include "protocol/value_buffer.h"

namespace jyn::protocol {

namespace {

using address::GateKind;

constexpr std::size_t kWordDigits = 4;

// The reply as far as it goes: a field past its end is as bad as a field
// with a character that is no hexadecimal digit, and neither may reach the
// host as a value.
struct ReplyData {
    const unsigned char* data;
    std::size_t length;

    bool Word(std::size_t index, uint32_t& value) const {
        const std::size_t start = index * kWordDigits;
        if (start > length || length - start < kWordDigits) return false;
        return ParseHexField(data + start, kWordDigits, value);
    }
};

int32_t IllegalHex() {
    LogError("JYNMB> StoreData() illegal HEX data");
    return kGateFailure;
}

int32_t StoreBit(const ReplyData& reply, unsigned char* values) {
    const unsigned char state = reply.length > 0 ? reply.data[0] : '\0';
    if (state != '0' && state != '1') {
        LogInfo("JYNMB> StoreData() illegal BIT data");
        return kGateFailure;
    }
    StoreWord(values, kSingleValueOffset, state == '1' ? 1u : 0u);
    return kOk;
}

// The lower device word stays stored when the second one is bad.
int32_t Store32Bit(const ReplyData& reply, std::size_t index, unsigned char* values) {
    uint32_t word = 0;
    for (std::size_t half = 0; half < 2; ++half) {
        if (!reply.Word(2 * index + half, word)) return IllegalHex();
        StoreWord(values, 4 * index + 2 * half, word);
    }
    return kOk;
}

// Every word is decoded before the host's buffer is touched, so a bad reply
// leaves the old text in place.
int32_t StoreString(const ReplyData& reply, const char* addressText, unsigned char* text) {
    const uint32_t roundedLength = address::RoundedStringLength(addressText);
    unsigned char work[address::kMaxStringLength + 2] = {};
    if (roundedLength > address::kMaxStringLength) return IllegalHex();
    for (uint32_t k = 0; 2 * k < roundedLength; ++k) {
        uint32_t word = 0;
        if (!reply.Word(k, word)) return IllegalHex();
        work[2 * k] = static_cast<unsigned char>(word & 0xFFu);
        work[2 * k + 1] = static_cast<unsigned char>(word >> 8);
    }
    const std::size_t characters = std::strlen(reinterpret_cast<const char*>(work));
    std::memcpy(text, work, characters + 1);
    return kOk;
}

int32_t StoreSingle(const GateRequest& request, const ReplyData& reply, unsigned char* values) {
    switch (address::KindOf(request.gateAddress, request.addressText)) {
        case GateKind::kBit: return StoreBit(reply, values);
        case GateKind::k32Bit: return Store32Bit(reply, 0, values);
        case GateKind::kString: return StoreString(reply, request.addressText, values);
        case GateKind::kWord: break;
    }
    uint32_t word = 0;
    if (!reply.Word(0, word)) return IllegalHex();
    StoreWord(values, kSingleValueOffset, word);
    return kOk;
}

int32_t StoreBlock(const GateRequest& request, const ReplyData& reply, unsigned char* values) {
    const bool wide = address::Is32BitLetter(request.gateAddress.memType);
    for (int32_t i = 0; i < request.count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (wide) {
            if (Store32Bit(reply, index, values) != kOk) return kGateFailure;
            continue;
        }
        uint32_t word = 0;
        if (!reply.Word(index, word)) {
            LogError("JYNMB> StoreData() illegal HEX data in block");
            return kGateFailure;
        }
        StoreWord(values, 2 * index, word);
    }
    return kOk;
}

}  // namespace

int32_t StoreData(const GateRequest& request, const unsigned char* data, std::size_t dataLength,
                  uint32_t function) {
    const ReplyData reply{data, dataLength};
    auto* values = static_cast<unsigned char*>(request.data);
    if (IsSingle(function, kSingleRead)) return StoreSingle(request, reply, values);
    return StoreBlock(request, reply, values);
}

}  // namespace jyn::protocol
