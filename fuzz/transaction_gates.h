// The gates the transaction fuzzer drives: one of every kind, singles and
// blocks, parsed by the driver itself as a host would have them parsed. The
// value-buffer bytes each kind owns, and what a good read must have stored,
// are worked out here from the gate's own description, not from the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "harness/gate_kinds.h"
#include "interface/host_abi.h"
#include "tests/support/instance.h"

namespace jynfuzz {

using jynharness::Kind;

struct FuzzGate {
    jynharness::GateShape shape;  // a block's `block`: the largest block
    std::string text;             // on logical station 01
    jyn::GateAddress address;     // as the parser left it
};

void ParseGates(jyn::testing::Instance& host);
const FuzzGate& PickGate(uint8_t byte);

// Bytes of the value buffer the call may touch.
inline std::size_t OwnedBytes(const FuzzGate& gate, int32_t count, bool write) {
    return jynharness::OwnedBytes(gate.shape.kind, count, gate.shape.chars, write);
}

int32_t RunGate(jyn::testing::Instance& host, const FuzzGate& gate, int32_t count, bool write,
                unsigned char* values);

// After the call: bytes 0..1 of single bit and word gates untouched, a write
// leaves the buffer as it was, and a read that returned 0 holds exactly the
// data of a well-formed reply to its own request.
void CheckValues(jyn::testing::Instance& host, const FuzzGate& gate, int32_t count, bool write,
                 int32_t result, uint8_t fill, const unsigned char* values);

}  // namespace jynfuzz
