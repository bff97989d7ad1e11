// Gate requests as the host hands them to the builders and the decoder: the
// GateAddress exactly as the address parser and the gate validation leave
// it, the address text, a count and a value buffer.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "address/gate_kind.h"
#include "interface/host_abi.h"
#include "protocol/request.h"
#include "serial/frame.h"

namespace jyn::testing {

// Station entries: station number, PC number, CPU family.
constexpr StationEntry kAcpu0 = {0x00, 0xFF, kCpuA};
constexpr StationEntry kAcpu1 = {0x01, 0xFF, kCpuA};
constexpr StationEntry kAnacpu5 = {0x05, 0x00, kCpuAn};

// A word gate (also a string gate): the number as read from the text.
constexpr GateAddress Word(int32_t station, int32_t memType, int32_t number) {
    return {station, memType, number, -1, 16};
}
// A bit gate: the point number split into its 16-point group and the bit.
constexpr GateAddress Bit(int32_t station, int32_t memType, int32_t point) {
    return {station, memType, point / 16, point % 16, 8};
}
// A 32-bit gate: the first register's number halved.
constexpr GateAddress Pair(int32_t station, int32_t memType, int32_t number) {
    return {station, memType, number / 2, -1, 32};
}

constexpr uint32_t kSingleRead = jyn::kSingleRead;
constexpr uint32_t kBlockRead = jyn::kBlockRead;
constexpr uint32_t kSingleWrite = jyn::kSingleWrite;
constexpr uint32_t kBlockWrite = jyn::kBlockWrite;

// One instance's context with every station at the defaults, the send
// buffer filled with a pattern so that a refusal can be seen to leave it.
class FrameBench {
  public:
    static constexpr unsigned char kFill = 0xA5;

    FrameBench(StationEntry entry, const char* text, GateAddress gate, int32_t count,
               void* data = nullptr) {
        for (std::size_t i = 0; i < kStationCount; ++i) {
            context_.stationTable[i] = {static_cast<uint8_t>(i), 0xFF, kCpuA};
        }
        if (gate.station >= 0 && gate.station < static_cast<int32_t>(kStationCount)) {
            context_.stationTable[gate.station] = entry;
        }
        std::memset(buffer_, kFill, sizeof buffer_);
        request_.addressText = text;
        request_.gateAddress = gate;
        request_.count = count;
        request_.data = data != nullptr ? data : values_;
        block_.context = &context_;
        block_.params = &request_;
    }

    // A read as the host asks for it: one point single, more as a block.
    bool Read() { return ReadAs(request_.count == 1 ? kSingleRead : kBlockRead); }
    bool ReadAs(uint32_t function) {
        block_.function = function;
        return protocol::BuildRequest(block_, buffer_, length_);
    }
    bool Write(uint32_t function) {
        return protocol::BuildWriteRequest(block_, buffer_, length_, function);
    }

    // The frame as text after its ENQ; empty when the ENQ, the length or the
    // terminator are not where a frame has them.
    std::string AfterEnq() const {
        if (length_ == 0 || length_ >= kFrameBufferSize || buffer_[0] != serial::kENQ ||
            buffer_[length_] != '\0') {
            return "";
        }
        return std::string(reinterpret_cast<const char*>(buffer_) + 1, length_ - 1u);
    }
    bool Untouched() const {
        for (unsigned char byte : buffer_) {
            if (byte != kFill) return false;
        }
        return length_ == kUnsetLength;
    }
    const unsigned char* Buffer() const { return buffer_; }
    uint16_t Length() const { return length_; }
    GateRequest& Request() { return request_; }

  private:
    static constexpr uint16_t kUnsetLength = 0xBEEF;
    DriverContext context_{};
    GateRequest request_{};
    CallBlock block_{};
    unsigned char buffer_[kFrameBufferSize];
    unsigned char values_[kFrameBufferSize] = {};  // when the test brings none
    uint16_t length_ = kUnsetLength;
};

inline std::string Repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += part;
    return out;
}

}  // namespace jyn::testing
