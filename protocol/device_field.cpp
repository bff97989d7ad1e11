#include "protocol/device_field.h"

#include <cstring>

#include "address/device_table.h"
#include "interface/log.h"
#include "protocol/hex.h"
#include "protocol/request.h"
#include "serial/frame.h"

namespace jyn::protocol {

namespace {

using address::DeviceRule;
using address::GateKind;
using address::Numbering;

constexpr std::size_t kAcpuFieldLength = 5;
constexpr std::size_t kExtendedFieldLength = 7;

enum class Refusal {
    kMemType,
    kStation,
    kBitOnRegister,
    kAddress,
    kStringLength,
    kCount,
    kNoBuffer
};

struct RefusalText {
    Refusal refusal;
    const char* read;
    const char* write;
};

constexpr RefusalText kRefusalTexts[] = {
    {Refusal::kMemType, "JYNMB> BuildRequest() unknown memory type in '%s'",
     "JYNMB> BuildWriteRequest() unknown memory type in '%s'"},
    {Refusal::kStation, "JYNMB> BuildRequest() logical station out of range in '%s'",
     "JYNMB> BuildWriteRequest() logical station out of range in '%s'"},
    {Refusal::kBitOnRegister, "JYNMB> BuildRequest() bit gate on a word device in '%s'",
     "JYNMB> BuildWriteRequest() bit gate on a word device in '%s'"},
    {Refusal::kAddress, "JYNMB> BuildRequest() illegal address in '%s'",
     "JYNMB> BuildWriteRequest() illegal address in '%s'"},
    {Refusal::kStringLength, "JYNMB> BuildRequest() String Length > 64 in '%s'",
     "JYNMB> BuildWriteRequest() String Length > 64 in '%s'"},
    {Refusal::kCount, "JYNMB> BuildRequest() point count out of range in '%s'",
     "JYNMB> BuildWriteRequest() point count out of range in '%s'"},
    {Refusal::kNoBuffer, "JYNMB> BuildRequest() no value buffer for '%s'",
     "JYNMB> BuildWriteRequest() no value buffer for '%s'"},
};

bool Refuse(Refusal refusal, Operation operation, const char* text) {
    for (const RefusalText& entry : kRefusalTexts) {
        if (entry.refusal != refusal) continue;
        LogError(operation == Operation::kRead ? entry.read : entry.write,
                 text != nullptr ? text : "");
    }
    return false;
}

// Kept in 64 bits: a group past point 65535 must not wrap onto X0000.
int64_t DeviceNumber(const DeviceRule& rule, const GateAddress& gate, GateKind kind) {
    const int64_t number = gate.address;
    switch (rule.numbering) {
        case Numbering::kPair: return number * 2;
        case Numbering::kGroup: return number * 16 + (kind == GateKind::kBit ? gate.bitIndex : 0);
        case Numbering::kRegister: break;
    }
    return number;
}

// Bits for a bit command, words otherwise; 32-bit values take two words. A
// single gate is one point, a block 1 to its limit: any other count would
// announce points the data does not carry, or ask for none at all.
bool PointCount(const GateRequest& request, GateKind kind, bool single, uint32_t& points) {
    if (kind == GateKind::kString) {
        points = address::RoundedStringLength(request.addressText) / 2;
        return address::StringLength(request.addressText) <= address::kMaxStringLength;
    }
    const int32_t limit = kind == GateKind::k32Bit ? address::kMax32BitPoints : address::kMaxWordPoints;
    if (single ? request.count != 1 : (request.count < 1 || request.count > limit)) return false;
    const auto count = static_cast<uint32_t>(request.count);
    points = kind == GateKind::k32Bit ? 2 * count : count;
    return true;
}

// Zero-padded to `width`; a number with more digits keeps them all, so the
// field comes out too long instead of naming some other device.
std::size_t PutNumber(char* out, uint64_t value, unsigned radix, std::size_t width) {
    static const char kDigits[] = "0123456789ABCDEF";
    char reversed[24];
    std::size_t count = 0;
    do {
        reversed[count++] = kDigits[value % radix];
        value /= radix;
    } while (value != 0);
    std::size_t length = 0;
    for (; length + count < width; ++length) out[length] = '0';
    while (count > 0) out[length++] = reversed[--count];
    out[length] = '\0';
    return length;
}

void PutDeviceField(const DeviceRule& rule, int64_t device, bool extended, RequestPlan& plan) {
    const address::CodeText code = address::CodeOf(rule.device);
    const std::size_t codeLength = std::strlen(code.text);
    const std::size_t form = extended ? kExtendedFieldLength : kAcpuFieldLength;
    std::memcpy(plan.deviceField, code.text, codeLength);
    plan.fieldLength =
        codeLength + PutNumber(plan.deviceField + codeLength, static_cast<uint64_t>(device),
                               rule.radix, form - codeLength);
}

bool CheckGate(const GateRequest& request, const DeviceRule* rule, GateKind kind,
               Operation operation) {
    const GateAddress& gate = request.gateAddress;
    const char* text = request.addressText;
    if (rule == nullptr) return Refuse(Refusal::kMemType, operation, text);
    if (gate.station < 0 || gate.station >= static_cast<int32_t>(kStationCount)) {
        return Refuse(Refusal::kStation, operation, text);
    }
    const bool bit = kind == GateKind::kBit;
    if (bit && rule->numbering != Numbering::kGroup) {
        return Refuse(Refusal::kBitOnRegister, operation, text);
    }
    // The width goes with the kind the address parser gave the gate; any
    // other would have the reply judged by the wrong length.
    const int32_t width = bit ? 8 : (kind == GateKind::k32Bit ? 32 : 16);
    if (gate.address < 0 || (bit && gate.bitIndex > 15) || (bit && gate.bitIndex < 0) ||
        gate.bitWidth != width) {
        return Refuse(Refusal::kAddress, operation, text);
    }
    if (request.data == nullptr) return Refuse(Refusal::kNoBuffer, operation, text);
    return true;
}

// An ACPU station keeps its own commands only while the last point asked
// for stays within the ACPU limit of the device.
bool TakesExtendedForm(const StationEntry& station, const DeviceRule& rule, bool bitUnits,
                       int64_t device, uint32_t points) {
    const int64_t last = device + static_cast<int64_t>(points) - 1;
    return station.cpuType != kCpuA || last > (bitUnits ? rule.acpuBitLimit : rule.acpuWordLimit);
}

void PlanDevice(const DeviceRule& rule, const GateAddress& gate, Operation operation,
                RequestPlan& plan) {
    const bool bit = plan.kind == GateKind::kBit;
    const int64_t device = DeviceNumber(rule, gate, plan.kind);
    const bool extended = TakesExtendedForm(*plan.station, rule, bit, device, plan.points);
    plan.command = bit ? (extended ? 'J' : 'B') : (extended ? 'Q' : 'W');
    PutDeviceField(rule, device, extended, plan);
    if (plan.fieldLength != (extended ? kExtendedFieldLength : kAcpuFieldLength)) {
        LogInfo(operation == Operation::kRead ? "JYNMB> BuildRequest() address out of range"
                                              : "JYNMB> BuildWriteRequest() address out of range");
    }
}

}  // namespace

bool TakesExtendedForm(const StationEntry& station, int32_t memType, bool bitUnits, int64_t device,
                       uint32_t points) {
    const DeviceRule* rule = address::FindDevice(memType);
    return rule == nullptr || TakesExtendedForm(station, *rule, bitUnits, device, points);
}

bool PlanRequest(const CallBlock& block, Operation operation, bool single, RequestPlan& plan) {
    const GateRequest& request = *static_cast<const GateRequest*>(block.params);
    const GateAddress& gate = request.gateAddress;
    const DeviceRule* rule = address::FindDevice(gate.memType);
    plan.request = &request;
    plan.kind = address::KindOf(gate, request.addressText);
    if (!CheckGate(request, rule, plan.kind, operation)) return false;
    const bool string = plan.kind == GateKind::kString;
    if (!PointCount(request, plan.kind, single, plan.points)) {
        return Refuse(string ? Refusal::kStringLength : Refusal::kCount, operation,
                      request.addressText);
    }
    plan.values = string ? 0 : static_cast<uint32_t>(request.count);
    plan.station = &block.context->stationTable[gate.station];
    PlanDevice(*rule, gate, operation, plan);
    return true;
}

std::size_t PutHeader(const RequestPlan& plan, Operation operation, unsigned char* buffer) {
    std::size_t at = 0;
    buffer[at++] = serial::kENQ;
    PutHex(buffer + at, plan.station->stationNumber, 2);
    at += 2;
    PutHex(buffer + at, plan.station->pcNumber, 2);
    at += 2;
    buffer[at++] = static_cast<unsigned char>(plan.command);
    buffer[at++] = operation == Operation::kRead ? 'R' : 'W';
    buffer[at++] = '0';  // no message wait
    std::memcpy(buffer + at, plan.deviceField, plan.fieldLength);
    at += plan.fieldLength;
    PutHex(buffer + at, plan.points, 2);
    return at + 2;
}

void FinishFrame(unsigned char* buffer, std::size_t end, uint16_t& length) {
    PutHex(buffer + end, SumCheck(buffer + 1, end - 1), 2);
    buffer[end + 2] = '\0';
    length = static_cast<uint16_t>(end + 2);
}

}  // namespace jyn::protocol
