// The driver as a host holds it: libRAVEVUD.so loaded at run time from beside
// this program, one context of the size GetJynInfo asks for, every service
// reached through JynMain with host records. The driver's messages come back
// through TAVORN's handler and are kept here, so a run can tell whether the
// driver complained (a retry, a time-out) while it was being timed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "interface/host_abi.h"

namespace jynbench {

class DriverHost {
public:
    DriverHost();
    ~DriverHost();
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    bool Load(std::string& error);
    // ColdStart on `port` ("pts/N"), opened at once. A second Start releases
    // the first, as a host's second ColdStart does.
    bool Start(const std::string& port, uint16_t baudRate, uint32_t timeoutUnits,
               std::string& error);
    int32_t Call(uint32_t function, void* params);
    // EndJyn ends the library for the whole process: once, at the very end.
    void End();

    const jyn::DriverContext& Context() const { return *context_; }
    // Messages the driver logged since the last call, "[level] text".
    std::vector<std::string> TakeMessages();
    std::size_t PendingMessages() const;

private:
    using EntryPoint = int32_t(JYN_CALL*)(jyn::CallBlock*);

    void* library_ = nullptr;
    EntryPoint entry_ = nullptr;
    std::unique_ptr<std::max_align_t[]> storage_;
    jyn::DriverContext* context_ = nullptr;
    bool started_ = false;
};

}  // namespace jynbench
