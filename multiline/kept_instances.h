// EndJyn gives back the buffers of the instance it is called for, and ends
// every other: their buffers stay allocated, and the host keeps their
// contexts, which point at them, until the process ends.
#pragma once

#include <memory>
#include <vector>

#include "host/client/driver_instance.h"

namespace jynmulti {

inline void KeepUntilExit(std::unique_ptr<jynhost::DriverInstance> instance) {
    static auto* kept = new std::vector<std::unique_ptr<jynhost::DriverInstance>>();
    kept->push_back(std::move(instance));
}

}  // namespace jynmulti
