// The driver library loaded at run time, as a host application loads it:
// one export, JynMain, called with host records.
#pragma once

#include <cstdint>
#include <string>

#include "interface/host_abi.h"

namespace jynhost {

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary() { Unload(); }
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads `path`, or the driver beside this executable when `path` is
    // empty; a library loaded before is let go first. On failure `error`
    // says why.
    bool Load(const std::string& path, std::string& error);
    void Unload();
    bool Loaded() const { return entry_ != nullptr; }
    const std::string& Path() const { return path_; }

    int32_t Call(jyn::DriverContext* context, uint32_t function, void* params,
                 uint32_t instance) const;

    // Whether the system still holds the library at `path` mapped into this
    // process, after every handle to it has been let go.
    static bool StillLoaded(const std::string& path);

private:
    using EntryPoint = int32_t(JYN_CALL*)(jyn::CallBlock*);

    void* handle_ = nullptr;
    EntryPoint entry_ = nullptr;
    std::string path_;
};

// The driver library's file in the directory this executable lives in.
std::string DriverBesideExecutable();

}  // namespace jynhost
