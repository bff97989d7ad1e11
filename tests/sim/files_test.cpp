// The station configuration file as the driver reads it, and the preset
// file: good lines land in memory, bad ones are refused naming the line.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/config_files.h"
#include "sim/simulator.h"

namespace {

using jynsim::CpuFamily;

struct StationLineCase {
    const char* text;
    int stations;  // -1: none expected
    int station;
    int pc;
    CpuFamily family;
    int warnings;
};

const StationLineCase kStationLines[] = {
    {"01=02,03", 1, 0x02, 0x03, CpuFamily::kAcpu, 0},
    {"1 = 2, 3, anacpu", 1, 0x02, 0x03, CpuFamily::kAnAcpu, 0},
    {"01 = 1F, FF, AnACPU", 1, 0x1F, 0xFF, CpuFamily::kAnAcpu, 0},
    {"01 = 02, 03, QCPU", 1, 0x02, 0x03, CpuFamily::kAcpu, 1},
    {"01 = 02", -1, 0, 0, CpuFamily::kAcpu, 1},
    {"01 = 123, 03", -1, 0, 0, CpuFamily::kAcpu, 1},
    {"   ", -1, 0, 0, CpuFamily::kAcpu, 1},
    {"", -1, 0, 0, CpuFamily::kAcpu, 0},
    {"* 01 = 02, 03", -1, 0, 0, CpuFamily::kAcpu, 0},
    // As the driver's formatted scan reads them: the CPU is one word, what
    // follows the fields is not read, no blank may stand before a comma.
    {"01 = 05, FF, AnACPU  ; remark", 1, 0x05, 0xFF, CpuFamily::kAnAcpu, 0},
    {"01 = 02, 03 junk", 1, 0x02, 0x03, CpuFamily::kAcpu, 0},
    {"01 = 02, 03,", 1, 0x02, 0x03, CpuFamily::kAcpu, 0},
    {"01 =02,03,AnACPU", 1, 0x02, 0x03, CpuFamily::kAnAcpu, 0},
    {"02 = 06 , FF", -1, 0, 0, CpuFamily::kAcpu, 1},
    {"012 = 02, 03", -1, 0, 0, CpuFamily::kAcpu, 1},
    // The driver's own settings say nothing to the line and draw no warning.
    {"OFFLINE = 30", -1, 0, 0, CpuFamily::kAcpu, 0},
    {"offline=0", -1, 0, 0, CpuFamily::kAcpu, 0},
    {"TRACE = /tmp/jyn.trace, 100000", -1, 0, 0, CpuFamily::kAcpu, 0},
    {"OFFLINE TIME = 30", -1, 0, 0, CpuFamily::kAcpu, 1},
    {"OFFLINES = 3", -1, 0, 0, CpuFamily::kAcpu, 1},
};

TEST(SimStationFile, Lines) {
    for (const auto& row : kStationLines) {
        const auto file = jynsim::ParseStationFile(row.text);
        EXPECT_EQ(static_cast<int>(file.warnings.size()), row.warnings) << row.text;
        if (row.stations < 0) {
            EXPECT_TRUE(file.stations.empty()) << row.text;
            continue;
        }
        ASSERT_EQ(file.stations.size(), 1u) << row.text;
        EXPECT_EQ(file.stations[0].station, row.station) << row.text;
        EXPECT_EQ(file.stations[0].pc, row.pc) << row.text;
        EXPECT_EQ(file.stations[0].family, row.family) << row.text;
    }
}

TEST(SimStationFile, LogicalStationsSharingACpuGiveOneStation) {
    const auto file = jynsim::ParseStationFile(
        "* line\r\n01 = 01, FF, AnACPU\r\n02 = 05, FF\r\n03 = 01, FF, AnACPU\r\nbad\r\n");
    ASSERT_EQ(file.stations.size(), 2u);
    EXPECT_EQ(file.stations[1].station, 5);
    ASSERT_EQ(file.warnings.size(), 1u);
    EXPECT_NE(file.warnings[0].find("line 5"), std::string::npos) << file.warnings[0];
}

jynsim::LineConfig TwoStations() {
    jynsim::LineConfig config;
    jynsim::StationConfig station;
    station.station = 1;
    config.stations.push_back(station);
    station.station = 5;
    station.family = CpuFamily::kAnAcpu;
    config.stations.push_back(station);
    return config;
}

TEST(SimPreset, ValuesLand) {
    const char* text =
        "# initial memory\n"
        "D100=1234\n"
        "D101 = -1\n"
        "W1F=0xABCD\n"
        "M10=1\n"
        "X1F=1\n"
        "TN5=300\n"
        "S:D200=\"HELLO\"\n"
        "L:D300=0x12345678\n"
        "[05]\n"
        "D8000=7\n"
        "[*]\n"
        "R0=2\n";
    std::vector<jynsim::PresetEntry> entries;
    std::string error;
    ASSERT_TRUE(jynsim::ParsePreset(text, entries, error)) << error;
    jynsim::Simulator sim(TwoStations());
    ASSERT_TRUE(jynsim::ApplyPreset(entries, sim, error)) << error;
    for (int station : {1, 5}) {
        EXPECT_EQ(sim.Word(station, "D100"), 1234);
        EXPECT_EQ(sim.Word(station, "D101"), 0xFFFF);
        EXPECT_EQ(sim.Word(station, "W1F"), 0xABCD);
        EXPECT_EQ(sim.Bit(station, "M10"), true);
        EXPECT_EQ(sim.Bit(station, "X1F"), true);
        EXPECT_EQ(sim.Word(station, "TN5"), 300);
        EXPECT_EQ(sim.Word(station, "D200"), 'H' | 'E' << 8);
        EXPECT_EQ(sim.Word(station, "D202"), 'O');
        EXPECT_EQ(sim.Text(station, "D200", 3), "HELLO");
        EXPECT_EQ(sim.Word(station, "D300"), 0x5678);
        EXPECT_EQ(sim.Word(station, "D301"), 0x1234);
        EXPECT_EQ(sim.Word(station, "R0"), 2);
    }
    EXPECT_EQ(sim.Word(5, "D8000"), 7);
}

struct BadPresetCase {
    const char* text;
    const char* message;
};

const BadPresetCase kBadPresets[] = {
    {"D100=1\nD100 1234\n", "line 2: expected DEVICE=VALUE"},
    {"Q100=1\n", "line 1: unknown device 'Q100'"},
    {"D100=70000\n", "line 1: '70000' is not a 16-bit value"},
    {"D100=0x1G\n", "is not a 16-bit value"},
    {"M10=2\n", "line 1: a bit device takes 0 or 1"},
    {"S:D200=HELLO\n", "line 1: text must be in double quotes"},
    {"S:M0=\"AB\"\n", "need a word device"},
    {"Z:D0=1\n", "unknown prefix"},
    {"\n\n[0G]\n", "line 3: bad station section"},
    {"D10A=1\n", "unknown device 'D10A'"},
};

TEST(SimPreset, BadLinesNameTheLine) {
    for (const auto& row : kBadPresets) {
        std::vector<jynsim::PresetEntry> entries;
        std::string error;
        EXPECT_FALSE(jynsim::ParsePreset(row.text, entries, error)) << row.text;
        EXPECT_NE(error.find(row.message), std::string::npos) << error;
    }
}

TEST(SimPreset, DeviceAStationLacksIsRefused) {
    const struct {
        const char* text;
        const char* message;
    } rows[] = {
        {"D100=1\nD8000=1\n", "line 2: station 01 has no D8000"},
        {"[07]\nD0=1\n", "line 2: no such station"},
        {"D9255=1\nD1023=1\nL:D1023=1\n", "line 3: station 01 has no D1023"},
    };
    for (const auto& row : rows) {
        std::vector<jynsim::PresetEntry> entries;
        std::string error;
        ASSERT_TRUE(jynsim::ParsePreset(row.text, entries, error)) << error;
        jynsim::Simulator sim(TwoStations());
        EXPECT_FALSE(jynsim::ApplyPreset(entries, sim, error)) << row.text;
        EXPECT_NE(error.find(row.message), std::string::npos) << error;
    }
}

// Text files are read whole, up to what a person could have written.
TEST(SimTextFile, ReadWholeUpToItsLimit) {
    const std::string path = testing::TempDir() + "jyn_sim_text_file";
    const struct {
        std::size_t size;
        bool read;
    } rows[] = {{0, true},
                {5000, true},
                {jynsim::kLargestTextFile, true},
                {jynsim::kLargestTextFile + 1, false}};
    for (const auto& row : rows) {
        std::ofstream(path, std::ios::binary) << std::string(row.size, 'x');
        std::string text = "old";
        EXPECT_EQ(jynsim::ReadTextFile(path, text), row.read) << row.size;
        if (row.read) {
            EXPECT_EQ(text.size(), row.size);
        }
    }
    std::remove(path.c_str());
    std::string text;
    EXPECT_FALSE(jynsim::ReadTextFile(path, text));  // gone
}

}  // namespace
