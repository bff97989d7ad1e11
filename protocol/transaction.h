// Read and write transactions: up to ten attempts of purge, send, receive
// and judge, the PLC's NAK codes, and the confirmation of a good read.
#pragma once

#include <cstdint>

#include "interface/host_abi.h"
#include "protocol/line_state.h"

namespace jyn::protocol {

constexpr int kAttempts = 10;
constexpr unsigned kMalformedPauseMs = 20;

// `line` is what the instance's line remembers between transactions.
int32_t DoRead(CallBlock& block, uint32_t function, LineState& line);
int32_t DoWrite(CallBlock& block, uint32_t function, LineState& line);

// The log text of a NAK code; unknown codes are formatted into `storage`.
constexpr unsigned kNakTextSize = 32;
const char* NakText(uint32_t code, char (&storage)[kNakTextSize]);

// The pause after some malformed replies; tests record it instead.
using PauseFunction = void (*)(unsigned milliseconds);
void SetPauseFunction(PauseFunction pause);  // null: really sleep

}  // namespace jyn::protocol
