#include "soak/driver_host.h"

#include <chrono>
#include <thread>

#include "host/client/records.h"

namespace jynsoak {

namespace {

constexpr std::size_t kKeptMessages = 40;
// A host need not clear the context; the driver must not count on zeros.
constexpr unsigned char kUncleared = 0xA5;

jynhost::MessageRoute::Echo SlowEcho(uint32_t delayMs) {
    if (delayMs == 0) return {};
    return [delayMs](const jynhost::DriverMessage&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    };
}

}  // namespace

DriverHost::DriverHost(uint32_t logDelayMs)
    : messages_(kKeptMessages, SlowEcho(logDelayMs)), instance_(library_) {}

bool DriverHost::Load(const std::string& path, std::string& error) {
    return library_.Load(path, error) && instance_.AllocateContext(error, kUncleared);
}

int32_t DriverHost::ColdStart(const std::string& port, uint32_t timeoutUnits, uint16_t baud) {
    jynhost::LineSettings line;
    line.replyTimeout = timeoutUnits;
    line.baudRate = baud;
    jyn::ColdStartParams params = jynhost::MakeColdStart(port, true, line);
    return Call(jyn::kColdStart, &params);
}

}  // namespace jynsoak
