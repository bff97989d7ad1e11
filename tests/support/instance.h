// One driver instance as a host holds it: its context and the calls it makes
// through JynMain. Releases what ColdStart allocated when it goes, since unit
// tests cannot call EndJyn (it ends the library for the whole process).
#pragma once

#include <cstring>
#include <string>

#include "driver/frame_buffers.h"
#include "interface/host_abi.h"

namespace jyn::testing {

inline void SetName(char (&field)[kPortNameSize], const std::string& name) {
    std::memset(field, 0, kPortNameSize);
    std::memcpy(field, name.data(), name.size() < kPortNameSize ? name.size() : kPortNameSize);
}

inline ColdStartParams MakeColdStart(const std::string& port, bool openNow, uint32_t timeout = 10) {
    ColdStartParams params{};
    SetName(params.portName, port);
    params.openNow = openNow ? 1 : 0;
    params.replyTimeout = timeout;
    params.baudRate = 9600;
    params.dataBits = 8;
    params.stopBits = 0;
    params.parity = 0;
    return params;
}

class Instance {
public:
    Instance() { std::memset(&context_, 0xA5, sizeof context_); }  // a host need not clear it
    ~Instance() {
        if (IsStarted(context_)) {
            ReleaseFrameBuffer(context_.sendBuffer);
            ReleaseFrameBuffer(context_.receiveBuffer);
        }
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    int32_t Call(uint32_t function, void* params = nullptr, uint32_t instance = 1) {
        CallBlock block{};
        block.context = &context_;
        block.function = function;
        block.instance = instance;
        block.params = params;
        return JynMain(&block);
    }
    int32_t ColdStart(const std::string& port, bool openNow, uint32_t timeout = 10) {
        ColdStartParams params = MakeColdStart(port, openNow, timeout);
        return Call(kColdStart, &params);
    }
    CallBlock Block(uint32_t function, void* params) {
        CallBlock block{};
        block.context = &context_;
        block.function = function;
        block.instance = 1;
        block.params = params;
        return block;
    }

    DriverContext& Context() { return context_; }

private:
    DriverContext context_;
};

}  // namespace jyn::testing
