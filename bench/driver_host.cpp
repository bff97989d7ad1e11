#include "bench/driver_host.h"

#include "host/client/records.h"

namespace jynbench {

namespace {

// No station file JYNMB<n>.INT of this instance is expected anywhere: the
// default table (logical station n is station n, PC FF, ACPU) is what the
// simulated line is built for, and Start checks that it holds.
constexpr uint32_t kInstance = 7319;
constexpr std::size_t kKeptMessages = 200;

bool DefaultStation(const jyn::DriverContext& context, int logical) {
    const jyn::StationEntry& entry = context.stationTable[logical];
    return entry.stationNumber == logical && entry.pcNumber == 0xFF && entry.cpuType == jyn::kCpuA;
}

}  // namespace

DriverHost::DriverHost() : messages_(kKeptMessages), instance_(library_, kInstance) {}

std::string DriverHost::StationFile() { return "JYNMB" + std::to_string(kInstance) + ".INT"; }

bool DriverHost::Load(std::string& error) {
    return library_.Load(jynhost::DriverBesideExecutable(), error) &&
           instance_.AllocateContext(error);
}

bool DriverHost::Start(const std::string& port, uint16_t baudRate, uint32_t timeoutUnits,
                       std::string& error) {
    if (!jynhost::PortNameFits(port)) {
        error = "port name '" + port + "' is longer than 11 characters";
        return false;
    }
    jynhost::LineSettings line;
    line.replyTimeout = timeoutUnits;
    line.baudRate = baudRate;
    jyn::ColdStartParams params = jynhost::MakeColdStart(port, true, line);
    const int32_t result = Call(jyn::kColdStart, &params);
    started_ = true;
    if (result != jyn::kOk) {
        error = "ColdStart on " + port + " returned " + std::to_string(result);
        return false;
    }
    const jyn::DriverContext& context = *instance_.Context();
    if (!DefaultStation(context, 1) || !DefaultStation(context, 5)) {
        error = "a station file JYNMB" + std::to_string(kInstance) +
                ".INT in the current directory changes logical stations 1 or 5";
        return false;
    }
    return true;
}

void DriverHost::End() {
    if (!started_) return;
    started_ = false;
    Call(jyn::kEndJyn, nullptr);
}

}  // namespace jynbench
