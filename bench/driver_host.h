// The driver as a host holds it: libRAVEVUD.so loaded at run time from beside
// this program, one context of the size GetJynInfo asks for, every service
// reached through JynMain with host records. The driver's messages come back
// through TAVORN's handler and are kept here, so a run can tell whether the
// driver complained (a retry, a time-out) while it was being timed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/client/driver_instance.h"
#include "host/client/driver_library.h"
#include "host/client/driver_messages.h"

namespace jynbench {

class DriverHost {
public:
    DriverHost();
    ~DriverHost() { End(); }
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    bool Load(std::string& error);
    // The station file its instance reads from the current directory.
    static std::string StationFile();
    // ColdStart on `port` ("pts/N"), opened at once. A second Start releases
    // the first, as a host's second ColdStart does.
    bool Start(const std::string& port, uint16_t baudRate, uint32_t timeoutUnits,
               std::string& error);
    int32_t Call(uint32_t function, void* params) { return instance_.Call(function, params); }
    // EndJyn ends the library for the whole process: once, at the very end.
    void End();

    // Messages the driver logged since the last call, the first few of them.
    std::vector<jynhost::DriverMessage> TakeMessages() { return messages_.Take(); }
    // How many it logged since then, all told.
    std::size_t PendingMessages() const { return messages_.Count(); }

private:
    jynhost::MessageRoute messages_;
    jynhost::DriverLibrary library_;
    jynhost::DriverInstance instance_;
    bool started_ = false;
};

}  // namespace jynbench
