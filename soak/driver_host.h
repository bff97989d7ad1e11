// The driver library as the soaks host it: loaded at run time as a host
// application loads it, one instance with a context the host does not
// clear, and the driver's messages of the current transaction kept for a
// report.
#pragma once

#include <cstdint>
#include <string>

#include "host/client/driver_instance.h"
#include "host/client/driver_library.h"
#include "host/client/driver_messages.h"
#include "interface/host_abi.h"

namespace jynsoak {

class DriverHost {
public:
    // `logDelayMs`: the host's logging call takes that long each time (a
    // host that writes its log slowly); 0: at once.
    explicit DriverHost(uint32_t logDelayMs = 0);

    // Loads `path`, letting go of the library loaded before, and allocates
    // the context it asks for. False with `error` when either fails.
    bool Load(const std::string& path, std::string& error);
    void Unload() { library_.Unload(); }

    int32_t Call(uint32_t function, void* params = nullptr) {
        return instance_.Call(function, params);
    }
    // ColdStart on `port`, opened at once.
    int32_t ColdStart(const std::string& port, uint32_t timeoutUnits, uint16_t baud = 9600);
    const jyn::DriverContext& Context() const { return *instance_.Context(); }

    // What the driver said since the last Take, at most 40 messages.
    jynhost::MessageRoute& Messages() { return messages_; }
    const jynhost::MessageRoute& Messages() const { return messages_; }

private:
    jynhost::MessageRoute messages_;
    jynhost::DriverLibrary library_;
    jynhost::DriverInstance instance_;
};

}  // namespace jynsoak
