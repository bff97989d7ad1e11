// One frame across the line: a request or a confirmation out, one reply in.
#pragma once

#include <cstdint>

#include "interface/host_abi.h"

namespace jyn::serial {

enum ReplyResult : int {
    kReplyComplete = 0,  // a whole data reply, ACK or NAK is in the buffer
    kReplyBroken = 1,    // broken off, too long, or not a reply at all
    kReplySilent = 2,    // not a byte within the reply time-out
};

constexpr int kSendFailed = 2;

constexpr unsigned char kSTX = 0x02;
constexpr unsigned char kETX = 0x03;
constexpr unsigned char kACK = 0x06;
constexpr unsigned char kNAK = 0x15;
constexpr uint16_t kAckLength = 5;
constexpr uint16_t kNakLength = 7;

// Writes `count` bytes to the context's port: 0, or 2 when the write failed
// or fell short.
int SendFrame(const unsigned char* bytes, uint16_t count, DriverContext& context);

// Reads one reply into the context's receive buffer, byte by byte, and sets
// receiveLength to the bytes it holds. Never stores past the buffer.
int ReceiveReply(DriverContext& context);

// Reads and drops bytes until the line has been silent for `quietTimeouts`
// reply time-outs in a row (at most 4 x kFrameBufferSize bytes, so a line
// that never falls silent cannot hold the host); returns how many it
// dropped. The receive buffer is left as it is.
uint32_t DrainLine(DriverContext& context, uint32_t quietTimeouts);

// One byte into `buffer` at `position`: 0 if it came, else 1.
int ReadByte(unsigned char* buffer, uint16_t position, void* port);

}  // namespace jyn::serial
