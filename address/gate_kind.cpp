#include "address/gate_kind.h"

#include "address/device_table.h"

namespace jyn::address {

bool Is32BitLetter(int32_t memType) {
    const DeviceRule* rule = FindDevice(memType);
    return rule != nullptr && rule->numbering == Numbering::kPair;
}

bool HasStringMarker(const char* text) {
    if (text == nullptr) return false;
    for (std::size_t i = 0; i < kStringMarkerPosition; ++i) {
        if (text[i] == '\0') return false;
    }
    return text[kStringMarkerPosition] == 'L';
}

uint16_t StringLength(const char* text) {
    if (!HasStringMarker(text)) return 0;
    uint16_t length = 0;
    for (const char* p = text + kStringMarkerPosition + 1; *p >= '0' && *p <= '9'; ++p) {
        length = static_cast<uint16_t>(length * 10 + (*p - '0'));
    }
    return length;
}

uint32_t RoundedStringLength(const char* text) {
    const uint32_t length = StringLength(text);
    return length + (length & 1u);
}

GateKind KindOf(const GateAddress& address, const char* text) {
    if (address.bitIndex != -1) return GateKind::kBit;
    if (Is32BitLetter(address.memType)) return GateKind::k32Bit;
    if (HasStringMarker(text)) return GateKind::kString;
    return GateKind::kWord;
}

}  // namespace jyn::address
