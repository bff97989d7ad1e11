// A simulated plant for end-to-end tests: the real driver library on one
// side of a pseudo-terminal, the simulator's stations on the other.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/pty_server.h"
#include "tests/e2e/host.h"

namespace jyn::e2e {

constexpr uint32_t kInstance = 7;
constexpr uint32_t kTimeoutUnits = 10;  // 100 ms: faults cost little time

// Logical stations 01 (ACPU) and 02 (AnACPU) address stations 1 and 2;
// logical 10 addresses station 5, an ACPU with the larger memory of an AnA
// (and inputs up to XFFF) that also takes the extended commands, to cross
// the ACPU limits.
const char kStationFile[] =
    "* end-to-end line\n"
    "01 = 01, FF, ACPU\n"
    "02 = 02, FF, AnACPU\n"
    "10 = 05, FF, acpu\n";

inline jynsim::LineConfig PlantConfig() {
    jynsim::LineConfig config;
    config.timing.turnaround = std::chrono::milliseconds(1);
    jynsim::StationConfig acpu;
    acpu.station = 1;
    acpu.family = jynsim::CpuFamily::kAcpu;
    jynsim::StationConfig ana;
    ana.station = 2;
    ana.family = jynsim::CpuFamily::kAnAcpu;
    jynsim::StationConfig wide;
    wide.station = 5;
    wide.family = jynsim::CpuFamily::kAcpu;
    wide.ranges = jynsim::DefaultRanges(jynsim::CpuFamily::kAnAcpu);
    wide.ranges->SetPoints(jynsim::Device::kX, 0x1000);
    wide.extended_on_acpu = jynsim::ExtendedOnAcpu::kAccept;
    config.stations = {acpu, ana, wide};
    return config;
}

// The name a host gives the driver: at most 11 characters, taken under /dev/.
inline std::string PortName(const std::string& path) {
    return path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
}

class Plant : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.Ok()) << "cannot load " << JYN_DRIVER_PATH << ": " << dlerror();
        ASSERT_TRUE(work.Write("JYNMB07.INT", StationFile()));
        std::string error;
        line = std::make_unique<jynsim::SimulatedLine>(Config());
        ASSERT_TRUE(line->Start(error)) << error;
        host = std::make_unique<Instance>(library, kInstance);
        ASSERT_EQ(host->ColdStart(PortName(line->Port()), kTimeoutUnits), kOk)
            << Messages::Join(messages.Take());
        messages.Take();
    }
    void TearDown() override {
        if (host) {
            EXPECT_EQ(host->Call(kEndJyn, nullptr), kOk);
        }
        host.reset();
        if (line) {
            line->Stop();
            const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
            jynsim::DumpTrafficIfAsked(Sim().Traffic(),
                                       std::string(test->test_suite_name()) + "." + test->name());
        }
    }

    // What JYNMB07.INT holds, and the stations on the line.
    virtual std::string StationFile() const { return kStationFile; }
    virtual jynsim::LineConfig Config() const { return PlantConfig(); }

    jynsim::Simulator& Sim() { return line->Sim(); }

    // The command of the last request a station received.
    std::string LastCommand() {
        const auto records = Sim().Records();
        return records.empty() ? std::string() : records.back().command;
    }

    Messages messages;
    WorkDirectory work;
    Library library;
    std::unique_ptr<jynsim::SimulatedLine> line;
    std::unique_ptr<Instance> host;
};

}  // namespace jyn::e2e
