// The gate catalogue: every kind, single and block, on every station of the
// simulated line, with the simulator's memory as the truth about each.
// Device names are written out here by hand, from the address syntax, and
// never taken from the driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "harness/gate_kinds.h"
#include "interface/host_abi.h"
#include "sim/simulator.h"

namespace jynharness {

// One station of the line, as the station file maps it.
struct Station {
    int logical;
    int station;
    int pc;
    jynsim::CpuFamily family;
};

struct Gate {
    GateShape shape;
    Station station;
    std::string text;          // the full address text
    jyn::GateAddress address;  // as the driver's parser left it
};

const std::vector<Station>& Stations();
// The gate on `station`, its address text that station's logical number
// and the shape's suffix.
Gate GateAt(const Station& station, const GateShape& shape);
// The same on logical station n of the table a ColdStart without a station
// file sets up: station n, PC FF, an ACPU.
Gate DefaultTableGate(int logical, const GateShape& shape);
// `scan`: also a close group of gates per station, for the read-ahead.
std::vector<Gate> Catalogue(bool scan = false);
std::string StationFileText();
// A simulated line with these stations, as the soaks run them: a 1 ms
// turnaround and room for 4096 request records.
jynsim::LineConfig LineOf(const std::vector<Station>& stations);

// Bytes as two hexadecimal digits each, for the soaks' reports.
std::string Hex(const uint8_t* bytes, std::size_t count);

// Bytes of the value buffer the gate's kind owns (reads: a string's
// terminator too).
inline std::size_t OwnedBytes(const Gate& gate, bool write) {
    return OwnedBytes(gate.shape, write);
}
bool IsSingleWordOrBit(const Gate& gate);
// The data characters of a good reply to a read of the gate.
inline std::size_t ReplyDataChars(const Gate& gate) {
    return ReplyDataChars(gate.shape.kind, gate.shape.block, gate.shape.chars);
}

// The simulator's device that holds point (or word, or register) `index`.
std::string DeviceName(const Gate& gate, uint32_t index);
// The first device the requests of this gate name, as the simulator records it.
jynsim::DeviceRef FirstDevice(const Gate& gate);

// Random contents for the gate's devices in the simulator.
void Randomize(jynsim::Simulator& sim, const Gate& gate, jynsim::SplitMix& rng);

// What a correct read of the gate holds, from the simulator's memory: the
// owned bytes of the value buffer (a string up to and with its terminator).
std::vector<uint8_t> Expected(jynsim::Simulator& sim, const Gate& gate);
// A read's value buffer holds that (a single bit or word from byte 2 on).
bool ReadHolds(jynsim::Simulator& sim, const Gate& gate, const uint8_t* values);
// The same from a data reply's characters as they reached the host; empty
// when they are not the gate's data.
std::vector<uint8_t> ExpectedFromReply(const Gate& gate, const std::string& reply);

// Fills `values` with data for a write that differs from what the simulator
// holds now; `Landed` tells whether the simulator holds exactly it.
void NewWriteData(jynsim::Simulator& sim, const Gate& gate, jynsim::SplitMix& rng, uint8_t* values);
bool Landed(jynsim::Simulator& sim, const Gate& gate, const uint8_t* values);

}  // namespace jynharness
