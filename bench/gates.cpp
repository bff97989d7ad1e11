#include "bench/gates.h"

#include <cstring>

#include "host/client/records.h"
#include "interface/station_file_names.h"

namespace jynbench {

namespace {

constexpr int kStation = 1;
constexpr int kBlockWords = 64;
constexpr uint16_t kWordValue = 0x1234;
constexpr uint16_t kWriteValue = 0xC35A;
// Exactly the 20 characters the string gate holds.
constexpr char kText[] = "JYNMB BENCH 20 CHARS";

constexpr std::size_t kKeptMessages = 200;

bool DefaultStation(const jyn::DriverContext& context, int logical) {
    const jyn::StationEntry& entry = context.stationTable[logical];
    return entry.stationNumber == logical && entry.pcNumber == 0xFF && entry.cpuType == jyn::kCpuA;
}

uint16_t BlockValue(int i) { return static_cast<uint16_t>(0xA000 + i * 0x0101); }

std::string Register(int number) { return "D" + std::to_string(number); }

uint16_t Le16(const unsigned char* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

}  // namespace

jynharness::HostSettings BenchHost() {
    jynharness::HostSettings settings;
    settings.instance = kBenchInstance;
    settings.contextFill = 0;
    settings.keptMessages = kKeptMessages;
    return settings;
}

std::string StationFile(uint32_t instance) {
    return jyn::station_file::NamesFor(instance).name[1];
}

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

const GateCase kGateCases[] = {
    {"word read", "01WD100", jyn::kGateAnalog16First, 0, false},
    {"word write", "01WD200", jyn::kGateAnalog16First, 0, true},
    {"64-word block read", "01WD100", jyn::kGateAnalog16First, kBlockWords, false},
    {"20-char string read", "01WS0300L20", jyn::kGateString, 0, false},
};
const std::size_t kGateCaseCount = sizeof kGateCases / sizeof kGateCases[0];

const GateCase kSilentGate = {"word read, no station", "05WD100", jyn::kGateAnalog16First, 0,
                              false};

bool Gate::Configure(DriverHost& host, const GateCase& gateCase, std::string& error) {
    case_ = &gateCase;
    jyn::GateDefinition definition =
        jynhost::MakeGateDefinition(gateCase.address, gateCase.gateType, gateCase.blockSize);
    if (host.Call(jynhost::ParserFunction(gateCase.blockSize), &definition) != jyn::kOk) {
        error = std::string("the driver refuses the address ") + gateCase.address;
        return false;
    }
    address_ = definition.gateAddress;
    return true;
}

int32_t Gate::Transfer(DriverHost& host) {
    jyn::GateRequest request =
        jynhost::MakeGateRequest(case_->address, address_, case_->blockSize, buffer_);
    return host.Call(jynhost::TransferFunction(case_->blockSize, case_->write), &request);
}

bool Gate::Prepare(jynsim::Simulator& sim, std::string& error) {
    std::memset(buffer_, 0, sizeof buffer_);
    bool ok = true;
    if (case_->write) {
        buffer_[2] = kWriteValue & 0xFF;
        buffer_[3] = kWriteValue >> 8;
        ok = sim.SetWord(kStation, "D200", 0);
    } else if (case_->gateType == jyn::kGateString) {
        ok = sim.SetText(kStation, "D300", kText);
    } else if (case_->blockSize > 0) {
        for (int i = 0; ok && i < kBlockWords; ++i)
            ok = sim.SetWord(kStation, Register(100 + i), BlockValue(i));
    } else {
        ok = sim.SetWord(kStation, "D100", kWordValue);
    }
    if (!ok) error = std::string("the simulated station has no room for ") + case_->name;
    return ok;
}

bool Gate::Verify(const jynsim::Simulator& sim, std::string& error) const {
    bool ok = true;
    if (case_->write) {
        ok = sim.Word(kStation, "D200") == kWriteValue;
    } else if (case_->gateType == jyn::kGateString) {
        ok = std::memcmp(buffer_, kText, sizeof kText) == 0;
    } else if (case_->blockSize > 0) {
        for (int i = 0; ok && i < kBlockWords; ++i) ok = Le16(buffer_ + 2 * i) == BlockValue(i);
    } else {
        ok = Le16(buffer_ + 2) == kWordValue;
    }
    if (!ok) error = std::string(case_->name) + ": the values did not arrive";
    return ok;
}

}  // namespace jynbench
