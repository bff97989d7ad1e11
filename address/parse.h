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
// host's text is never written. An accepted text with characters that give
// the address nothing (see TextReading) gets one level-8 note.
int32_t Parse(GateDefinition& gate);

// Which characters of an address text Parse reads. A number ends at its
// first character that is not a digit and nothing after it is looked at, so
// a typing error behind the number ("01WD1O0") still makes a gate, on
// another register (D1). A tool that takes texts from a person uses this to
// show what the driver will address; hosts' stored gates keep working as
// they always have.
struct TextReading {
    bool accepted = false;  // Parse accepts the text (gate type and block are judged later)
    std::size_t length = 0;
    // True where the character gives the address nothing: behind a number,
    // between the station and the gate kind, or behind a string's length.
    // None for a refused text.
    bool unread[kAddressCopySize] = {};
    bool AnyUnread() const;
};

// Parse's own reading of `text` for a gate of `gateType`, with no message
// logged.
TextReading ReadingOf(const char* text, int32_t gateType);

}  // namespace jyn::address
