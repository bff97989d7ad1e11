#include "serial/frame.h"

namespace jyn::serial {

namespace {

// One byte into `buffer` at `position`: true if it came.
bool ReadByte(Handle port, unsigned char* buffer, uint16_t position) {
    uint32_t received = 0;
    return ReadPort(port, buffer + position, 1, &received) == kPortOk && received == 1;
}

// Where one reception writes, and how far it has got.
struct Target {
    Handle port;
    unsigned char* buffer;
    uint16_t last;  // the last position the buffer has
    uint16_t& length;
};

// STX ... ETX and two sum characters, read to the ETX without knowing the
// length to expect.
Reception ReceiveData(Target& to) {
    uint16_t p = 1;
    for (;; ++p) {
        to.length = p;
        if (!ReadByte(to.port, to.buffer, p)) return Reception::kBroken;
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
        if (!ReadByte(to.port, to.buffer, q)) return Reception::kBroken;
    }
    to.length = static_cast<uint16_t>(p + 3);
    return Reception::kComplete;
}

Reception ReceiveFixed(Target& to, uint16_t length) {
    uint32_t received = 0;
    const uint16_t rest = static_cast<uint16_t>(length - 1);
    if (length > to.last + 1u || ReadPort(to.port, to.buffer + 1, rest, &received) != kPortOk ||
        received != rest) {
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
        if (!ReadByte(to.port, to.buffer, p)) return Reception::kBroken;
        if (p == to.last) {
            to.length = static_cast<uint16_t>(to.last + 1);
            return Reception::kBroken;
        }
    }
}

}  // namespace

bool SendFrame(Handle port, const unsigned char* bytes, uint16_t count) {
    uint32_t written = 0;
    return WritePort(port, bytes, count, &written) == kPortOk && written == count;
}

uint32_t DrainLine(Handle port, uint32_t quietTimeouts) {
    unsigned char scratch[1];
    uint32_t dropped = 0;
    uint32_t quiet = 0;
    while (quiet < quietTimeouts && dropped < 4 * kFrameBufferSize) {
        if (ReadByte(port, scratch, 0)) {
            ++dropped;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return dropped;
}

Reception ReceiveReply(Handle port, unsigned char* buffer, uint16_t capacity, uint16_t& length) {
    length = 0;
    if (capacity < 2) return Reception::kBroken;  // no room for a frame at all
    if (!ReadByte(port, buffer, 0)) return Reception::kSilent;
    length = 1;
    Target to{port, buffer, static_cast<uint16_t>(capacity - 1), length};
    switch (buffer[0]) {
        case kSTX: return ReceiveData(to);
        case kACK: return ReceiveFixed(to, kAckLength);
        case kNAK: return ReceiveFixed(to, kNakLength);
        default: return Discard(to);
    }
}

}  // namespace jyn::serial
