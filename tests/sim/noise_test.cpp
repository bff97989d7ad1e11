// The line's adversaries with the engine's injected clock: bit errors on
// single characters and what a station and the host make of them, the rate
// and spread of random bit errors, a station that queues requests behind a
// late answer, and another station's answer that comes first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sim/hex.h"
#include "tests/sim/sim_test_util.h"
#include "tests/support/case_name.h"

namespace {

using jyn::testing::CaseName;
using jynsim::CpuFamily;
using jynsim::Device;
using jynsim::Fault;
using jynsim::FaultKind;
using jynsim::NoiseOutcome;
using namespace simtest;

// Line bit `bit` of character `index` (0 start, 1..8 data bits from the
// lowest, then parity with 11 bits a character, and the stop bit).
std::uint64_t Bit(std::uint64_t index, std::uint64_t bit, std::uint64_t width = 10) {
    return index * width + bit;
}

// Station 01 reads D0100 (characters 8..12 "D0100", 13..14 "01", sum 15..16).
const std::string kRead = Request("01FFWR0D010001");
const std::string kWrite = Request("01FFWW0D0100015555");

struct NoiseCase {
    const char* name;
    int bits_per_char;
    std::string request;
    std::vector<std::uint64_t> flips_in;
    std::vector<std::uint64_t> flips_out;
    std::string reply;  // what reaches the host
    NoiseOutcome outcome;
    std::uint64_t hits;  // characters hit
};

void PrintTo(const NoiseCase& c, std::ostream* out) { *out << CaseName(c.name); }

const NoiseCase kNoiseCases[] = {
    // The host's request.
    {"ENQ lost", 10, kRead, {Bit(0, 0)}, {}, "", NoiseOutcome::kSilence, 1},
    {"ENQ becomes EOT", 10, kRead, {Bit(0, 1)}, {}, "", NoiseOutcome::kSilence, 1},
    {"station 01 becomes 03", 10, kRead, {Bit(2, 2)}, {}, "", NoiseOutcome::kSilence, 1},
    {"a station digit lost", 10, kRead, {Bit(1, 0)}, {}, "", NoiseOutcome::kSilence, 1},
    {"WR becomes VR", 10, kRead, {Bit(5, 1)}, {}, Nak("01FF", "06"), NoiseOutcome::kNak, 1},
    {"a device digit changed",
     10,
     kRead,
     {Bit(10, 1)},
     {},
     Nak("01FF", "02"),
     NoiseOutcome::kNak,
     1},
    {"a stop bit", 10, kRead, {Bit(10, 9)}, {}, Nak("01FF", "04"), NoiseOutcome::kNak, 1},
    {"a stop bit and a changed digit",
     10,
     kRead,
     {Bit(10, 1), Bit(11, 9)},
     {},
     Nak("01FF", "02"),
     NoiseOutcome::kNak,
     2},
    {"a parity error beats the sum",
     11,
     kRead,
     {Bit(10, 1, 11)},
     {},
     Nak("01FF", "01"),
     NoiseOutcome::kNak,
     1},
    {"the last sum digit lost", 10, kRead, {Bit(16, 0)}, {}, "", NoiseOutcome::kSilence, 1},
    // D0100 becomes D0010 and the sum still holds: the station answers D10.
    {"two flips the sum cannot see",
     10,
     kRead,
     {Bit(10, 1), Bit(11, 1)},
     {},
     DataReply("01FF1234"),
     NoiseOutcome::kUnseen,
     2},
    // The station's reply "<STX>01FFABCD<ETX>sum".
    {"STX lost",
     10,
     kRead,
     {},
     {Bit(0, 0)},
     DataReply("01FFABCD").substr(1),
     NoiseOutcome::kLostFrame,
     1},
    {"ETX changed",
     10,
     kRead,
     {},
     {Bit(9, 1)},
     "\x02"
     "01FFABCD\x02" +
         SumCheck("01FFABCD\x03"),
     NoiseOutcome::kLostFrame,
     1},
    {"a data character changed",
     10,
     kRead,
     {},
     {Bit(5, 2)},
     "\x02"
     "01FFCBCD\x03" +
         SumCheck("01FFABCD\x03"),
     NoiseOutcome::kBadSum,
     1},
    {"a framing error reaches the host as NUL",
     10,
     kRead,
     {},
     {Bit(6, 9)},
     std::string("\x02"
                 "01FFA",
                 6) +
         std::string(1, '\0') + "CD\x03" + SumCheck("01FFABCD\x03"),
     NoiseOutcome::kBadSum,
     1},
    {"ABCD becomes ABBE, same sum",
     10,
     kRead,
     {},
     {Bit(7, 1), Bit(8, 1)},
     DataReply("01FFABBE"),
     NoiseOutcome::kUnseen,
     2},
    {"an ACK's station digit",
     10,
     kWrite,
     {},
     {Bit(2, 2)},
     Ack("03FF"),
     NoiseOutcome::kChangedAckNak,
     1},
    {"an ACK's first character lost",
     10,
     kWrite,
     {},
     {Bit(0, 0)},
     "01FF",
     NoiseOutcome::kLostFrame,
     1},
};

class SimNoiseHits : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(SimNoiseHits, WhatTheOtherSideSees) {
    const NoiseCase& c = GetParam();
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.timing.bits_per_char = c.bits_per_char;
    config.noise.flips_in = c.flips_in;
    config.noise.flips_out = c.flips_out;
    Line line(config);
    line.StationNo(1).Memory().SetWord({Device::kD, 100}, 0xABCD);
    line.StationNo(1).Memory().SetWord({Device::kD, 10}, 0x1234);
    EXPECT_EQ(jynsim::Printable(line.Exchange(c.request)), jynsim::Printable(c.reply));

