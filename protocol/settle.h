// Letting the line fall silent after replies that were not the answer, so
// that no late answer is taken for the reply to a later request.
#pragma once

#include <cstdint>

#include "protocol/line.h"
#include "protocol/transfer_plan.h"

namespace jyn::protocol {

// The waits of one transaction's settles, in milliseconds.
struct SettleTimes {
    uint32_t timeoutMs;  // the port's reply time-out
    uint32_t gapMs;      // a short quiet gap: 4 characters, at least 5 ms
    // reply time-out + the longer of the request's and the answer's time on
    // the line + gap
    uint32_t windowMs;
    uint32_t charMicros;
};
SettleTimes SettleTimesOf(const Line& line, const TransferPlan& plan);

// The last frame a transaction heard: when its last byte came (on the
// device's monotonic clock) and how many bytes it had.
struct LastFrame {
    uint64_t endMs = 0;
    uint16_t length = 0;
};

// An answer to one of this transaction's requests: a data reply of the
// expected length with a right sum check (reads), or the ACK (writes), from
// the request's station and PC number.
bool IsAnswer(const TransferPlan& plan, const unsigned char* frame, uint16_t length);

// Each returns the bytes it dropped (and writes them to the line's trace,
// if any); the port keeps the line's read time-out.
//
// Noise: the line is read until it has been quiet for the short gap.
uint32_t SettleGap(const Line& line, const SettleTimes& times);
// A frame that answers something else: the line is read until it has been
// quiet for one reply time-out, and one more for each silent attempt.
uint32_t SettleFully(const Line& line, int owed);
// Silent attempts whose answers may still come: each is waited for in turn
// and counted off when it comes; once none is owed, only the gap remains.
// After a transaction that succeeded, `last` is its answer; after one that
// failed, the line is watched from now, as long as the failure demands.
uint32_t SettleOwedAfterSuccess(const Line& line, const SettleTimes& times, int owed,
                                LastFrame last, const TransferPlan& plan);
uint32_t SettleOwedAfterFailure(const Line& line, const SettleTimes& times, int owed,
                                const TransferPlan& plan);

}  // namespace jyn::protocol
