// Read and write transactions: up to ten attempts of purge, send, receive
// and check, the PLC's NAK codes, and the confirmation of a good read.
#pragma once

#include <cstdint>

#include "protocol/line.h"
#include "protocol/transfer_plan.h"

namespace jyn::protocol {

constexpr int kAttempts = 10;
constexpr unsigned kMalformedPauseMs = 20;

// The transfer `plan` describes, on `line`: its frame is in the line's send
// buffer, the last reply it heard stays in the receive buffer.
int32_t DoRead(Line& line, const TransferPlan& plan);
int32_t DoWrite(Line& line, const TransferPlan& plan);

// The trace's TXN line of a transfer, from its own attempts or served from
// a read-ahead block: the plan names the station, the service and the
// gate, `txn` says the rest. The line has a trace.
void TraceTxn(Line& line, const TransferPlan& plan, TxnFields txn);

// The log text of a NAK code; unknown codes are formatted into `storage`.
constexpr unsigned kNakTextSize = 32;
const char* NakText(uint32_t code, char (&storage)[kNakTextSize]);

// The pause after some malformed replies; tests record it instead.
using PauseFunction = void (*)(unsigned milliseconds);
void SetPauseFunction(PauseFunction pause);  // null: really sleep

}  // namespace jyn::protocol
