// The gates of the fault soak: every kind, single and block, on every
// station of the simulated line, with the simulator's memory as the truth
// about each. Device names are written out here by hand, from the address
// syntax, and never taken from the driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interface/host_abi.h"
#include "sim/simulator.h"

namespace jynsoak {

enum class Kind { kBit, kWord, k32Bit, kString, kWordBlock, k32BitBlock };
const char* KindName(Kind kind);

// One station of the line, as the station file maps it.
struct SoakStation {
    int logical;
    int station;
    int pc;
    jynsim::CpuFamily family;
};

// A gate as the catalogue describes it.
struct GateShape {
    const char* suffix;  // the address after the two station digits
    int32_t gateType;
    Kind kind;
    int32_t block;       // points of a block, 0 for singles
    const char* device;  // device code in the simulator: "D", "X", "TN"
    uint32_t number;     // first device number
    uint32_t chars;      // string gates: characters
    bool anAcpuOnly;     // beyond what the ACPU commands reach
};

struct SoakGate {
    GateShape shape;
    SoakStation station;
    std::string text;          // the full address text
    jyn::GateAddress address;  // as the driver's parser left it
};

const std::vector<SoakStation>& Stations();
// `scan`: also a close group of gates per station, for the read-ahead.
std::vector<SoakGate> Catalogue(bool scan = false);
std::string StationFileText();
// A simulated line with these stations, as the soaks run them: a 1 ms
// turnaround and room for 4096 request records.
jynsim::LineConfig LineOf(const std::vector<SoakStation>& stations);

// Bytes as two hexadecimal digits each, for the soaks' reports.
std::string Hex(const uint8_t* bytes, std::size_t count);

// Bytes of the value buffer the gate's kind owns (reads: a string's
// terminator too).
std::size_t OwnedBytes(const SoakGate& gate, bool write);
bool IsSingleWordOrBit(const SoakGate& gate);
// The data characters of a good reply to a read of the gate.
std::size_t ReplyDataChars(const SoakGate& gate);

// The simulator's device that holds point (or word, or register) `index`.
std::string DeviceName(const SoakGate& gate, uint32_t index);
// The first device the requests of this gate name, as the simulator records it.
jynsim::DeviceRef FirstDevice(const SoakGate& gate);

// Random contents for the gate's devices in the simulator.
void Randomize(jynsim::Simulator& sim, const SoakGate& gate, jynsim::SplitMix& rng);

// What a correct read of the gate holds, from the simulator's memory: the
// owned bytes of the value buffer (a string up to and with its terminator).
std::vector<uint8_t> Expected(jynsim::Simulator& sim, const SoakGate& gate);
// The same from a data reply's characters as they reached the host; empty
// when they are not the gate's data.
std::vector<uint8_t> ExpectedFromReply(const SoakGate& gate, const std::string& reply);

// Fills `values` with data for a write that differs from what the simulator
// holds now; `Landed` tells whether the simulator holds exactly it.
void NewWriteData(jynsim::Simulator& sim, const SoakGate& gate, jynsim::SplitMix& rng,
                  uint8_t* values);
bool Landed(jynsim::Simulator& sim, const SoakGate& gate, const uint8_t* values);

}  // namespace jynsoak
