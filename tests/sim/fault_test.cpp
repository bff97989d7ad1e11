// Every fault class on the reply it applies to, the scripted queue's
// matching, seeded random faults, and the truth a fault soak relies on:
// memory changes only by requests recorded as carried out.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/hex.h"
#include "tests/sim/sim_test_util.h"
#include "tests/support/case_name.h"

namespace {

using jyn::testing::CaseName;
using jynsim::CpuFamily;
using jynsim::Device;
using jynsim::Fault;
using jynsim::FaultKind;
using namespace simtest;
using namespace std::string_literals;

Fault Make(FaultKind kind, int param = 0, std::string bytes = "", bool carry_out = true) {
    Fault fault;
    fault.kind = kind;
    fault.param = param;
    fault.bytes = std::move(bytes);
    fault.carry_out = carry_out;
    return fault;
}

const std::string kRead = Request("01FFWR0D010001");
const std::string kWrite = Request("01FFWW0D0100015555");

struct FaultCase {
    const char* name;
    Fault fault;
    std::string request;
    std::string reply;
    bool carried_out;
    std::uint16_t d100_after;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << CaseName(c.name); }

const FaultCase kFaultCases[] = {
    {"no reply, write done", Make(FaultKind::kNoReply), kWrite, "", true, 0x5555},
    {"no reply, request lost", Make(FaultKind::kNoReply, 0, "", false), kWrite, "", false, 0xABCD},
    {"cut after 3", Make(FaultKind::kCutReply, 3), kRead,
     "\x02"
     "01",
     true, 0xABCD},
    {"stray NUL first", Make(FaultKind::kStrayByte, 0), kRead, "\0"s + DataReply("01FFABCD"), true,
     0xABCD},
    {"wrong station", Make(FaultKind::kWrongStation), kRead, DataReply("02FFABCD"), true, 0xABCD},
    {"wrong PC on ACK", Make(FaultKind::kWrongPc), kWrite, Ack("0100"), true, 0x5555},
    {"bad sum", Make(FaultKind::kBadSum), kRead,
     "\x02"
     "01FFABCD\x03" +
         Hex2(Sum("01FFABCD\x03") + 1),
     true, 0xABCD},
    {"lower case", Make(FaultKind::kLowerCase), kRead,
     "\x02"
     "01ffabcd\x03" +
         [] {
             std::string sum = SumCheck("01ffabcd\x03");
             for (char& c : sum) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             return sum;
         }(),
     true, 0xABCD},
    {"NAK instead of ACK", Make(FaultKind::kNak, 0x02), kWrite, Nak("01FF", "02"), false, 0xABCD},
    {"garbage", Make(FaultKind::kGarbage, 0, "?x?"), kWrite, "?x?", true, 0x5555},
    {"extra after ACK", Make(FaultKind::kExtraAfterAck, 0, "ZZ"), kWrite, Ack("01FF") + "ZZ", true,
     0x5555},
    {"foreign answer before the data", Make(FaultKind::kForeignAnswer), kRead,
     DataReply("02FFABCD") + DataReply("01FFABCD"), true, 0xABCD},
    {"foreign answer before the ACK", Make(FaultKind::kForeignAnswer, 3), kWrite,
     Ack("04FF") + Ack("01FF"), true, 0x5555},
};

class SimFaultClasses : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimFaultClasses, ReplyTruthAndCount) {
    const FaultCase& c = GetParam();
    Line line(OneStation(1, CpuFamily::kAcpu));
    line.StationNo(1).Memory().SetWord({Device::kD, 100}, 0xABCD);
    line.engine.Faults().Add(c.fault);
    EXPECT_EQ(jynsim::Printable(line.Exchange(c.request)), jynsim::Printable(c.reply));
    ASSERT_EQ(line.engine.Records().size(), 1u);
    const auto& record = line.engine.Records().back();
    EXPECT_EQ(record.carried_out, c.carried_out);
    EXPECT_EQ(record.fault, c.fault.kind);
    EXPECT_EQ(*line.StationNo(1).Memory().Word({Device::kD, 100}), c.d100_after);
    EXPECT_EQ(line.engine.Counters().faults[static_cast<std::size_t>(c.fault.kind)], 1u);
    // The next request is answered normally.
    EXPECT_EQ(line.Exchange(kRead), DataReply("01FF" + jynsim::FormatHex(c.d100_after, 4)));
}

INSTANTIATE_TEST_SUITE_P(Classes, SimFaultClasses, ::testing::ValuesIn(kFaultCases));

