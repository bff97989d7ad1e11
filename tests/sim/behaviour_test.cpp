// Station behaviours that outlast one reply, on the engine with its clock
// moved from event to event: a busy station that queues or drops what comes
// meanwhile, a station late with every answer, another station's NAK before
// a late own answer, a slow turnaround, a dripping line. Whatever happens,
// a station answers the requests it took in the order it took them.
#include <gtest/gtest.h>

#include "sim/hex.h"
#include "tests/sim/sim_test_util.h"
#include "tests/support/case_name.h"

namespace {

using jyn::testing::CaseName;
using jynsim::Device;
using jynsim::Fault;
using jynsim::FaultKind;
using namespace simtest;

const std::string kA = Request("01FFWR0D010001");
const std::string kB = Request("01FFWR0D010101");
const std::string kC = Request("01FFWR0D010201");
const std::string kWriteB = Request("01FFWW0D0101015555");
const std::string kOther = Request("02FFWR0D010001");
const std::string kAnswerA = DataReply("01FF1111");
const std::string kAnswerB = DataReply("01FF2222");
const std::string kAnswerC = DataReply("01FF3333");

Fault Behaviour(FaultKind kind, int delay_ms) {
    Fault fault;
    fault.kind = kind;
    fault.delay = milliseconds(delay_ms);
    fault.station = 1;
    return fault;
}

Fault Late(int delay_ms, int jitter_ms, int span_ms) {
    Fault fault = Behaviour(FaultKind::kLateJitter, delay_ms);
    fault.jitter = milliseconds(jitter_ms);
    fault.span = milliseconds(span_ms);
    return fault;
}

Fault ForeignNak(int delay_ms, int after_ms) {
    Fault fault = Behaviour(FaultKind::kForeignNak, delay_ms);
    fault.after = milliseconds(after_ms);
    return fault;
}

struct Expect {
    std::string bytes;
    int from_ms;
    int to_ms;
};

struct BehaviourCase {
    const char* name;
    Fault fault;
    std::vector<std::pair<int, std::string>> sends;  // ms, request
    std::vector<Expect> heard;
    std::vector<bool> carried_out;  // each request's record
    std::size_t touched;            // the first records the behaviour marks
    std::uint16_t d101_after;
};

void PrintTo(const BehaviourCase& c, std::ostream* out) { *out << CaseName(c.name); }

const BehaviourCase kCases[] = {
    {"queue-all answers every queued request back to back, in order",
     Behaviour(FaultKind::kQueueAll, 1300),
     {{0, kA}, {100, kA}, {200, kA}, {1000, kWriteB}},
     {{kAnswerA, 1300, 1300}, {kAnswerA, 1303, 1303}, {kAnswerA, 1306, 1306},
      {Ack("01FF"), 1309, 1309}},
     {true, true, true, true},
     4,
     0x5555},
    {"a busy station does not hold back another", Behaviour(FaultKind::kQueueAll, 1300),
     {{0, kA}, {100, kOther}},
     {{DataReply("02FF4444"), 103, 103}, {kAnswerA, 1300, 1300}},
     {true, true},
     1,
     0x2222},
    {"keep-first drops what comes while busy and answers the first late",
     Behaviour(FaultKind::kKeepFirst, 1300),
     {{0, kA}, {100, kA}, {1000, kWriteB}, {1400, kC}},
     {{kAnswerA, 1300, 1300}, {kAnswerC, 1403, 1403}},
     {true, false, false, true},
     3,
     0x2222},
    {"late-jitter: every answer late, in order, on time once the spell is over",
     Late(150, 20, 1000),
     {{0, kA}, {5, kB}, {100, kA}, {1200, kC}},
     {{kAnswerA, 153, 173}, {kAnswerB, 156, 178}, {kAnswerA, 253, 273}, {kAnswerC, 1203, 1203}},
     {true, true, true, true},
     3,
     0x2222},
    {"slow turnaround", Behaviour(FaultKind::kSlowTurnaround, 40), {{0, kA}}, {{kAnswerA, 40, 40}},
     {true},
     1,
     0x2222},
    {"foreign NAK, the own answer late, the retry's after it", ForeignNak(10, 300),
     {{0, kA}, {100, kA}},
     {{Nak("02FF", "02"), 10, 10}, {kAnswerA, 310, 310}, {kAnswerA, 313, 313}},
     {true, true},
     1,
     0x2222},
};

jynsim::LineConfig TwoStations() {
    jynsim::LineConfig config = OneStation(1, jynsim::CpuFamily::kAcpu);
    jynsim::StationConfig second = config.stations[0];
    second.station = 2;
    config.stations.push_back(second);
    return config;
}

class SimBehaviours : public ::testing::TestWithParam<BehaviourCase> {};

TEST_P(SimBehaviours, AnswersInTheOrderTaken) {
    const BehaviourCase& c = GetParam();
    Line line(TwoStations());
    for (std::uint16_t i = 0; i < 3; ++i)
        line.StationNo(1).Memory().SetWord({Device::kD, 100u + i}, 0x1111 * (i + 1));
    line.StationNo(2).Memory().SetWord({Device::kD, 100}, 0x4444);
    line.engine.Faults().Add(c.fault);
    std::vector<std::pair<Micros, std::string>> sends;
    for (const auto& [ms, bytes] : c.sends) sends.emplace_back(milliseconds(ms), bytes);
    const std::vector<Heard> heard = RunLine(line.engine, sends, milliseconds(5000));

    ASSERT_EQ(heard.size(), c.heard.size());
    for (std::size_t i = 0; i < heard.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(jynsim::Printable(heard[i].bytes), jynsim::Printable(c.heard[i].bytes));
        EXPECT_GE(heard[i].at, milliseconds(c.heard[i].from_ms));
        EXPECT_LE(heard[i].at, milliseconds(c.heard[i].to_ms));
    }
    const auto& records = line.engine.Records();
    ASSERT_EQ(records.size(), c.carried_out.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].carried_out, c.carried_out[i]) << i;
        // What the soak judges by: the behaviour is on every record it touched.
        EXPECT_EQ(records[i].fault == c.fault.kind, i < c.touched) << i;
    }
    EXPECT_EQ(*line.StationNo(1).Memory().Word({Device::kD, 101}), c.d101_after);
}

