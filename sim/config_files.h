#pragma once
// The two text files the simulator reads: the driver's station
// configuration file (JYNMB<n>.INT), so the simulated line has the stations
// the driver will address, and a preset file for the initial memory.
//
// Preset file, one assignment a line ('#' or '*' starts a comment line):
//   D100=1234          word device, decimal (-32768..65535) or 0x hex
//   W1F=0xABCD         device numbers in the device's own radix (X, Y, B, W hex)
//   M10=1              bit device: 0 or 1
//   L:D300=0x12345678  32-bit value over two words, low word first
//   S:D200="HELLO"     text, two characters per word, first in the low byte
//   [05]  or [05/FF]   the lines after it apply to station 05 (PC FF) only
//   [*]                ... and again to every station (the default)

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/devices.h"
#include "sim/station.h"

namespace jynsim {

class Simulator;

struct StationFile {
    std::vector<StationConfig> stations;  // one per distinct station/PC pair
    std::vector<unsigned> logical;        // the logical station of each line taken, in file order
    std::vector<std::string> warnings;    // lines skipped or taken as ACPU
};

// Lines "II = SS, PP[, CPU]" (hexadecimal, CPU "ACPU" or "AnACPU"); bad lines
// are skipped with a warning, as the driver does.
StationFile ParseStationFile(std::string_view text);

struct PresetEntry {
    enum Kind { kBit, kWord, kDword, kText };
    int line = 0;
    int station = -1;  // -1: every station
    int pc = -1;
    Kind kind = kWord;
    DeviceRef device{Device::kD, 0};
    std::uint32_t value = 0;
    std::string text;
};

// False with `error` naming the line for the first bad one.
bool ParsePreset(std::string_view text, std::vector<PresetEntry>& entries, std::string& error);
// False with `error` naming the line when a station lacks the device.
bool ApplyPreset(const std::vector<PresetEntry>& entries, Simulator& simulator, std::string& error);

// Whole file into `text`; false if it cannot be read or is larger than any
// station, preset or gate file a person writes (/dev/zero, a log file).
constexpr std::size_t kLargestTextFile = 1u << 20;
bool ReadTextFile(const std::string& path, std::string& text);

}  // namespace jynsim
