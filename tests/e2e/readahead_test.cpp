// Scan read-ahead end to end: a host scans a plant of words with a hole,
// a 32-bit value, a string, bits, a word of inputs and a block, on an ACPU
// and an AnACPU station; what it gets is the simulator's memory, whether
// the value came from the line or from a block.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/line.h"

namespace jyn::e2e {
namespace {

enum class Kind { kBit, kWord, kDword, kString, kBlock };

struct ScanGate {
    const char* text;  // after the two station digits
    Kind kind;
    const char* device;  // the simulator's name of the first point
};

const ScanGate kScan[] = {
    {"WD100", Kind::kWord, "D100"},  {"WD101", Kind::kWord, "D101"},
    {"WD102", Kind::kWord, "D102"},  {"WD103", Kind::kWord, "D103"},
    {"WD107", Kind::kWord, "D107"},  {"WD108", Kind::kWord, "D108"},
    {"WZ110", Kind::kDword, "D110"}, {"WS0112L5", Kind::kString, "D112"},
    {"WD120", Kind::kBlock, "D120"}, {"BM0", Kind::kBit, "M0"},
    {"BM1", Kind::kBit, "M1"},       {"BM15", Kind::kBit, "M15"},
    {"BM16", Kind::kBit, "M16"},     {"BM31", Kind::kBit, "M31"},
    {"WX4", Kind::kWord, "X40"},
};
constexpr int32_t kBlockCount = 4;
const char* const kBlockWords[kBlockCount] = {"D120", "D121", "D122", "D123"};

int32_t TypeOf(Kind kind) {
    switch (kind) {
        case Kind::kBit: return kGateDigital;
        case Kind::kDword: return kGateAnalog32First + 1;
        case Kind::kString: return kGateString;
        case Kind::kWord:
        case Kind::kBlock: break;
    }
    return 2;
}

uint32_t Get16(const unsigned char* buffer, std::size_t at) {
    return buffer[at] | (static_cast<uint32_t>(buffer[at + 1]) << 8);
}

class ReadAheadPlant : public Plant {
protected:
    std::string StationFile() const override {
        return std::string(kStationFile) + "READAHEAD = " + Age() + "\n";
    }
    virtual const char* Age() const { return "60000"; }

    std::vector<HostGate> Configure(const char* prefix) {
        std::vector<HostGate> gates;
        for (const ScanGate& gate : kScan) {
            const int32_t block = gate.kind == Kind::kBlock ? kBlockCount : 0;
            gates.push_back({prefix + std::string(gate.text), TypeOf(gate.kind), block, {}});
            EXPECT_EQ(host->Configure(gates.back()), kOk) << gates.back().text;
        }
        return gates;
    }

    // New values everywhere, different for every round and station. A block
    // serves what the PLC held when it was read: a change behind the
    // driver's back shows only once the block is older than the age.
    void Fill(int station, unsigned round) {
        for (int d = 100; d < 124; ++d) {
            Sim().SetWord(station, "D" + std::to_string(d),
                          static_cast<uint16_t>(round * 1000 + station * 100 + d));
        }
        Sim().SetText(station, "D112", round % 2 == 0 ? "ABCDE" : "VWXY");
        for (int m = 0; m < 32; ++m)
            Sim().SetBit(station, "M" + std::to_string(m), (m + round) % 3 == 0);
        Sim().SetWord(station, "X40", static_cast<uint16_t>(0xA000 + round));
    }

    // The gate's value as the PLC holds it now, against the host's buffer.
    void ExpectTruth(int station, const ScanGate& gate, const unsigned char* read) {
        SCOPED_TRACE(gate.device);
        switch (gate.kind) {
            case Kind::kBit:
                EXPECT_EQ(Get16(read, 2), *Sim().Bit(station, gate.device) ? 1u : 0u);
                break;
            case Kind::kWord: EXPECT_EQ(Get16(read, 2), *Sim().Word(station, gate.device)); break;
            case Kind::kDword:
                EXPECT_EQ(Get16(read, 0) | (Get16(read, 2) << 16),
                          *Sim().Dword(station, gate.device));
                break;
            case Kind::kString:
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(read)),
                          Sim().Text(station, gate.device, 3)->c_str());
                break;
            case Kind::kBlock:
                for (int i = 0; i < kBlockCount; ++i) {
                    EXPECT_EQ(Get16(read, 2 * i), *Sim().Word(station, kBlockWords[i]));
                }
                break;
        }
    }

    unsigned char* Read(const HostGate& gate) {
        std::memset(buffer_, 0x5A, sizeof buffer_);
        EXPECT_EQ(host->Transfer(gate, false, buffer_), kOk)
            << gate.text << Messages::Join(messages.Take());
        return buffer_;
    }

