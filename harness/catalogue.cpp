#include "harness/catalogue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "sim/hex.h"

namespace jynharness {

namespace {

using jynsim::CpuFamily;

const std::vector<Station> kStations = {
    {0x01, 0x01, 0xFF, CpuFamily::kAcpu},
    {0x02, 0x05, 0xFF, CpuFamily::kAnAcpu},
    {0x03, 0x02, 0xFF, CpuFamily::kAcpu},
    {0x1A, 0x1F, 0x03, CpuFamily::kAnAcpu},
};

// Numbers never overlap within a station: M, L and S are one pool of relays.
const GateShape kShapes[] = {
    {"BM100", 6, Kind::kBit, 0, "M", 100, 0, false},
    {"BX1F", 6, Kind::kBit, 0, "X", 0x1F, 0, false},
    {"BY2A", 6, Kind::kBit, 0, "Y", 0x2A, 0, false},
    {"BB3C", 6, Kind::kBit, 0, "B", 0x3C, 0, false},
    {"BL40", 6, Kind::kBit, 0, "L", 40, 0, false},
    {"BF7", 6, Kind::kBit, 0, "F", 7, 0, false},
    {"BTS10", 6, Kind::kBit, 0, "TS", 10, 0, false},
    {"BCC20", 6, Kind::kBit, 0, "CC", 20, 0, false},
    {"WD100", 1, Kind::kWord, 0, "D", 100, 0, false},
    {"WW1A0", 0, Kind::kWord, 0, "W", 0x1A0, 0, false},
    {"WR0300", 2, Kind::kWord, 0, "R", 300, 0, false},
    {"WTN5", 1, Kind::kWord, 0, "TN", 5, 0, false},
    {"WCN7", 1, Kind::kWord, 0, "CN", 7, 0, false},
    {"WX20", 0, Kind::kWord, 0, "X", 0x200, 0, false},
    {"WM10", 0, Kind::kWord, 0, "M", 160, 0, false},
    {"WZ200", 4, Kind::k32Bit, 0, "D", 200, 0, false},
    {"W2010", 3, Kind::k32Bit, 0, "W", 0x10, 0, false},
    {"W10400", 5, Kind::k32Bit, 0, "R", 400, 0, false},
    {"WS0300L20", 7, Kind::kString, 0, "D", 300, 20, false},
    {"WR0500L5", 7, Kind::kString, 0, "R", 500, 5, false},
    {"WW0100L7", 7, Kind::kString, 0, "W", 0x100, 7, false},
    {"WS0320L64", 7, Kind::kString, 0, "D", 320, 64, false},
    {"WD500", 1, Kind::kWordBlock, 10, "D", 500, 0, false},
    {"WD600", 1, Kind::kWordBlock, 64, "D", 600, 0, false},
    {"WW200", 1, Kind::kWordBlock, 16, "W", 0x200, 0, false},
    {"WX40", 1, Kind::kWordBlock, 4, "X", 0x400, 0, false},
    {"WTN100", 1, Kind::kWordBlock, 20, "TN", 100, 0, false},
    {"WZ700", 4, Kind::k32BitBlock, 8, "D", 700, 0, false},
    {"W20300", 4, Kind::k32BitBlock, 32, "W", 0x300, 0, false},
    {"W10600", 4, Kind::k32BitBlock, 5, "R", 600, 0, false},
    {"WD5000", 1, Kind::kWord, 0, "D", 5000, 0, true},
    {"WWF00", 1, Kind::kWord, 0, "W", 0xF00, 0, true},
    {"BM5000", 6, Kind::kBit, 0, "M", 5000, 0, true},
    {"WZ6000", 4, Kind::k32BitBlock, 32, "D", 6000, 0, true},
};

bool HexNumbered(const std::string& code) {
    return code == "X" || code == "Y" || code == "B" || code == "W";
}

bool BitDevice(const std::string& code) {
    return code == "X" || code == "Y" || code == "B" || code == "M" || code == "L" || code == "F" ||
           code == "TS" || code == "TC" || code == "CS" || code == "CC";
}

// Words of device memory the gate covers, in device-number offsets.
std::vector<uint32_t> WordOffsets(const Gate& gate) {
    const std::size_t words = WordsOf(gate.shape.kind, gate.shape.block, gate.shape.chars);
    const uint32_t step = BitDevice(gate.shape.device) ? 16 : 1;
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < words; ++i) offsets.push_back(i * step);
    return offsets;
}

jynsim::Target TargetOf(const Gate& gate) { return {gate.station.station, gate.station.pc}; }

uint16_t WordOf(jynsim::Simulator& sim, const Gate& gate, uint32_t offset) {
    return sim.Word(TargetOf(gate), DeviceName(gate, offset)).value_or(0);
}

uint8_t Printable(jynsim::SplitMix& rng) { return static_cast<uint8_t>(0x20 + rng.Next() % 0x5F); }

void PutLe(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe(const uint8_t* in, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | in[i];
    return value;
}

// The value buffer's bytes of a gate of words, in device order.
std::vector<uint8_t> BytesOfWords(const Gate& gate, const std::vector<uint16_t>& words) {
    std::vector<uint8_t> out;
    for (const uint16_t word : words) {
        out.push_back(static_cast<uint8_t>(word & 0xFF));
        out.push_back(static_cast<uint8_t>(word >> 8));
    }
    if (gate.shape.kind == Kind::kString) {
        std::size_t end = 0;
        while (end < out.size() && out[end] != 0) ++end;
        out.resize(end);
        out.push_back(0);
    }
    return out;
}

}  // namespace

jynsim::LineConfig LineOf(const std::vector<Station>& stations) {
    jynsim::LineConfig config;
    for (const Station& s : stations) {
        jynsim::StationConfig station;
        station.station = static_cast<uint8_t>(s.station);
        station.pc = static_cast<uint8_t>(s.pc);
        station.family = s.family;
        config.stations.push_back(station);
    }
    config.timing.turnaround = std::chrono::milliseconds(1);
    config.record_capacity = 4096;
    return config;
}

std::string Hex(const uint8_t* bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += jynsim::FormatHex(bytes[i], 2);
    return out;
}

const std::vector<Station>& Stations() { return kStations; }

namespace {

// A host's scan for the read-ahead: words with a hole, a 32-bit value, a
// string, a block and bits, close enough for blocks to cover them.
const GateShape kScanShapes[] = {
    {"WD800", 1, Kind::kWord, 0, "D", 800, 0, false},
    {"WD801", 1, Kind::kWord, 0, "D", 801, 0, false},
    {"WD802", 1, Kind::kWord, 0, "D", 802, 0, false},
    {"WD805", 1, Kind::kWord, 0, "D", 805, 0, false},
    {"WZ806", 4, Kind::k32Bit, 0, "D", 806, 0, false},
    {"WS0808L6", 7, Kind::kString, 0, "D", 808, 6, false},
    {"WD812", 1, Kind::kWordBlock, 4, "D", 812, 0, false},
    {"BM400", 6, Kind::kBit, 0, "M", 400, 0, false},
    {"BM401", 6, Kind::kBit, 0, "M", 401, 0, false},
    {"BM415", 6, Kind::kBit, 0, "M", 415, 0, false},
    {"BM416", 6, Kind::kBit, 0, "M", 416, 0, false},
    {"WM27", 0, Kind::kWord, 0, "M", 432, 0, false},
};

}  // namespace

Gate GateAt(const Station& station, const GateShape& shape) {
    char text[32];
    std::snprintf(text, sizeof text, "%02X%s", static_cast<unsigned>(station.logical),
                  shape.suffix);
    return {shape, station, text, {}};
}

Gate DefaultTableGate(int logical, const GateShape& shape) {
    return GateAt({logical, logical, 0xFF, CpuFamily::kAcpu}, shape);
}

std::vector<Gate> Catalogue(bool scan) {
    std::vector<Gate> gates;
    std::vector<GateShape> shapes(std::begin(kShapes), std::end(kShapes));
    if (scan) shapes.insert(shapes.end(), std::begin(kScanShapes), std::end(kScanShapes));
    for (const Station& station : kStations) {
        for (const GateShape& shape : shapes) {
            if (shape.anAcpuOnly && station.family != CpuFamily::kAnAcpu) continue;
            gates.push_back(GateAt(station, shape));
        }
    }
    return gates;
}

// Written as people write it: blanks, a comment, a CPU word in lower case,
// and one line without a CPU word (an ACPU).
std::string StationFileText() {
    return "* stations of the fault soak\n"
           "01 = 01, FF, ACPU\n"
           "02 = 05, FF, AnACPU\n"
           "03 = 02, FF\n"
           "1A = 1F, 03, anacpu\n";
}

bool IsSingleWordOrBit(const Gate& gate) {
    return gate.shape.kind == Kind::kBit || gate.shape.kind == Kind::kWord;
}

std::string DeviceName(const Gate& gate, uint32_t offset) {
    char name[32];
    const uint32_t number = gate.shape.number + offset;
    std::snprintf(name, sizeof name, HexNumbered(gate.shape.device) ? "%s%X" : "%s%u",
                  gate.shape.device, number);
    return name;
}

jynsim::DeviceRef FirstDevice(const Gate& gate) {
    return *jynsim::ParseDeviceName(DeviceName(gate, 0));
}

void Randomize(jynsim::Simulator& sim, const Gate& gate, jynsim::SplitMix& rng) {
    if (gate.shape.kind == Kind::kBit) {
        sim.SetBit(TargetOf(gate), DeviceName(gate, 0), (rng.Next() & 1) != 0);
        return;
    }
    for (uint32_t offset : WordOffsets(gate)) {
        uint16_t value = static_cast<uint16_t>(rng.Next());
        if (gate.shape.kind == Kind::kString)
            value = static_cast<uint16_t>(Printable(rng) << 8 | Printable(rng));
        sim.SetWord(TargetOf(gate), DeviceName(gate, offset), value);
    }
}

std::vector<uint8_t> Expected(jynsim::Simulator& sim, const Gate& gate) {
    if (gate.shape.kind == Kind::kBit) {
        const bool on = sim.Bit(TargetOf(gate), DeviceName(gate, 0)).value_or(false);
        return {static_cast<uint8_t>(on ? 1 : 0), 0};
    }
    std::vector<uint16_t> words;
    for (uint32_t offset : WordOffsets(gate)) words.push_back(WordOf(sim, gate, offset));
    return BytesOfWords(gate, words);
}

bool ReadHolds(jynsim::Simulator& sim, const Gate& gate, const uint8_t* values) {
    const std::vector<uint8_t> expected = Expected(sim, gate);
    const std::size_t at = IsSingleWordOrBit(gate) ? 2 : 0;
    return std::equal(expected.begin(), expected.end(), values + at);
}

std::vector<uint8_t> ExpectedFromReply(const Gate& gate, const std::string& reply) {
    constexpr std::size_t kFraming = 8;  // STX, station, PC, ETX, sum
    if (reply.size() < kFraming || reply[0] != '\x02') return {};
    const std::string data = reply.substr(5, reply.size() - kFraming);
    if (gate.shape.kind == Kind::kBit) {
        if (data != "0" && data != "1") return {};
        return {static_cast<uint8_t>(data == "1" ? 1 : 0), 0};
    }
    const std::size_t count = WordOffsets(gate).size();
    if (data.size() != 4 * count) return {};
    std::vector<uint16_t> words;
    for (std::size_t i = 0; i < count; ++i) {
        const auto word = jynsim::ParseHex(std::string_view(data).substr(4 * i, 4));
        if (!word) return {};
        words.push_back(static_cast<uint16_t>(*word));
    }
    return BytesOfWords(gate, words);
}

void NewWriteData(jynsim::Simulator& sim, const Gate& gate, jynsim::SplitMix& rng,
                  uint8_t* values) {
    if (gate.shape.kind == Kind::kBit) {
        const bool on = !sim.Bit(TargetOf(gate), DeviceName(gate, 0)).value_or(false);
        // Any non-zero value sets the bit, not only 1.
        PutLe(values + 2, on ? 1 + static_cast<uint32_t>(rng.Next() % 0xFFFF) : 0, 2);
        return;
    }
    const std::size_t base = gate.shape.kind == Kind::kWord ? 2 : 0;
    const std::vector<uint32_t> offsets = WordOffsets(gate);
    bool differs = false;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        uint8_t* at = values + base + 2 * i;
        at[0] =
            gate.shape.kind == Kind::kString ? Printable(rng) : static_cast<uint8_t>(rng.Next());
        at[1] =
            gate.shape.kind == Kind::kString ? Printable(rng) : static_cast<uint8_t>(rng.Next());
        // Now and then a terminator inside the text: what follows is sent as it stands.
        if (gate.shape.kind == Kind::kString && rng.Next() % 16 == 0) at[rng.Next() & 1] = 0;
        differs = differs || GetLe(at, 2) != WordOf(sim, gate, offsets[i]);
    }
    if (!differs) values[base] = static_cast<uint8_t>(values[base] ^ 0x01);
}

bool Landed(jynsim::Simulator& sim, const Gate& gate, const uint8_t* values) {
    if (gate.shape.kind == Kind::kBit) {
        const bool on = sim.Bit(TargetOf(gate), DeviceName(gate, 0)).value_or(false);
        return on == (GetLe(values + 2, 2) != 0);
    }
    const std::size_t base = gate.shape.kind == Kind::kWord ? 2 : 0;
    const std::vector<uint32_t> offsets = WordOffsets(gate);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        if (GetLe(values + base + 2 * i, 2) != WordOf(sim, gate, offsets[i])) return false;
    }
    return true;
}

}  // namespace jynharness
