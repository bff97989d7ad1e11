#include "host/jynmb/values/value_text.h"

#include <cstdio>

#include "address/device_table.h"
#include "host/jynmb/values/json.h"

namespace jynmb {

namespace {

std::string Hex(int64_t value, int digits) {
    char text[32];
    std::snprintf(
        text, sizeof text, "0x%0*llX", digits,
        static_cast<unsigned long long>(value) & (digits == 8 ? 0xFFFFFFFFull : 0xFFFFull));
    return text;
}

std::string FormatNumber(ValueKind kind, int64_t value) {
    if (kind == ValueKind::kBit) return std::to_string(value);
    return std::to_string(value) + " (" + Hex(value, kind == ValueKind::k32Bit ? 8 : 4) + ")";
}

}  // namespace

std::string FormatValue(ValueKind kind, const Value& value) {
    if (kind == ValueKind::kString) return JsonString(value.text);
    if (value.numbers.size() == 1) return FormatNumber(kind, value.numbers[0]);
    std::string out = "[";
    for (std::size_t i = 0; i < value.numbers.size(); ++i) {
        out += (i ? ", " : "") + FormatNumber(kind, value.numbers[i]);
    }
    return out + "]";
}

std::string CompactValue(ValueKind kind, const Value& value) {
    if (kind == ValueKind::kString) return JsonString(value.text);
    std::string out;
    for (std::size_t i = 0; i < value.numbers.size(); ++i) {
        if (i > 0) out += ",";
        out += kind == ValueKind::kBit ? std::to_string(value.numbers[i])
                                       : Hex(value.numbers[i], kind == ValueKind::k32Bit ? 8 : 4);
    }
    return out;
}

std::string MemTypeName(int32_t memType) { return jyn::address::CodeOf(memType).text; }

std::string DescribeGateAddress(const GateArg& arg, const jyn::GateAddress& a) {
    char text[160];
    std::snprintf(
        text, sizeof text,
        "station %d, memType '%s' (0x%X), address %d, bitIndex %d, bitWidth %d -> %s gate",
        a.station, MemTypeName(a.memType).c_str(), static_cast<unsigned>(a.memType), a.address,
        a.bitIndex, a.bitWidth, KindName(KindOf(arg, a)));
    return text;
}

}  // namespace jynmb
