#include "serial/frame.h"

#include "serial/port.h"

namespace jyn::serial {

namespace {

constexpr uint16_t kLast = kFrameBufferSize - 1;

// STX ... ETX and two sum characters, read to the ETX without knowing the
// length to expect.
int ReceiveData(DriverContext& context) {
    unsigned char* buffer = context.receiveBuffer;
    uint16_t p = 1;
    for (;; ++p) {
        context.receiveLength = p;
        if (ReadByte(buffer, p, context.port) != 0) return kReplyBroken;
        if (buffer[p] == kETX) break;
        if (p == kLast) {
            context.receiveLength = kFrameBufferSize;
            return kReplyBroken;
        }
    }
    // An ETX at 510 or 511 leaves no room for the sum characters: the reply
    // ends at its ETX, and what follows is purged before the next attempt.
    if (p + 2 > kLast) {
        context.receiveLength = static_cast<uint16_t>(p + 1);
        return kReplyBroken;
    }
    for (uint16_t q = p + 1; q <= p + 2; ++q) {
        context.receiveLength = q;
        if (ReadByte(buffer, q, context.port) != 0) return kReplyBroken;
    }
    context.receiveLength = static_cast<uint16_t>(p + 3);
    return kReplyComplete;
}

int ReceiveFixed(DriverContext& context, uint16_t length) {
    uint32_t received = 0;
    const uint16_t rest = static_cast<uint16_t>(length - 1);
    if (ReadPort(context.port, context.receiveBuffer + 1, rest, &received) != kPortOk ||
        received != rest) {
        return kReplyBroken;
    }
    context.receiveLength = length;
    return kReplyComplete;
}

// Not a reply: read until the line has been silent for one reply time-out
// (or the buffer is full), so the next attempt starts on a quiet line.
int Discard(DriverContext& context) {
    for (uint16_t p = 1;; ++p) {
        context.receiveLength = p;
        if (ReadByte(context.receiveBuffer, p, context.port) != 0) return kReplyBroken;
        if (p == kLast) {
            context.receiveLength = kFrameBufferSize;
            return kReplyBroken;
        }
    }
}

}  // namespace

int SendFrame(const unsigned char* bytes, uint16_t count, DriverContext& context) {
    uint32_t written = 0;
    if (WritePort(context.port, bytes, count, &written) != kPortOk || written != count) {
        return kSendFailed;
    }
    return 0;
}

int ReadByte(unsigned char* buffer, uint16_t position, void* port) {
    uint32_t received = 0;
    return ReadPort(port, buffer + position, 1, &received) == kPortOk && received == 1 ? 0 : 1;
}

uint32_t DrainLine(DriverContext& context, uint32_t quietTimeouts) {
    unsigned char scratch[1];
    uint32_t dropped = 0;
    uint32_t quiet = 0;
    while (quiet < quietTimeouts && dropped < 4 * kFrameBufferSize) {
        if (ReadByte(scratch, 0, context.port) == 0) {
            ++dropped;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return dropped;
}

int ReceiveReply(DriverContext& context) {
    context.receiveLength = 0;
    if (ReadByte(context.receiveBuffer, 0, context.port) != 0) return kReplySilent;
    context.receiveLength = 1;
    switch (context.receiveBuffer[0]) {
        case kSTX: return ReceiveData(context);
        case kACK: return ReceiveFixed(context, kAckLength);
        case kNAK: return ReceiveFixed(context, kNakLength);
        default: return Discard(context);
    }
}

}  // namespace jyn::serial