    // One round of the scan; the requests it put on the line.
    uint64_t Scan(int station, const std::vector<HostGate>& gates) {
        const uint64_t before = Sim().Counters().requests;
        for (std::size_t i = 0; i < gates.size(); ++i) {
            ExpectTruth(station, kScan[i], Read(gates[i]));
        }
        return Sim().Counters().requests - before;
    }

private:
    unsigned char buffer_[300];
};

class FastAgingPlant : public ReadAheadPlant {
protected:
    // Short enough to wait out; at 9600 baud a block's exchange may take at
    // most half of it, which leaves 13 words.
    const char* Age() const override { return "200"; }
};

TEST_F(ReadAheadPlant, ServesThePlcMemoryWithFewRequests) {
    for (const auto& [station, prefix] : {std::pair{1, "01"}, std::pair{2, "02"}}) {
        SCOPED_TRACE(prefix);
        const std::vector<HostGate> gates = Configure(prefix);
        Fill(station, 1);
        // Learning: a request a gate, but for bits of a group read before.
        EXPECT_LE(Scan(station, gates), std::size(kScan));
        // D100 .. D123 in one block, M0 .. M31 in another, X40 alone; the
        // bits' block may still be the one the learning round read at M31.
        EXPECT_LE(Scan(station, gates), 3u);
        // Younger than the age, a block serves its gates without the line.
        const uint16_t served = *Sim().Word(station, "D108");
        Sim().SetWord(station, "D108", static_cast<uint16_t>(served + 1));
        EXPECT_EQ(Get16(Read(gates[5]), 2), served);
    }
    EXPECT_EQ(Sim().Counters().naks, 0u);
}

TEST_F(ReadAheadPlant, AWriteDropsTheBlockBeforeTheNextRead) {
    const std::vector<HostGate> gates = Configure("01");
    Fill(1, 1);
    Scan(1, gates);
    Scan(1, gates);
    Sim().SetWord(1, "D103", 0x1234);  // behind the driver's back
    unsigned char written[4] = {0, 0, 0x21, 0x43};
    ASSERT_EQ(host->Transfer(gates[1], true, written), kOk);  // D101 through the driver
    EXPECT_EQ(*Sim().Word(1, "D101"), 0x4321u);
    EXPECT_EQ(Get16(Read(gates[1]), 2), 0x4321u);
    EXPECT_EQ(Get16(Read(gates[3]), 2), 0x1234u);
}

// Behind a closed or reopened port may be other stations: no block of
// before serves a read after.
TEST_F(ReadAheadPlant, AReopenedPortServesNoBlockOfBefore) {
    const std::vector<HostGate> gates = Configure("01");
    Fill(1, 1);
    Scan(1, gates);
    Scan(1, gates);
    Sim().SetWord(1, "D101", 0x2468);
    ASSERT_EQ(host->Call(kCloseCom, nullptr), kOk);
    unsigned char buffer[8] = {};
    EXPECT_EQ(host->Transfer(gates[2], false, buffer), kDriverFailure);
    ASSERT_EQ(host->Call(kReOpenCom, nullptr), kOk);
    EXPECT_EQ(Get16(Read(gates[1]), 2), 0x2468u);
}

// A block the station refuses costs the gate nothing: it is read alone.
TEST_F(ReadAheadPlant, ARefusedBlockFallsBackToTheGateAlone) {
    const std::vector<HostGate> gates = Configure("02");
    Fill(2, 1);
    Scan(2, gates);
    jynsim::Fault refusal;
    refusal.kind = jynsim::FaultKind::kNak;
    refusal.param = 0x06;
    refusal.station = 2;
    refusal.command = "QR";
    Sim().AddFault(refusal);
    const uint64_t requests = Scan(2, gates);
    EXPECT_EQ(Sim().Counters().naks, 1u);
    EXPECT_EQ(Sim().PendingFaults(), 0u);
    EXPECT_GT(requests, 3u);                // the refused block and the gate alone
    EXPECT_LT(requests, std::size(kScan));  // the rest of the scan in blocks again
}

TEST_F(FastAgingPlant, NoValueOlderThanTheAge) {
    const std::vector<HostGate> gates = Configure("01");
    Fill(1, 1);
    Scan(1, gates);
    Scan(1, gates);
    uint32_t widest = 0;
    for (const jynsim::RequestRecord& record : Sim().Records()) {
        widest = std::max(widest, record.points);
    }
    EXPECT_GT(widest, 1u);
    EXPECT_LE(widest, 13u);
    Sim().SetWord(1, "D108", 0x7777);
    // Longer than the age: whatever block holds D108 is stale.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(Get16(Read(gates[5]), 2), 0x7777u);
}

}  // namespace
}  // namespace jyn::e2e
