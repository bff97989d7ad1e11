#include "serial/frame.h"

namespace jyn::serial {

namespace {

// `count` bytes into `at`, the wait cut short where the bound's deadline
// comes first: true if all of them came.
bool ReadWithin(Handle port, unsigned char* at, uint16_t count, const ReadBound& bound) {
    uint32_t received = 0;
    if (bound.deadlineMs == 0) {
        return ReadPort(port, at, count, &received) == kPortOk && received == count;
    }
    const uint64_t now = device::MonotonicMs();
    if (now >= bound.deadlineMs) return false;
    const uint64_t left = bound.deadlineMs - now;
    const bool shortened = left < bound.timeoutMs;
    if (shortened) SetReadTimeoutMs(port, static_cast<uint32_t>(left));
    const bool ok = ReadPort(port, at, count, &received) == kPortOk && received == count;
    if (shortened) SetReadTimeoutMs(port, bound.timeoutMs);
    return ok;
}

// One byte into `buffer` at `position`: true if it came.
bool ReadByte(Handle port, unsigned char* buffer, uint16_t position, const ReadBound& bound) {
    return ReadWithin(port, buffer + position, 1, bound);
}

// Where one reception writes, and how far it has got.
struct Target {
    Handle port;
    unsigned char* buffer;
    uint16_t last;  // the last position the buffer has
    uint16_t& length;
    const ReadBound& bound;
};

// STX ... ETX and two sum characters, read to the ETX without knowing the
// length to expect.
Reception ReceiveData(Target& to) {
    uint16_t p = 1;
    for (;; ++p) {
        to.length = p;
        if (!ReadByte(to.port, to.buffer, p, to.bound)) return Reception::kBroken;
        if (to.buffer[p] == kETX) break;
        if (p == to.last) {
            to.length = static_cast<uint16_t>(to.last + 1);
            return Reception::kBroken;
        }
    }
    // An ETX in the last two positions leaves no room for the sum
    // characters: the reply ends at its ETX, and what follows is purged
    // before the next attempt.
    if (p + 2 > to.last) {
        to.length = static_cast<uint16_t>(p + 1);
        return Reception::kBroken;
    }
    for (uint16_t q = p + 1; q <= p + 2; ++q) {
        to.length = q;
        if (!ReadByte(to.port, to.buffer, q, to.bound)) return Reception::kBroken;
    }
    to.length = static_cast<uint16_t>(p + 3);
    return Reception::kComplete;
}

Reception ReceiveFixed(Target& to, uint16_t length) {
    const uint16_t rest = static_cast<uint16_t>(length - 1);
    if (length > to.last + 1u || !ReadWithin(to.port, to.buffer + 1, rest, to.bound)) {
        return Reception::kBroken;
    }
    to.length = length;
    return Reception::kComplete;
}

// Not a reply: read until the line has been silent for one reply time-out
// (or the buffer is full), so the next attempt starts on a quiet line.
Reception Discard(Target& to) {
    for (uint16_t p = 1;; ++p) {
        to.length = p;
        if (!ReadByte(to.port, to.buffer, p, to.bound)) return Reception::kBroken;
        if (p == to.last) {
            to.length = static_cast<uint16_t>(to.last + 1);
            return Reception::kBroken;
        }
    }
}

// The rest of a reply whose first byte is at position 0.
Reception ReceiveRest(Handle port, unsigned char* buffer, uint16_t capacity, uint16_t& length,
                      const ReadBound& bound) {
    length = 1;
    Target to{port, buffer, static_cast<uint16_t>(capacity - 1), length, bound};
    switch (buffer[0]) {
        case kSTX: return ReceiveData(to);
        case kACK: return ReceiveFixed(to, kAckLength);
        case kNAK: return ReceiveFixed(to, kNakLength);
        default: return Discard(to);
    }
}

// How a reception that is no whole frame ended, for the trace.
const char* NoteOf(Reception reception, const unsigned char* buffer, uint16_t length,
                   uint16_t capacity) {
    if (reception == Reception::kComplete) return nullptr;
    const unsigned char first = buffer[0];
    if (first != kSTX && first != kACK && first != kNAK) return "not a reply";
    return length + 1u >= capacity ? "too long" : "broken off";
}

}  // namespace

bool SendFrame(Handle port, const unsigned char* bytes, uint16_t count, Trace* trace) {
    uint32_t written = 0;
    const bool sent = WritePort(port, bytes, count, &written) == kPortOk && written == count;
    if (trace != nullptr && written != 0) trace->Sent(bytes, written);
    return sent;
}

uint32_t DrainLine(Handle port, uint32_t quietTimeouts, Trace* trace, const ReadBound& bound) {
    unsigned char dropped[4 * kFrameBufferSize];
    uint32_t count = 0;
    uint32_t quiet = 0;
    while (quiet < quietTimeouts && count < sizeof dropped) {
        if (bound.deadlineMs != 0 && device::MonotonicMs() >= bound.deadlineMs) break;
        if (ReadByte(port, dropped, static_cast<uint16_t>(count), bound)) {
            ++count;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    if (trace != nullptr && count != 0) trace->Drained("settle", dropped, count);
    return count;
}

Reception ReceiveReply(Handle port, unsigned char* buffer, uint16_t capacity, uint16_t& length,
                       Trace* trace, const ReadBound& bound) {
    length = 0;
    if (capacity < 2) return Reception::kBroken;  // no room for a frame at all
    if (!ReadByte(port, buffer, 0, bound)) return Reception::kSilent;
    // The first byte's time is when the station answered: it is taken as
    // the byte comes, before the rest of the frame is read.
    const TraceStamp first = trace != nullptr ? Trace::Now() : 0;
    const Reception reception = ReceiveRest(port, buffer, capacity, length, bound);
    if (trace != nullptr) {
        trace->Received(first, buffer, length, NoteOf(reception, buffer, length, capacity));
    }
    return reception;
}

}  // namespace jyn::serial
