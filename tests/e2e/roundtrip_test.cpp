// Every kind of gate written through the driver and read back, on an ACPU
// and an AnACPU station, with the simulator's memory as the judge.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/line.h"

namespace jyn::e2e {
namespace {

enum class Kind { kBit, kWord, kDword, kString };

struct Gate {
    const char* text;  // after the two station digits
    int32_t block;
    Kind kind;
    const char* first;  // the simulator's device holding the first point
    const char* last;   // and the last point of a block
};

// Every memory-type letter, bit and word gates on bit devices, timers and
// counters, 32-bit values, strings of odd, even and zero length, and blocks
// at their limits.
const Gate kGates[] = {
    {"BX1F", 0, Kind::kBit, "X1F", nullptr},
    {"BY20", 0, Kind::kBit, "Y20", nullptr},
    {"BB3A", 0, Kind::kBit, "B3A", nullptr},
    {"BM100", 0, Kind::kBit, "M100", nullptr},
    {"BL1500", 0, Kind::kBit, "L1500", nullptr},
    {"BF10", 0, Kind::kBit, "F10", nullptr},
    {"BTS5", 0, Kind::kBit, "TS5", nullptr},
    {"BTC6", 0, Kind::kBit, "TC6", nullptr},
    {"BCS7", 0, Kind::kBit, "CS7", nullptr},
    {"BCC8", 0, Kind::kBit, "CC8", nullptr},
    {"WX4", 0, Kind::kWord, "X40", nullptr},
    {"WY5", 0, Kind::kWord, "Y50", nullptr},
    {"WB6", 0, Kind::kWord, "B60", nullptr},
    {"WM10", 0, Kind::kWord, "M160", nullptr},
    {"WL20", 0, Kind::kWord, "L320", nullptr},
    {"WF2", 0, Kind::kWord, "F32", nullptr},
    {"WTS1", 0, Kind::kWord, "TS16", nullptr},
    {"WCC0", 0, Kind::kWord, "CC0", nullptr},
    {"WD100", 0, Kind::kWord, "D100", nullptr},
    {"WW01F", 0, Kind::kWord, "W1F", nullptr},
    {"WR0100", 0, Kind::kWord, "R100", nullptr},
    {"WTN5", 0, Kind::kWord, "TN5", nullptr},
    {"WCN6", 0, Kind::kWord, "CN6", nullptr},
    {"WZ200", 0, Kind::kDword, "D200", nullptr},
    {"W1300", 0, Kind::kDword, "R300", nullptr},
    {"W2040", 0, Kind::kDword, "W40", nullptr},
    {"WS0400L5", 0, Kind::kString, "D400", nullptr},
    {"WS0410L6", 0, Kind::kString, "D410", nullptr},
    {"WR0500L11", 0, Kind::kString, "R500", nullptr},
    {"WW0060L4", 0, Kind::kString, "W60", nullptr},
    {"WD600", 64, Kind::kWord, "D600", "D663"},
    {"WZ700", 32, Kind::kDword, "D700", "D762"},
    {"WX8", 4, Kind::kWord, "X80", "XB0"},
};

int32_t GateType(const Gate& gate) {
    switch (gate.kind) {
        case Kind::kBit: return kGateDigital;
        case Kind::kDword: return kGateAnalog32First + 1;
        case Kind::kString: return kGateString;
        case Kind::kWord: return 2;
    }
    return 1;
}

unsigned StringLength(const std::string& text) {
    const auto marker = text.find('L', 8);
    return marker == 8 ? static_cast<unsigned>(std::stoul(text.substr(9))) : 0u;
}

void PutWord(unsigned char* buffer, std::size_t at, uint32_t value) {
    buffer[at] = static_cast<unsigned char>(value);
    buffer[at + 1] = static_cast<unsigned char>(value >> 8);
}
uint32_t GetWord(const unsigned char* buffer, std::size_t at) {
    return buffer[at] | (static_cast<uint32_t>(buffer[at + 1]) << 8);
}

// The value of point i, different for every gate, point and station.
uint32_t ValueOf(std::size_t gate, std::size_t point, int station, Kind kind) {
    const uint32_t seed = static_cast<uint32_t>(gate * 7919u + point * 104729u + station * 31u);
    if (kind == Kind::kBit) return 1;
    if (kind == Kind::kWord) return (seed * 2654435761u) >> 16;
    return seed * 2654435761u;
}

std::string TextOf(unsigned length) { return std::string("ABCDEFGHIJKLMNOP").substr(0, length); }

// The host's value buffer for the write, laid out as the driver expects it.
void Fill(const Gate& gate, std::size_t index, int station, unsigned char* buffer,
          const std::string& text) {
    if (gate.kind == Kind::kString) {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return;
    }
    const std::size_t points = gate.block > 0 ? static_cast<std::size_t>(gate.block) : 1;
    for (std::size_t i = 0; i < points; ++i) {
        const uint32_t value = ValueOf(index, i, station, gate.kind);
        if (gate.kind == Kind::kDword) {
            PutWord(buffer, 4 * i, value & 0xFFFF);
            PutWord(buffer, 4 * i + 2, value >> 16);
        } else {
            PutWord(buffer, gate.block > 0 ? 2 * i : 2, value);
        }
    }
}

void ExpectTruth(jynsim::Simulator& sim, const Gate& gate, std::size_t index, int station,
                 const std::string& text) {
    const std::size_t last = gate.block > 0 ? static_cast<std::size_t>(gate.block) - 1 : 0;
    switch (gate.kind) {
        case Kind::kBit: EXPECT_EQ(sim.Bit(station, gate.first), std::optional<bool>(true)); break;
        case Kind::kWord:
            EXPECT_EQ(sim.Word(station, gate.first), ValueOf(index, 0, station, gate.kind));
            if (gate.last != nullptr) {
                EXPECT_EQ(sim.Word(station, gate.last), ValueOf(index, last, station, gate.kind));
            }
            break;
        case Kind::kDword:
            EXPECT_EQ(sim.Dword(station, gate.first), ValueOf(index, 0, station, gate.kind));
            if (gate.last != nullptr) {
                EXPECT_EQ(sim.Dword(station, gate.last), ValueOf(index, last, station, gate.kind));
            }
            break;
        case Kind::kString: {
            const unsigned words = (static_cast<unsigned>(text.size()) + 1) / 2;
            EXPECT_EQ(sim.Text(station, gate.first, words), text);
            break;
        }
    }
}

void ExpectReadBack(const Gate& gate, const unsigned char* written, const unsigned char* read,
                    const std::string& text) {
    if (gate.kind == Kind::kString) {
        EXPECT_STREQ(reinterpret_cast<const char*>(read), text.c_str());
        return;
    }
    const std::size_t points = gate.block > 0 ? static_cast<std::size_t>(gate.block) : 1;
    const std::size_t bytes =
        gate.kind == Kind::kDword ? 4 * points : (gate.block > 0 ? 2 * points : 4);
    const std::size_t from = gate.kind != Kind::kDword && gate.block == 0 ? 2 : 0;
    EXPECT_EQ(std::memcmp(written + from, read + from, bytes - from), 0);
}

class RoundTrip : public Plant {
protected:
    void RunStation(int station, const char* prefix, char bitCommand, char wordCommand) {
        for (std::size_t index = 0; index < std::size(kGates); ++index) {
            const Gate& gate = kGates[index];
            HostGate host_gate{prefix + std::string(gate.text), GateType(gate), gate.block, {}};
            SCOPED_TRACE(host_gate.text);
            ASSERT_EQ(host->Configure(host_gate), kOk) << Messages::Join(messages.Take());
            const std::string text = TextOf(StringLength(host_gate.text));
            unsigned char written[300] = {};
            unsigned char read[300] = {};
            Fill(gate, index, station, written, text);
            ASSERT_EQ(host->Transfer(host_gate, true, written), kOk)
                << Messages::Join(messages.Take());
            const char letter = gate.kind == Kind::kBit ? bitCommand : wordCommand;
            EXPECT_EQ(LastCommand(), std::string(1, letter) + 'W');
            ExpectTruth(Sim(), gate, index, station, text);

            std::memset(read, 0x5A, sizeof read);
            ASSERT_EQ(host->Transfer(host_gate, false, read), kOk)
                << Messages::Join(messages.Take());
            EXPECT_EQ(LastCommand(), std::string(1, letter) + 'R');
            ExpectReadBack(gate, written, read, text);
            EXPECT_TRUE(messages.Take().empty());
        }
        // The last confirmation may still be on its way to the station.
        EXPECT_TRUE(Sim().WaitUntil(
            [](const jynsim::LineCounters& c) { return c.confirm_acks == c.data_replies; },
            std::chrono::seconds(5)));
        EXPECT_EQ(Sim().Counters().naks, 0u);
    }
};

TEST_F(RoundTrip, EveryGateKindOnAnAcpuStation) { RunStation(1, "01", 'B', 'W'); }

// A string of length 0 is a request for no words at all, which a station
// refuses: the driver reports the PLC's refusal, and nothing is written.
TEST_F(RoundTrip, EmptyStringIsRefusedByTheStation) {
    ASSERT_TRUE(Sim().SetWord(1, "D420", 0x4142));
    HostGate gate{"01WS0420L0", kGateString, 0, {}};
    ASSERT_EQ(host->Configure(gate), kOk);
    unsigned char value[4] = {'x', 0, 0, 0};
    EXPECT_EQ(host->Transfer(gate, true, value), kGateFailure);
    EXPECT_EQ(host->Transfer(gate, false, value), kGateFailure);
    const auto lines = messages.Take();
    EXPECT_TRUE(
        Messages::Contains(lines, "JYNMB> DoWrite() NAK received, Character area error, retry 1"))
        << Messages::Join(lines);
    EXPECT_TRUE(
        Messages::Contains(lines, "JYNMB> DoRead() NAK received, Character area error, retry 1"));
    EXPECT_EQ(Sim().Word(1, "D420"), 0x4142);
    EXPECT_EQ(value[0], 'x');
}

TEST_F(RoundTrip, EveryGateKindOnAnAnAcpuStation) { RunStation(2, "02", 'J', 'Q'); }

// The frames of a trace, back to their bytes, in the order they crossed the
// line: "> " before what the host sent, "< " before what it received.
std::vector<std::string> TracedFrames(const std::string& path) {
    static const std::string kNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "HT",  "LF",  "VT",  "CL",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    std::vector<std::string> frames;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 31 || line[0] == '#') continue;
        const std::string kind = line.substr(28, 3);
        if (kind != "TX " && kind != "RX ") continue;
        std::string bytes = kind == "TX " ? "> " : "< ";
        for (std::size_t i = 31; i < line.size(); ++i) {
            if (line[i] != '<') {
                bytes += line[i];
                continue;
            }
            const std::size_t end = line.find('>', i);
            const std::string name = line.substr(i + 1, end - i - 1);
            const auto named = std::find(std::begin(kNames), std::end(kNames), name);
            bytes += named != std::end(kNames) ? static_cast<char>(named - std::begin(kNames))
                                               : static_cast<char>(std::stoi(name, nullptr, 16));
            i = end;
        }
        frames.push_back(bytes);
    }
    return frames;
}

