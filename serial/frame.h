// One frame across the line: a request or a confirmation out, one reply in.
// This layer frames bytes on a port; what a frame means to a gate is the
// protocol's business.
#pragma once

#include <cstdint>

#include "interface/trace.h"
#include "serial/port.h"

namespace jyn::serial {

// The control characters of the computer link, format 1.
constexpr unsigned char kENQ = 0x05;
constexpr unsigned char kSTX = 0x02;
constexpr unsigned char kETX = 0x03;
constexpr unsigned char kACK = 0x06;
constexpr unsigned char kNAK = 0x15;
constexpr uint16_t kAckLength = 5;  // ACK, station, PC number
constexpr uint16_t kNakLength = 7;  // NAK, station, PC number, error code

enum class Reception {
    kComplete,  // a whole data reply, ACK or NAK is in the buffer
    kBroken,    // broken off, too long, or not a reply at all
    kSilent,    // not a byte within the reply time-out
};

// An outer bound in time on a reception: the per-byte wait is the port's
// reply time-out, and a line that keeps dripping bytes would otherwise hold
// a reception for as long as it drips. From `deadlineMs` (the device's
// monotonic clock) on, no byte is waited for; before it, no wait is longer
// than what is left. `timeoutMs` is the read time-out the port carries and
// gets back. A deadline of 0 bounds nothing.
struct ReadBound {
    uint64_t deadlineMs = 0;
    uint32_t timeoutMs = 0;
};

// Each of these writes what crossed the line to `trace` when one is given.

// Writes `count` bytes to the port; true when every one of them went out.
bool SendFrame(Handle port, const unsigned char* bytes, uint16_t count, Trace* trace = nullptr);

// Reads one reply into `buffer` (`capacity` bytes), byte by byte, and keeps
// `length` at the number of bytes it holds as they arrive, so that a reply
// broken off says how far it got. Never stores past `capacity`. Silence is
// not traced here: the caller knows how long it let the port wait.
Reception ReceiveReply(Handle port, unsigned char* buffer, uint16_t capacity, uint16_t& length,
                       Trace* trace = nullptr, const ReadBound& bound = ReadBound{});

// Reads and drops bytes until the line has been silent for `quietTimeouts`
// reply time-outs in a row (at most 4 x kFrameBufferSize bytes, so a line
// that never falls silent cannot hold the host); returns how many it dropped.
uint32_t DrainLine(Handle port, uint32_t quietTimeouts, Trace* trace = nullptr,
                   const ReadBound& bound = ReadBound{});

}  // namespace jyn::serial