    const jynsim::NoiseCounters noise = line.engine.Counters().noise;
    EXPECT_EQ(noise.Hits(), c.hits);
    EXPECT_EQ(noise.bits, c.flips_in.size() + c.flips_out.size());
    EXPECT_EQ(noise.outcomes[static_cast<std::size_t>(c.outcome)], c.hits)
        << jynsim::NoiseSummary(noise);
    // The log names every character hit.
    std::uint64_t noted = 0;
    for (const auto& text : line.engine.Log().Lines())
        noted += text.find("noise on the") != std::string::npos;
    EXPECT_EQ(noted, c.hits);
    // The truth: a request the station took carries its hits, and its reply
    // as the host received it.
    if (!line.engine.Records().empty()) {
        const auto& record = line.engine.Records().back();
        EXPECT_EQ(record.noise_in, c.flips_in.empty() ? 0u : c.hits);
        EXPECT_EQ(record.noise_out, c.flips_out.empty() ? 0u : c.hits);
        EXPECT_EQ(jynsim::Printable(record.reply), jynsim::Printable(c.reply));
    }
    // The noise is spent: the line is clean again.
    const auto d100 = line.StationNo(1).Memory().Word({Device::kD, 100});
    EXPECT_EQ(line.Exchange(kRead), DataReply("01FF" + jynsim::FormatHex(*d100, 4)));
}

INSTANTIATE_TEST_SUITE_P(Characters, SimNoiseHits, ::testing::ValuesIn(kNoiseCases));

TEST(SimNoise, AConfirmationHitConfirmsNothing) {
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.noise.flips_in = {Bit(17, 0)};  // the ACK after the 17 characters of the request
    Line line(config);
    line.Exchange(kRead);
    line.Exchange(Ack("01FF"));
    const auto counters = line.engine.Counters();
    EXPECT_EQ(counters.confirm_acks, 0u);
    EXPECT_EQ(counters.noise.outcomes[static_cast<std::size_t>(NoiseOutcome::kConfirmation)], 1u);
    EXPECT_EQ(line.engine.Records().back().confirmation, jynsim::Confirmation::kNone);
}

// 'E' with bit 6 flipped is ENQ: the rest of the request is a new one, and
// the hit is that one's (station 00 takes it, and cannot measure it).
TEST(SimNoise, ACharacterTurnedIntoEnqStartsTheRequestItHits) {
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.stations.push_back(config.stations[0]);
    config.stations[1].station = 0;
    config.noise.flips_in = {Bit(10, 7)};
    Line line(config);
    EXPECT_EQ(line.Exchange(Request("01FFWR0W0E0001")), Nak("0001", "06"));
    ASSERT_EQ(line.engine.Records().size(), 1u);
    EXPECT_EQ(line.engine.Records()[0].noise_in, 1u);
    const auto noise = line.engine.Counters().noise;
    EXPECT_EQ(noise.outcomes[static_cast<std::size_t>(NoiseOutcome::kNak)], 1u);
    EXPECT_EQ(noise.outcomes[static_cast<std::size_t>(NoiseOutcome::kSilence)], 0u);
}

// Random bit errors: as many as the rate calls for, spread evenly over the
// positions of a character (a start bit loses it, a stop bit is a framing
// error), the same for the same seed.
TEST(SimNoise, RandomBitsFollowTheRate) {
    const struct {
        int width;
        double rate;
    } rows[] = {{10, 1e-2}, {11, 1e-3}};
    for (const auto& row : rows) {
        jynsim::NoiseConfig config;
        config.bit_error_rate = row.rate;
        config.seed = 5;
        jynsim::LineNoise noise;
        noise.Set(config, {}, row.width);
        const double chars = 2000000;
        double bits = 0, lost = 0, framing = 0, parity = 0, changed = 0;
        for (int i = 0; i < static_cast<int>(chars); ++i) {
            const jynsim::CharHit hit = noise.Hit('A');
            bits += hit.bits;
            lost += hit.lost;
            framing += hit.framing;
            parity += hit.parity;
            changed += hit.received != 'A';
        }
        // Expected counts, each within five standard deviations.
        const auto near = [](double seen, double expected) {
            EXPECT_NEAR(seen, expected, 5 * std::sqrt(expected) + 1);
        };
        const double p = row.rate;
        near(bits, chars * row.width * p);
        near(lost, chars * p);
        near(framing, chars * p);
        near(changed, chars * (1 - std::pow(1 - p, 8)));
        // An odd number of the nine data and parity bits.
        near(parity, row.width == 11 ? chars * (1 - std::pow(1 - 2 * p, 9)) / 2 : 0);
    }
}

TEST(SimNoise, SameSeedSameHits) {
    const auto run = [](std::uint64_t seed) {
        auto config = OneStation(1, CpuFamily::kAcpu);
        config.noise.bit_error_rate = 3e-3;
        config.noise.seed = seed;
        Line line(config);
        std::string trace;
        for (int i = 0; i < 200; ++i) trace += line.Exchange(kRead) + "|";
        const auto noise = line.engine.Counters().noise;
        EXPECT_GT(noise.hits_in, 0u);
        EXPECT_GT(noise.hits_out, 0u);
        return trace + jynsim::NoiseSummary(noise);
    };
    EXPECT_EQ(run(7), run(7));
    EXPECT_NE(run(7), run(8));
}

// When each data reply starts, in whole milliseconds, as the host sees it.
std::vector<int> ReplyTimes(Line& line, const std::vector<int>& sends_ms) {
    std::vector<int> starts;
    for (int ms = 0; ms <= 500; ++ms) {
        const Micros now = milliseconds(ms);
        if (std::find(sends_ms.begin(), sends_ms.end(), ms) != sends_ms.end()) {
            line.engine.Receive(kRead, now);
        }
        const std::string out = line.engine.TakeOutput(now);
        for (std::size_t n = std::count(out.begin(), out.end(), '\x02'); n > 0; --n) {
            starts.push_back(ms);
        }
    }
    return starts;
}

struct LateCase {
    const char* name;
    bool queue;
    std::uint32_t baud;
    int slow_faults;  // on the first requests, 100 ms each
    std::vector<int> sends_ms;
    std::vector<int> replies_ms;
};

void PrintTo(const LateCase& c, std::ostream* out) { *out << CaseName(c.name); }

const LateCase kLateCases[] = {
    {"the retry drops the late answer", false, 0, 1, {0, 50}, {53}},
    {"the retry waits behind it", true, 0, 1, {0, 50}, {103, 106}},
    {"a slow retry stays slow", false, 0, 2, {0, 50}, {153}},
    {"a queued retry is not slowed again", true, 0, 2, {0, 50}, {103, 106}},
    // 9600 baud: 17 characters of request, 12 of reply. The third request
    // comes while the late answer leaves; the second's answer is not dropped.
    {"queued answers outlive the next request", true, 9600, 1, {0, 50, 125}, {122, 138, 150}},
};

class SimLateAnswers : public ::testing::TestWithParam<LateCase> {};

TEST_P(SimLateAnswers, ComeInOrder) {
    const LateCase& c = GetParam();
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.queue_behind_late_answer = c.queue;
    config.timing.baud = c.baud;
    Line line(config);
    Fault slow;
    slow.kind = FaultKind::kSlowReply;
    slow.delay = milliseconds(100);
    slow.times = c.slow_faults;
    line.engine.Faults().Add(slow);
    EXPECT_EQ(ReplyTimes(line, c.sends_ms), c.replies_ms);
}

INSTANTIATE_TEST_SUITE_P(Queue, SimLateAnswers, ::testing::ValuesIn(kLateCases));

TEST(SimForeignAnswer, ComesFirstAfterItsDelay) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    Fault foreign;
    foreign.kind = FaultKind::kForeignAnswer;
    foreign.delay = milliseconds(20);
    line.engine.Faults().Add(foreign);
    line.engine.Receive(kRead, Micros(0));
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(19)), "");
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(20)),
              DataReply("02FF0000") + DataReply("01FF0000"));
}

