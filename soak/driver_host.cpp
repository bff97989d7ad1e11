#include "soak/driver_host.h"

#include "host/client/records.h"

namespace jynsoak {

namespace {

constexpr std::size_t kKeptMessages = 40;
// A host need not clear the context; the driver must not count on zeros.
constexpr unsigned char kUncleared = 0xA5;

}  // namespace

DriverHost::DriverHost() : messages_(kKeptMessages), instance_(library_) {}

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