class TracedRoundTrip : public RoundTrip {
protected:
    std::string StationFile() const override {
        return std::string(kStationFile) + "TRACE = line.trc\n";
    }
};

// On a clean line the trace holds exactly the frames the line carried, as
// the simulator saw them, in their order.
TEST_F(TracedRoundTrip, HoldsExactlyTheFramesTheLineCarried) {
    ASSERT_TRUE(work.Write("line.trc", ""));  // the folder's clean-up takes it too
    RunStation(2, "02", 'J', 'Q');
    ASSERT_EQ(host->Call(kEndJyn, nullptr), kOk);  // the trace is written and closed
    std::vector<std::string> carried;
    for (const jynsim::TrafficEntry& entry : Sim().Traffic()) {
        if (entry.direction == jynsim::Direction::kNote) continue;
        carried.push_back((entry.direction == jynsim::Direction::kToPlc ? "> " : "< ") +
                          entry.bytes);
    }
    const std::vector<std::string> traced = TracedFrames("line.trc");
    // Each gate: the write and its ACK, the read, its reply and the confirmation.
    EXPECT_EQ(traced.size(), 5 * std::size(kGates));
    EXPECT_EQ(traced, carried);
}

struct Crossing {
    const char* gate;
    int32_t block;
    int32_t type;
    const char* command;  // the write's command
};