TEST(SimRandomFaults, DelaysSpreadOverTheirRange) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    jynsim::RandomFaults random;
    random.probability[static_cast<std::size_t>(FaultKind::kSlowReply)] = 0.5;
    random.probability[static_cast<std::size_t>(FaultKind::kForeignAnswer)] = 0.5;
    random.slow_delay = milliseconds(60);
    random.slow_delay_max = milliseconds(200);
    random.foreign_delay_max = milliseconds(50);
    line.engine.Faults().SetRandom(random);
    Micros low[2] = {milliseconds(1000), milliseconds(1000)};
    Micros high[2] = {};
    for (int i = 0; i < 200; ++i) {
        const auto fault = line.engine.Faults().Next({1, "WR", jynsim::ReplyKind::kData});
        ASSERT_TRUE(fault);
        const int k = fault->kind == FaultKind::kSlowReply ? 0 : 1;
        low[k] = std::min(low[k], fault->delay);
        high[k] = std::max(high[k], fault->delay);
    }
    EXPECT_GE(low[0], milliseconds(60));
    EXPECT_LT(low[0], milliseconds(80));
    EXPECT_GT(high[0], milliseconds(180));
    EXPECT_LE(high[0], milliseconds(200));
    EXPECT_LT(low[1], milliseconds(5));
    EXPECT_GT(high[1], milliseconds(45));
    EXPECT_LE(high[1], milliseconds(50));
}

}  // namespace
