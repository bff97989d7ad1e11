// Request frames of the MELSEC-A computer link, format 1: batch reads and
// writes in bit units (BR/BW, JR/JW) and word units (WR/WW, QR/QW).
#pragma once

#include <cstdint>

#include "interface/host_abi.h"
#include "protocol/device_field.h"

namespace jyn::protocol {

// The single services (5 and 7) against the block ones: only the low 8 bits
// of the function code are compared, as the host's codes were always read.
constexpr bool IsSingle(uint32_t function, FunctionCode single) {
    return (function & 0xFFu) == single;
}

// Writes the read request for the GateRequest at block.params into `buffer`
// (kFrameBufferSize bytes), zero-terminated; `length` counts the frame
// without the terminator. False, with a message logged and nothing to send,
// when the request names no device the protocol has. `planned`, when given,
// receives what the frame was built from.
bool BuildRequest(const CallBlock& block, unsigned char* buffer, uint16_t& length,
                  RequestPlan* planned = nullptr);

// The same for a write, with the data from the value buffer; `function`
// (low 8 bits) 7 selects the single data, anything else the block data.
bool BuildWriteRequest(const CallBlock& block, unsigned char* buffer, uint16_t& length,
                       uint32_t function, RequestPlan* planned = nullptr);

}  // namespace jyn::protocol
