#include "host/client/driver_instance.h"

#include <cstring>

namespace jynhost {

bool DriverInstance::AllocateContext(std::string& error, unsigned char fill) {
    jyn::DriverInfo info{};
    const int32_t result = library_->Call(nullptr, jyn::kGetJynInfo, &info, number_);
    if (result != jyn::kOk || info.contextSize < sizeof(jyn::DriverContext)) {
        error = "the driver reports a context of " + std::to_string(info.contextSize) +
                " bytes (GetJynInfo returned " + std::to_string(result) + "); this host needs " +
                std::to_string(sizeof(jyn::DriverContext));
        return false;
    }
    const std::size_t words =
        (info.contextSize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    storage_ = std::make_unique<std::max_align_t[]>(words);
    std::memset(storage_.get(), fill, words * sizeof(std::max_align_t));
    context_ = reinterpret_cast<jyn::DriverContext*>(storage_.get());
    return true;
}

}  // namespace jynhost
