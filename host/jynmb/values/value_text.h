// Values and gate addresses for a person to read.
#pragma once

#include <string>

#include "host/jynmb/values/gate_arg.h"
#include "interface/host_abi.h"

namespace jynmb {

// "4660 (0x1234)", "305419896 (0x12345678)", "\"HELLO\"", "[1, 2, 3]".
std::string FormatValue(ValueKind kind, const Value& value);
// Short, for tables: "1", "0x1234", "0x12345678", "\"HELLO\"", "1,2,3".
std::string CompactValue(ValueKind kind, const Value& value);

// The device code of GateAddress.memType: "D", "TN".
std::string MemTypeName(int32_t memType);
// "station 1, memType 'D' (0x44), address 100, bitIndex -1, bitWidth 16 -> word gate"
std::string DescribeGateAddress(const GateArg& arg, const jyn::GateAddress& address);

}  // namespace jynmb