INSTANTIATE_TEST_SUITE_P(Behaviours, SimBehaviours, ::testing::ValuesIn(kCases));

// Requests 1 ms apart, answers drawn up to 20 ms late each, the engine
// asked every millisecond: many draws would overtake the answer before
// them; none may.
TEST(SimLateJitter, AnswersKeepTheOrderOfTheRequests) {
    Line line(OneStation(1, jynsim::CpuFamily::kAcpu));
    for (std::uint16_t i = 0; i < 3; ++i)
        line.StationNo(1).Memory().SetWord({Device::kD, 100u + i}, 0x1111 * (i + 1));
    line.engine.Faults().Add(Late(150, 20, 1000));
    const std::string requests[] = {kA, kB, kC};
    const std::string answers[] = {kAnswerA, kAnswerB, kAnswerC};
    std::vector<std::pair<Micros, std::string>> sends;
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        sends.emplace_back(milliseconds(i), requests[i % 3]);
        expected += answers[i % 3];
    }
    std::string all;
    for (const Heard& h : RunLine(line.engine, sends, milliseconds(1000), milliseconds(1)))
        all += h.bytes;
    EXPECT_EQ(jynsim::Printable(all), jynsim::Printable(expected));
}

// One printable byte every 90 ms while the line drips, none after; the
// stations' frames pass between them, and a request met by the drip says so.
TEST(SimDrip, OneByteEveryIntervalForItsSpan) {
    Line line(OneStation(1, jynsim::CpuFamily::kAcpu));
    Fault drip = Behaviour(FaultKind::kDrip, 1000);
    drip.param = 90;
    line.engine.Faults().Add(drip);
    const std::vector<Heard> heard =
        RunLine(line.engine, {{Micros(0), kA}, {milliseconds(500), kB}}, milliseconds(5000));
    std::vector<Micros> drops;
    std::vector<std::string> frames;
    for (const Heard& h : heard) {
        if (h.bytes.size() == 1 && h.bytes[0] >= 0x20 && h.bytes[0] < 0x7F) {
            drops.push_back(h.at);
        } else {
            frames.push_back(h.bytes);
        }
    }
    EXPECT_EQ(frames, (std::vector<std::string>{DataReply("01FF0000"), DataReply("01FF0000")}));
    ASSERT_EQ(drops.size(), 11u);
    for (std::size_t i = 0; i < drops.size(); ++i)
        EXPECT_EQ(drops[i], milliseconds(90) * static_cast<int>(i + 1));
    ASSERT_EQ(line.engine.Records().size(), 2u);
    EXPECT_EQ(line.engine.Records()[1].fault, FaultKind::kDrip);
    EXPECT_EQ(line.engine.Counters().dripped, 11u);
}

}  // namespace
