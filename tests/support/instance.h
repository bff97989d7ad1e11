// One driver instance as a host holds it: its context and the calls it makes
// through JynMain. Releases what ColdStart allocated when it goes, since unit
// tests cannot call EndJyn (it ends the library for the whole process).
#pragma once

#include <cstring>
#include <string>

#include "driver/lines.h"
#include "host/client/records.h"
#include "interface/host_abi.h"

namespace jyn::testing {

inline void SetName(char (&field)[kPortNameSize], const std::string& name) {
    jynhost::CopyPortName(field, name);
}

inline ColdStartParams MakeColdStart(const std::string& port, bool openNow, uint32_t timeout = 10) {
    jynhost::LineSettings line;
    line.replyTimeout = timeout;
    return jynhost::MakeColdStart(port, openNow, line);
}

class Instance {
public:
    Instance() { std::memset(&context_, 0xA5, sizeof context_); }  // a host need not clear it
    ~Instance() {
        if (IsStarted(context_)) {
            ReleaseLine(context_);
        }
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    int32_t Call(uint32_t function, void* params = nullptr, uint32_t instance = 1) {
        CallBlock block = Block(function, params, instance);
        return JynMain(&block);
    }
    int32_t ColdStart(const std::string& port, bool openNow, uint32_t timeout = 10) {
        ColdStartParams params = MakeColdStart(port, openNow, timeout);
        return Call(kColdStart, &params);
    }
    CallBlock Block(uint32_t function, void* params, uint32_t instance = 1) {
        return jynhost::MakeCallBlock(&context_, function, instance, params);
    }

    DriverContext& Context() { return context_; }

private:
    DriverContext context_;
};

}  // namespace jyn::testing
