// Everything about one transfer, decided once before the first attempt:
// whom it addresses, what it asks, what a good answer looks like and what
// becomes of the data. The attempts, the reply checks, the settles, the
// rest of a silent station, the trace and the log all read it here; nothing
// looks back into the send buffer to learn what was sent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/host_abi.h"
#include "protocol/device_field.h"
#include "protocol/line.h"

namespace jyn::protocol {

// What a good answer to a request is.
enum class ReplyShape {
    kData,  // STX, station, PC number, data, ETX, sum check (reads)
    kAck,   // ACK, station, PC number (writes)
};

struct ExpectedReply {
    ReplyShape shape = ReplyShape::kAck;
    uint16_t length = 0;      // the whole good reply
    uint32_t dataLength = 0;  // its data characters (reads)
    // How the log names the gate's kind when the length is wrong: 'B' bit,
    // 'W' word, 'D' 32-bit, 'S' string (which has messages of its own).
    char kind = 'W';
};

// What a good answer to a read (or write) of this gate is. The length goes
// by the gate as the host describes it: a string address by its length,
// any other by the width and the count; one character per bit, four per
// word, eight per 32-bit value. Every reply length the line expects, of a
// gate's own transfer or of any other request it plans, comes from here.
ExpectedReply ExpectedReplyOf(const GateRequest& gate, Operation operation);

struct TransferPlan {
    Operation operation = Operation::kRead;
    uint32_t function = 0;  // the host's code: 5, 6, 7 or 10
    const GateRequest* gate = nullptr;
    StationKey station;
    char address[4] = {};  // station and PC number as the frames carry them
    char command = 'W';    // 'B', 'W', 'J' or 'Q'
    char deviceField[24] = {};
    uint32_t points = 0;
    // The request frame, in the line's send buffer.
    const unsigned char* request = nullptr;
    uint16_t requestLength = 0;
    ExpectedReply reply;
    // What the trace adds to the transaction's line, or nothing.
    const char* note = nullptr;

    // A good read reply goes into the host's value buffer and is confirmed.
    bool StoresData() const { return operation == Operation::kRead; }
    // The frame's station and PC number are this request's.
    bool SameAddress(const unsigned char* frame) const;
};

// Builds the request frame of the gate at block.params into the line's send
// buffer (BuildRequest, BuildWriteRequest) and the plan around it. False,
// with the refusal logged and nothing to send, when no frame can be built.
bool PlanTransfer(const CallBlock& block, uint32_t function, Line& line, TransferPlan& plan);

}  // namespace jyn::protocol