// An ACPU station gets the extended commands only where a request passes an
// ACPU limit; logical station 10 is station 5 through the station file.
TEST_F(RoundTrip, AcpuStationAcrossTheExtendedFormLimits) {
    const Crossing cases[] = {
        {"10WD1023", 0, 1, "WW"},  {"10WD1024", 0, 1, "QW"},   {"10WD1000", 24, 1, "WW"},
        {"10WD1000", 30, 1, "QW"}, {"10BX7FF", 0, 6, "BW"},    {"10BX800", 0, 6, "JW"},
        {"10WTN255", 0, 1, "WW"},  {"10WTN256", 0, 1, "QW"},   {"10BM2047", 0, 6, "BW"},
        {"10BM2048", 0, 6, "JW"},  {"10WZ1020", 2, 3, "WW"},   {"10WZ1022", 2, 3, "QW"},
        {"10WR2047", 0, 1, "WW"},  {"10WR2048", 0, 1, "QW"},   {"10WW3FF", 0, 1, "WW"},
        {"10WW400", 0, 1, "QW"},   {"10WS1022L4", 0, 7, "WW"}, {"10WS1022L6", 0, 7, "QW"},
    };
    for (const Crossing& c : cases) {
        HostGate gate{c.gate, c.type, c.block, {}};
        SCOPED_TRACE(std::string(c.gate) + "*" + std::to_string(c.block));
        ASSERT_EQ(host->Configure(gate), kOk);
        unsigned char value[300];
        for (std::size_t i = 0; i < sizeof value; ++i)
            value[i] = static_cast<unsigned char>(i * 13 + 1);
        if (c.type == kGateString) std::memcpy(value, "WXYZabcd", 9);
        ASSERT_EQ(host->Transfer(gate, true, value), kOk) << Messages::Join(messages.Take());
        EXPECT_EQ(LastCommand(), c.command);
        unsigned char read[300] = {};
        ASSERT_EQ(host->Transfer(gate, false, read), kOk) << Messages::Join(messages.Take());
        EXPECT_EQ(LastCommand(), std::string(1, c.command[0]) + 'R');
        if (c.type == kGateString) {
            const std::size_t length = static_cast<std::size_t>(c.gate[9] - '0');
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(read)),
                      std::string("WXYZabcd", length));
        } else {
            const std::size_t points = c.block > 0 ? static_cast<std::size_t>(c.block) : 1;
            const std::size_t bytes = c.type == 3 ? 4 * points : (c.block > 0 ? 2 * points : 4);
            const std::size_t from = c.type == 6 ? 2 : (c.type == 1 && c.block == 0 ? 2 : 0);
            std::vector<unsigned char> expect(value, value + bytes);
            if (c.type == kGateDigital) {  // a bit reads back as 0 or 1
                expect[2] = 1;
                expect[3] = 0;
            }
            EXPECT_EQ(std::memcmp(expect.data() + from, read + from, bytes - from), 0);
        }
    }
    // The plain ACPU of station 1 has no D1024: it refuses the request.
    HostGate beyond{"01WD1024", 1, 0, {}};
    ASSERT_EQ(host->Configure(beyond), kOk);
    unsigned char value[4] = {};
    messages.Take();
    EXPECT_EQ(host->Transfer(beyond, false, value), kGateFailure);
    EXPECT_TRUE(Messages::Contains(messages.Take(),
                                   "JYNMB> DoRead() NAK received, Character area error, retry 1"));
}

