// The driver library as a host application holds it: loaded at run time
// with dlopen, one export called with host records, its messages routed from
// TAVORN (the host's logging library) to the host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interface/host_abi.h"

namespace jynsoak {

// What the driver said during the current transaction, and in all.
struct Messages {
    uint64_t info = 0;
    uint64_t errors = 0;
    std::vector<std::string> recent;  // since the last Clear, at most kKeep
    static constexpr std::size_t kKeep = 40;
    void Clear() { recent.clear(); }
};

class DriverHost {
public:
    DriverHost() = default;
    ~DriverHost() { Unload(); }
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    // Loads `path` and routes TAVORN's messages (libTAVORN.so beside it) to
    // Log(). False with `error` set when either does not load.
    bool Load(const std::string& path, std::string& error);
    void Unload();
    bool Loaded() const { return handle_ != nullptr; }
    // Whether the dynamic loader still holds the library at `path`.
    static bool StillLoaded(const std::string& path);

    int32_t Call(jyn::CallBlock& block) const { return entry_(&block); }
    int32_t Call(void* context, uint32_t function, void* params, uint32_t instance = 1) const;

    static Messages& Log();

private:
    using Entry = int32_t (*)(jyn::CallBlock*);
    void* handle_ = nullptr;
    void* tavorn_ = nullptr;
    Entry entry_ = nullptr;
};

// The folder this executable lives in, with a trailing slash.
std::string ExecutableFolder();

}  // namespace jynsoak
