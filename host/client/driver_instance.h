// One instance of the driver as a host keeps it: its number, which names
// the station file JYNMB<n>.INT, the context memory the host allocates for
// it, and the calls made with both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/client/driver_library.h"
#include "interface/host_abi.h"

namespace jynhost {

class DriverInstance {
public:
    explicit DriverInstance(const DriverLibrary& library, uint32_t number = 1)
        : library_(&library), number_(number) {}

    // Asks the driver how large a context it wants (GetJynInfo) and
    // allocates that much, aligned for the record and filled with `fill`: a
    // host need not clear it. False with `error` when the driver does not
    // answer or wants less than the record this host was built with.
    bool AllocateContext(std::string& error, unsigned char fill = 0);

    // Without a context until one is allocated: the address parsers and
    // GetJynInfo need none.
    int32_t Call(uint32_t function, void* params) const {
        return library_->Call(context_, function, params, number_);
    }
    jyn::DriverContext* Context() const { return context_; }

private:
    const DriverLibrary* library_;
    uint32_t number_;
    std::unique_ptr<std::max_align_t[]> storage_;
    jyn::DriverContext* context_ = nullptr;
};

}  // namespace jynhost