TEST_F(RoundTrip, StationFileMapsLogicalStationsToTheLine) {
    ASSERT_TRUE(Sim().SetWord(1, "D10", 0x1111));
    ASSERT_TRUE(Sim().SetWord(2, "D10", 0x2222));
    ASSERT_TRUE(Sim().SetWord(5, "D10", 0x5555));
    const struct {
        const char* gate;
        uint32_t value;
    } cases[] = {{"01WD10", 0x1111}, {"02WD10", 0x2222}, {"10WD10", 0x5555}};
    for (const auto& c : cases) {
        HostGate gate{c.gate, 1, 0, {}};
        ASSERT_EQ(host->Configure(gate), kOk);
        unsigned char value[4] = {};
        ASSERT_EQ(host->Transfer(gate, false, value), kOk) << c.gate;
        EXPECT_EQ(GetWord(value, 2), c.value) << c.gate;
    }
    const StationEntry& entry = host->Context().stationTable[0x10];
    EXPECT_EQ(entry.stationNumber, 5);
    EXPECT_EQ(entry.pcNumber, 0xFF);
    EXPECT_EQ(entry.cpuType, kCpuA);
    EXPECT_EQ(host->Context().stationTable[2].cpuType, kCpuAn);
    // A logical station the file leaves alone addresses its own number, where
    // no station answers: ten silent attempts.
    HostGate nobody{"03WD10", 1, 0, {}};
    ASSERT_EQ(host->Configure(nobody), kOk);
    unsigned char value[4] = {};
    EXPECT_EQ(host->Transfer(nobody, false, value), kDriverFailure);
    EXPECT_EQ(Sim().Counters().unaddressed, 10u);
}

}  // namespace
}  // namespace jyn::e2e
