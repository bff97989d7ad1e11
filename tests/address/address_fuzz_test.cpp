// Random and mutated address texts from a fixed seed: no text the host can
// hold crashes the parser, each refusal says exactly one thing, each
// accepted gate is one the transfers can use, and the quiet reading agrees
// with what Parse does and notes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "address/gate_kind.h"
#include "address/parse.h"
#include "tests/address/host_text.h"

namespace jyn::testing {
namespace {

constexpr int kRounds = 20000;
constexpr uint32_t kSeed = 0x4A594E4D;  // fixed, so that a failure can be replayed

const std::vector<std::string> kSeeds = {
    "01WD100", "00BX1F", "0aBx1f",     "00WS0100L20", "00WW01AFL10", "00WR0100L64",
    "00BTS10", "00WCN7", "00WZ100",    "00W2010",     "00W11000",    "00WR0100",
    "00BM100", "FFWY7",  "00WTN12345", "00ws0100L0",  "00WTC1234",   "00BF9999"};
const std::string kAlphabet = "0123456789ABCDEFabcdefWBXYMLFDRSTCNZ12lLqQ +-x\t";

class TextSource {
public:
    std::string Next(int round) { return round % 2 == 0 ? Mutated() : Random(); }
    int32_t GateType() { return Pick(11) - 1; }  // -1 .. 9
    int32_t BlockSize() { return Pick(140) - 5; }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    char AnyChar() {
        if (Pick(8) == 0) return static_cast<char>(1 + Pick(255));  // any byte but the terminator
        return kAlphabet[static_cast<std::size_t>(Pick(static_cast<int>(kAlphabet.size())))];
    }
    std::string Random() {
        std::string text;
        for (int n = Pick(36); n > 0; --n) text += AnyChar();
        return text;
    }
    std::string Mutated() {
        std::string text = kSeeds[static_cast<std::size_t>(Pick(static_cast<int>(kSeeds.size())))];
        for (int edits = 1 + Pick(3); edits > 0; --edits) {
            const auto at = static_cast<std::size_t>(Pick(static_cast<int>(text.size()) + 1));
            switch (Pick(4)) {
                case 0:
                    if (at < text.size()) text[at] = AnyChar();
                    break;
                case 1: text.insert(at, 1, AnyChar()); break;
                case 2:
                    if (at < text.size()) text.erase(at, 1);
                    break;
                default: text.resize(at); break;
            }
        }
        return text;
    }
    std::mt19937 rng_{kSeed};
};

bool KnownMemType(int32_t memType) {
    const int32_t known[] = {'X',          'Y',          'B',          'M',          'L',
                             'F',          'D',          'W',          'R',          'S',
                             '1',          '2',          'Z',          address::kTS, address::kTC,
                             address::kTN, address::kCS, address::kCC, address::kCN};
    for (const int32_t code : known) {
        if (memType == code) return true;
    }
    return false;
}

// What the request builders and the reply decoder rely on.
void ExpectUsable(const GateAddress& a, const char* text) {
    EXPECT_TRUE(a.station >= 0 && a.station <= 255) << text;
    EXPECT_TRUE(KnownMemType(a.memType)) << text;
    EXPECT_TRUE(a.address >= 0 && a.address <= 0xFFFF) << text;
    const bool bit = a.bitIndex >= 0 && a.bitIndex <= 15 && a.bitWidth == 8;
    const bool word = a.bitIndex == -1 && a.bitWidth == 16;
    EXPECT_TRUE(bit || word) << text << " " << Describe(a);
    const bool stringLetter = a.memType == 'S' || a.memType == 'R' || a.memType == 'W';
    if (address::HasStringMarker(text)) {
        EXPECT_TRUE(stringLetter && word) << text;
        EXPECT_LE(address::StringLength(text), address::kMaxStringLength) << text;
    }
    if (a.memType == 'S') {
        EXPECT_TRUE(address::HasStringMarker(text)) << text;
    }
}

int32_t CallHandler(uint32_t function, GateDefinition& gate) {
    CallBlock block{nullptr, function, 1, 0, &gate};
    return JynMain(&block);
}

TEST(AddressFuzz, EveryTextIsAcceptedUsablyOrRefusedWithOneMessage) {
    TextSource source;
    LogRecorder log;
    int accepted = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = source.Next(round);
        const HostText host(text);
        GateDefinition gate{};
        gate.addressText = host.get();
        gate.gateType = source.GateType();
        gate.blockSize = source.BlockSize();

        const address::TextReading reading = address::ReadingOf(host.get(), gate.gateType);
        ASSERT_TRUE(log.Lines().empty()) << text << log.Dump();
        const std::size_t notes = reading.AnyUnread() ? 1 : 0;
        const int32_t parsed = address::Parse(gate);
        ASSERT_EQ(parsed == kOk, reading.accepted) << text;
        if (parsed == kOk) {
            ++accepted;
            ASSERT_EQ(log.Lines().size(), notes) << text << log.Dump();
            ExpectUsable(gate.gateAddress, host.get());
        } else {
            ASSERT_EQ(parsed, kGateFailure) << text;
            ASSERT_EQ(log.Lines().size(), 1u) << "'" << text << "'" << log.Dump();
        }
        for (const uint32_t function : {kSingleAddressParser, kBlockAddressParser}) {
            log.Clear();
            const int32_t result = CallHandler(function, gate);
            ASSERT_TRUE(result == kOk || result == kGateFailure) << text;
            // An accepted text's note, then at most the one refusal.
            const std::size_t most = (parsed == kOk ? notes : 0) + (result == kOk ? 0 : 1);
            ASSERT_LE(log.Lines().size(), most) << text << log.Dump();
        }
        log.Clear();
    }
    // The mutated seeds must reach the accepting paths, not only refusals.
    EXPECT_GT(accepted, kRounds / 20);
}

}  // namespace
}  // namespace jyn::testing
