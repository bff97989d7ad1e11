// The driver library loaded at run time, as a host application loads it:
// one export, JynMain, called with host records.
#pragma once

#include <string>

#include "interface/host_abi.h"

namespace jynmb {

using EntryPoint = int32_t(JYN_CALL*)(jyn::CallBlock*);

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads `path`, or the driver beside this executable when `path` is
    // empty. On failure `error` says why.
    bool Load(const std::string& path, std::string& error);

    int32_t Call(jyn::CallBlock& block) const { return entry_(&block); }
    const std::string& Path() const { return path_; }

private:
    void* handle_ = nullptr;
    EntryPoint entry_ = nullptr;
    std::string path_;
};

// The directory this executable lives in, with a trailing separator.
std::string ExecutableDirectory();

}  // namespace jynmb
