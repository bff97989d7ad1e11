// Gates and values as a person types them on the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "address/gate_kind.h"
#include "interface/host_abi.h"

namespace jynmb {

// TEXT[*N][:TYPE]: an address text, optionally a block of N points and the
// host's gate type (0..7).
struct GateArg {
    std::string text;
    int32_t blockSize = 0;  // 0: a single gate
    int32_t gateType = 1;
    bool IsBlock() const { return blockSize > 0; }
};

bool ParseGateArg(const std::string& word, GateArg& arg, std::string& error);
// The gate as typed, without the type: "01WD200*10".
std::string GateName(const GateArg& arg);

// A gate file: one GATE a line, as on the command line; '#' starts a
// comment, blank lines are skipped. False with `error` naming the line.
bool ParseGateList(const std::string& text, std::vector<GateArg>& args, std::string& error);

// How the value buffer of a configured gate is laid out: the driver's own
// four kinds of gate.
using ValueKind = jyn::address::GateKind;
ValueKind KindOf(const GateArg& arg, const jyn::GateAddress& address);
const char* KindName(ValueKind kind);

// The string length after the 'L' marker, as the driver reads it; 0 when
// there is none.
unsigned StringLength(const std::string& text);

struct Value {
    std::vector<int64_t> numbers;  // one per point
    std::string text;              // string gates
};

// VALUE for a write: a number (decimal, 0x hexadecimal, negative allowed in
// the range of the kind), comma-separated numbers for a block, or text for a
// string gate (quotes optional).
bool ParseValue(ValueKind kind, const GateArg& arg, const std::string& input, Value& value,
                std::string& error);

}  // namespace jynmb
