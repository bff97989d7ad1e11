// The gates the benchmark moves: what a host configures (address text, gate
// type, block size) and how each transfer is checked against the simulated
// station's memory, so that a fast run is also a correct one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "harness/catalogue.h"
#include "harness/driver_host.h"
#include "interface/host_abi.h"
#include "sim/simulator.h"

namespace jynbench {

// The driver as the bench hosts it: one instance, by default the first 200
// messages of a run kept, so a run can tell whether the driver complained
// (a retry, a time-out) while it was being timed.
using DriverHost = jynharness::DriverHost;
inline constexpr std::size_t kKeptMessages = 200;
// No station file JYNMB<n>.INT of the bench's instances is expected
// anywhere: the default table (logical station n is station n, PC FF, ACPU)
// is what the simulated lines are built for, and StartDriver checks that.
inline constexpr uint32_t kBenchInstance = 7319;
jynharness::HostSettings BenchHost(uint32_t instance = kBenchInstance,
                                   std::size_t keptMessages = kKeptMessages);
// The station file an instance reads from the current directory.
std::string StationFile(uint32_t instance = kBenchInstance);
// ColdStart on `port` ("pts/N"), opened at once, and the default station
// table checked. A second start releases the first, as a host's second
// ColdStart does.
bool StartDriver(DriverHost& host, const std::string& port, uint16_t baudRate,
                 uint32_t timeoutUnits, std::string& error);

struct GateCase {
    const char* name;
    int logical;  // of the default table: logical station n is station n
    jynharness::GateShape shape;
    bool write;
};

// A single word read, a single word write, a 64-word block read and a
// 20-character string read, all on logical station 01.
extern const std::vector<GateCase> kGateCases;

// A gate for a station no CPU on the line answers (logical station 05).
extern const GateCase kSilentGate;

// A catalogue gate the bench configures through the driver as a host does,
// its values put in place and checked by the catalogue, fresh ones for
// every transfer.
class Gate {
public:
    // SingleAddressParser or BlockAddressParser through JynMain.
    bool Configure(DriverHost& host, const GateCase& gateCase, std::string& error);
    // SingleRead, BlockRead or SingleWrite through JynMain.
    int32_t Transfer(DriverHost& host);
    const GateCase& Case() const { return *case_; }
    const std::string& Text() const { return gate_.text; }
    // Each of `cases` configured, in order.
    static bool ConfigureAll(DriverHost& host, const std::vector<GateCase>& cases,
                             std::vector<Gate>& gates, std::string& error);

    // Puts new values where the transfer will find them: in the station's
    // memory for a read, in the value buffer for a write.
    void Prepare(jynsim::Simulator& sim);
    // After a transfer: the values arrived where they belong.
    bool Verify(jynsim::Simulator& sim, std::string& error) const;

private:
    static constexpr std::size_t kBufferSize = 512;

    const GateCase* case_ = nullptr;
    jynharness::Gate gate_{};
    jynsim::SplitMix rng_{20240610};
    unsigned char buffer_[kBufferSize] = {};
};

}  // namespace jynbench
