// What the driver makes of a gate's address text, in the words a person
// checks it by: the characters it does not read, and the registers it
// addresses. The driver's own address code says which characters it reads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/jynmb/values/gate_arg.h"
#include "interface/host_abi.h"

namespace jynmb {

// Positions (from 0) of the characters the driver passes over: behind a
// number, between the station and the gate kind, behind a string length.
// Empty when every character counts, or when the driver refuses the text.
std::vector<std::size_t> UnreadPositions(const GateArg& arg);

// A caret under each of them, for a line below the text: "     ^^".
std::string CaretLine(const std::vector<std::size_t>& unread);

// The devices the configured gate addresses on the PLC: "D1", "Y1F",
// "M512..M527" (a word gate on relays), "D200..D201" (a 32-bit value).
std::string DeviceName(const GateArg& arg, const jyn::GateAddress& address);

}  // namespace jynmb
