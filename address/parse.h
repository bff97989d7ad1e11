// The gate address text a user writes into the host (01WD100, 00BX1F,
// 00WS0100L20 ...) turned into the GateAddress the transfers use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/host_abi.h"

namespace jyn::address {

// The host's address field holds 31 characters and a terminator.
constexpr std::size_t kMaxAddressLength = 31;
constexpr std::size_t kAddressCopySize = kMaxAddressLength + 1;

// A string address is at most station, kind, letter, four digits, 'L' and a
// two-digit length.
constexpr std::size_t kMaxStringAddressLength = 11;

// The text as the host wrote it, cut to what an address field can hold and
// always terminated: the messages that quote the user's own spelling quote
// this. A null text is an empty one.
struct AddressCopy {
    char text[kAddressCopySize];
    std::size_t length;  // characters copied
    bool cut;            // the host's text went on past kMaxAddressLength
};
AddressCopy CopyAddressText(const char* text);

// 0: accepted, all five GateAddress fields set. 1: refused with exactly one
// message. Reads addressText and, for string addresses, gateType; the
// host's text is never written.
int32_t Parse(GateDefinition& gate);

}  // namespace jyn::address
