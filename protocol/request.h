// Request frames of the MELSEC-A computer link, format 1: batch reads and
// writes in bit units (BR/BW, JR/JW) and word units (WR/WW, QR/QW).
#pragma once

#include <cstdint>

#include "interface/host_abi.h"

namespace jyn::protocol {

constexpr unsigned char kENQ = 0x05;
constexpr unsigned char kSTX = 0x02;
constexpr unsigned char kETX = 0x03;
constexpr unsigned char kACK = 0x06;
constexpr unsigned char kNAK = 0x15;

// Writes the read request for the GateRequest at block.params into `buffer`
// (kFrameBufferSize bytes), zero-terminated; `length` counts the frame
// without the terminator. False, with a message logged and nothing to send,
// when the request names no device the protocol has.
bool BuildRequest(const CallBlock& block, unsigned char* buffer, uint16_t& length);

// The same for a write, with the data from the value buffer; `function`
// (low 8 bits) 7 selects the single data, anything else the block data.
bool BuildWriteRequest(const CallBlock& block, unsigned char* buffer, uint16_t& length,
                       uint32_t function);

}  // namespace jyn::protocol
