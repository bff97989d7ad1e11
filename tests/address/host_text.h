// An address text in a heap block of exactly its own size, as a host may hold
// it: a read past the terminator is caught by AddressSanitizer.
#pragma once

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "interface/host_abi.h"
#include "tests/support/case_name.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {

class HostText {
public:
    explicit HostText(const std::string& text) : bytes_(new char[text.size() + 1]) {
        std::memcpy(bytes_.get(), text.c_str(), text.size() + 1);
    }
    const char* get() const { return bytes_.get(); }

private:
    std::unique_ptr<char[]> bytes_;
};

inline GateAddress Fields(int32_t station, int32_t memType, int32_t address, int32_t bitIndex,
                          int32_t bitWidth) {
    return GateAddress{station, memType, address, bitIndex, bitWidth};
}

inline std::string Describe(const GateAddress& a) {
    return "{station " + std::to_string(a.station) + ", memType " + std::to_string(a.memType) +
           ", address " + std::to_string(a.address) + ", bitIndex " + std::to_string(a.bitIndex) +
           ", bitWidth " + std::to_string(a.bitWidth) + "}";
}

inline bool SameFields(const GateAddress& a, const GateAddress& b) {
    return a.station == b.station && a.memType == b.memType && a.address == b.address &&
           a.bitIndex == b.bitIndex && a.bitWidth == b.bitWidth;
}

// One row of a gate table: what the host hands in and what must come back.
struct GateCase {
    std::string text;
    int32_t gateType;
    int32_t blockSize;
    int32_t result;
    GateAddress fields;  // compared only when the gate is accepted
    std::vector<LogLine> log;
};

// The text, the gate type and, when not 1, the block size: "00WD100_t1_s65".
inline void PrintTo(const GateCase& c, std::ostream* out) {
    *out << TextName(c.text) << "_t" << c.gateType;
    if (c.blockSize != 1) *out << "_s" << c.blockSize;
}

}  // namespace jyn::testing
