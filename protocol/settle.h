// Letting the line fall silent after replies that were not the answer, so
// that no late answer is taken for the reply to a later request.
#pragma once

#include <cstdint>

#include "interface/host_abi.h"
#include "serial/frame.h"
#include "serial/port.h"

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
SettleTimes SettleTimesOf(serial::Handle port, const PortSettings& settings, uint16_t requestLength,
                          uint16_t answerLength);

// What the transaction last heard on the line: when its last byte came (on
// the device's monotonic clock) and how many bytes it had.
struct Heard {
    uint64_t endMs = 0;
    uint16_t length = 0;
};

// What an answer to one of this transaction's requests looks like: a data
// reply of the expected length with a right sum check (reads), or the ACK
// (writes), from the request's station and PC number.
struct AnswerShape {
    const unsigned char* request;  // the request frame: ENQ, station, PC number, ...
    uint16_t replyLength;          // the whole reply a read expects; 0 for a write
};
bool IsAnswer(const AnswerShape& shape, const unsigned char* frame, uint16_t length);
inline uint16_t AnswerLength(const AnswerShape& shape) {
    return shape.replyLength != 0 ? shape.replyLength : serial::kAckLength;
}

// Each returns the bytes it dropped (and writes them to `trace`, if any);
// the port keeps its reply time-out.
//
// Noise: the line is read until it has been quiet for the short gap.
uint32_t SettleGap(serial::Handle port, const SettleTimes& times, Trace* trace);
// A frame that answers something else: the line is read until it has been
// quiet for one reply time-out, and one more for each silent attempt.
uint32_t SettleFully(serial::Handle port, int owed, Trace* trace);
// Silent attempts whose answers may still come: each is waited for in turn
// and counted off when it comes; once none is owed, only the gap remains.
// After a transaction that succeeded, `last` is its answer; after one that
// failed, the line is watched from now, as long as the failure demands.
uint32_t SettleOwedAfterSuccess(serial::Handle port, const SettleTimes& times, int owed, Heard last,
                                const AnswerShape& shape, Trace* trace);
uint32_t SettleOwedAfterFailure(serial::Handle port, const SettleTimes& times, int owed,
                                const AnswerShape& shape, Trace* trace);

}  // namespace jyn::protocol