TEST(SimSlowReply, ArrivesAfterTheDelay) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    Fault fault = Make(FaultKind::kSlowReply);
    fault.delay = milliseconds(2000);
    line.engine.Faults().Add(fault);
    line.engine.Receive(kRead, Micros(0));
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(2002)), "");
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(2003)), DataReply("01FF0000"));
}

TEST(SimSlowReply, HostRetryDropsTheLateReply) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    Fault fault = Make(FaultKind::kSlowReply);
    fault.delay = milliseconds(2000);
    line.engine.Faults().Add(fault);
    line.engine.Receive(kRead, Micros(0));
    line.engine.Receive(kRead, milliseconds(1000));  // the host gave up and asked again
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(5000)), DataReply("01FF0000"));
}

TEST(SimScriptedFaults, WaitForARequestTheyMatch) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    Fault bad_sum = Make(FaultKind::kBadSum);  // data replies only
    Fault on_ww = Make(FaultKind::kNoReply);
    on_ww.command = "WW";
    on_ww.times = 2;
    Fault other_station = Make(FaultKind::kGarbage, 0, "!");
    other_station.station = 2;
    for (const Fault& fault : {other_station, bad_sum, on_ww}) line.engine.Faults().Add(fault);
    EXPECT_EQ(line.Exchange(kWrite), "");           // no-reply #1
    EXPECT_EQ(line.Exchange(kWrite), "");           // no-reply #2
    EXPECT_EQ(line.Exchange(kWrite), Ack("01FF"));  // exhausted
    EXPECT_EQ(line.Exchange(kRead),
              "\x02"
              "01FF5555\x03"
              "C5");  // sum C4, one off
    EXPECT_EQ(line.Exchange(kRead), DataReply("01FF5555"));
    EXPECT_EQ(line.engine.Faults().Pending(), 1u);  // still waiting for station 2
}

// Random faults on every request, many writes: the memory always holds the
// data of the last write recorded as carried out.
TEST(SimRandomFaults, MemoryMatchesTheCarriedOutWrites) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    jynsim::RandomFaults random;
    random.seed = 42;
    // 72 % of the requests hit by the faults of one reply.
    std::fill_n(random.probability.begin(), jynsim::kReplyFaultKindCount, 0.06);
    line.engine.Faults().SetRandom(random);
    std::uint16_t expected = 0;
    for (int i = 1; i <= 400; ++i) {
        const std::string value = jynsim::FormatHex(static_cast<std::uint32_t>(i), 4);
        line.Exchange(Request("01FFWW0D010001" + value));
        const auto& record = line.engine.Records().back();
        if (record.carried_out) expected = static_cast<std::uint16_t>(i);
        ASSERT_EQ(*line.StationNo(1).Memory().Word({Device::kD, 100}), expected) << i;
    }
    const auto counters = line.engine.Counters();
    std::uint64_t faults = 0;
    for (const auto count : counters.faults) faults += count;
    std::uint64_t recorded = 0;
    for (const auto& record : line.engine.Records()) recorded += record.fault ? 1 : 0;
    EXPECT_EQ(faults, recorded);
    EXPECT_GT(faults, 200u);
    EXPECT_LT(faults, 330u);
    // Data-only classes never hit a write.
    EXPECT_EQ(counters.faults[static_cast<std::size_t>(FaultKind::kBadSum)], 0u);
    EXPECT_GT(counters.faults[static_cast<std::size_t>(FaultKind::kExtraAfterAck)], 0u);
}

TEST(SimRandomFaults, SameSeedSameFaults) {
    const auto run = [](std::uint64_t seed) {
        Line line(OneStation(1, CpuFamily::kAcpu));
        jynsim::RandomFaults random;
        random.seed = seed;
        random.probability.fill(0.05);
        line.engine.Faults().SetRandom(random);
        std::string trace;
        for (int i = 0; i < 100; ++i) trace += line.Exchange(kRead) + "|";
        return trace;
    };
    EXPECT_EQ(run(7), run(7));
    EXPECT_NE(run(7), run(8));
}

TEST(SimFaultNames, RoundTrip) {
    for (std::size_t i = 0; i < jynsim::kFaultKindCount; ++i) {
        const auto kind = static_cast<FaultKind>(i);
        EXPECT_EQ(jynsim::FaultFromName(jynsim::FaultName(kind)), kind);
    }
    EXPECT_FALSE(jynsim::FaultFromName("meteor"));
}

}  // namespace
