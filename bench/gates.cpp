#include "bench/gates.h"

#include <cstring>

#include "host/client/records.h"
#include "interface/station_file_names.h"

namespace jynbench {

namespace {

bool DefaultStation(const jyn::DriverContext& context, int logical) {
    const jyn::StationEntry& entry = context.stationTable[logical];
    return entry.stationNumber == logical && entry.pcNumber == 0xFF && entry.cpuType == jyn::kCpuA;
}

}  // namespace

jynharness::HostSettings BenchHost(uint32_t instance, std::size_t keptMessages) {
    jynharness::HostSettings settings;
    settings.instance = instance;
    settings.contextFill = 0;
    settings.keptMessages = keptMessages;
    return settings;
}

std::string StationFile(uint32_t instance) { return jyn::station_file::NamesFor(instance).name[1]; }

bool StartDriver(DriverHost& host, const std::string& port, uint16_t baudRate,
                 uint32_t timeoutUnits, std::string& error) {
    if (!jynhost::PortNameFits(port)) {
        error = "port name '" + port + "' is longer than 11 characters";
        return false;
    }
    const int32_t result = host.ColdStart(port, timeoutUnits, baudRate);
    if (result != jyn::kOk) {
        error = "ColdStart on " + port + " returned " + std::to_string(result);
        return false;
    }
    if (!DefaultStation(host.Context(), 1) || !DefaultStation(host.Context(), 5)) {
        error = "a station file " + StationFile(host.Instance()) +
                " in the current directory changes logical stations 1 or 5";
        return false;
    }
    return true;
}

using jynharness::Kind;

const std::vector<GateCase> kGateCases = {
    {"word read", 1, {"WD100", jyn::kGateAnalog16First, Kind::kWord, 0, "D", 100, 0, false}, false},
    {"word write", 1, {"WD200", jyn::kGateAnalog16First, Kind::kWord, 0, "D", 200, 0, false}, true},
    {"64-word block read",
     1,
     {"WD100", jyn::kGateAnalog16First, Kind::kWordBlock, 64, "D", 100, 0, false},
     false},
    {"20-char string read",
     1,
     {"WS0300L20", jyn::kGateString, Kind::kString, 0, "D", 300, 20, false},
     false},
};

const GateCase kSilentGate = {
    "word read, no station",
    5,
    {"WD100", jyn::kGateAnalog16First, Kind::kWord, 0, "D", 100, 0, false},
    false};

bool Gate::Configure(DriverHost& host, const GateCase& gateCase, std::string& error) {
    case_ = &gateCase;
    gate_ = jynharness::DefaultTableGate(gateCase.logical, gateCase.shape);
    return host.Configure(gate_, gateCase.shape.block, error);
}

bool Gate::ConfigureAll(DriverHost& host, const std::vector<GateCase>& cases,
                        std::vector<Gate>& gates, std::string& error) {
    gates.resize(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (!gates[i].Configure(host, cases[i], error)) return false;
    }
    return true;
}

int32_t Gate::Transfer(DriverHost& host) {
    return host.Transfer(gate_, case_->shape.block, case_->write, buffer_);
}

void Gate::Prepare(jynsim::Simulator& sim) {
    std::memset(buffer_, 0, sizeof buffer_);
    if (case_->write) {
        jynharness::NewWriteData(sim, gate_, rng_, buffer_);
    } else {
        jynharness::Randomize(sim, gate_, rng_);
    }
}

bool Gate::Verify(jynsim::Simulator& sim, std::string& error) const {
    const bool ok = case_->write ? jynharness::Landed(sim, gate_, buffer_)
                                 : jynharness::ReadHolds(sim, gate_, buffer_);
    if (!ok) error = std::string(case_->name) + ": the values did not arrive";
    return ok;
}

}  // namespace jynbench
