// The read-ahead's planning of the block that covers a gate, and the blocks
// it keeps: command limits, holes, the ACPU field boundary, device ends,
// refusals, age and writes.
#include "protocol/readahead.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/request.h"
#include "tests/protocol/gates.h"

namespace jyn::testing {
namespace {

using protocol::Cover;
using protocol::GateSpan;
using protocol::ReadAheadStore;

struct Gate {
    const char* text;
    GateAddress address;
    int32_t count = 1;
};

// The span a host's read of the gate has, from the request the driver
// builds for it (command family and point count as sent).
GateSpan SpanFor(const StationEntry& entry, const Gate& gate) {
    DriverContext context{};
    context.stationTable[gate.address.station] = entry;
    unsigned char values[512] = {};
    GateRequest request{};
    request.addressText = gate.text;
    request.gateAddress = gate.address;
    request.count = gate.count;
    request.data = values;
    CallBlock block{};
    block.context = &context;
    block.function = gate.count == 1 ? kSingleRead : kBlockRead;
    block.params = &request;
    unsigned char frame[kFrameBufferSize];
    uint16_t length = 0;
    protocol::RequestPlan plan{};
    EXPECT_TRUE(protocol::BuildRequest(block, frame, length, &plan)) << gate.text;
    const bool extended = plan.command == 'J' || plan.command == 'Q';
    return protocol::SpanOf(request, {entry.stationNumber, entry.pcNumber}, extended, plan.points);
}

std::vector<Gate> Words(int32_t memType, int32_t first, int32_t last, int32_t step = 1) {
    std::vector<Gate> gates;
    for (int32_t n = first; n <= last; n += step) gates.push_back({"01WD", Word(1, memType, n)});
    return gates;
}

std::vector<Gate> Bits(int32_t memType, int32_t first, int32_t last) {
    std::vector<Gate> gates;
    for (int32_t n = first; n <= last; ++n) gates.push_back({"01BM", Bit(1, memType, n)});
    return gates;
}

struct PlanCase {
    const char* name;
    StationEntry entry;
    std::vector<Gate> learned;
    Gate gate;
    uint32_t gap;
    Cover want;  // in word slots: registers, or 16-point groups
};

std::vector<PlanCase> PlanCases() {
    std::vector<Gate> mixed = {{"01WZ", Pair(1, 'Z', 100)},
                               {"01WD", Word(1, 'D', 102)},
                               {"01WS0103L6", Word(1, 'S', 103)}};
    return {
        {"64 words in one read",
         kAcpu1,
         Words('D', 100, 163),
         {"01WD", Word(1, 'D', 100)},
         8,
         {100, 163}},
        {"never past 64 words",
         kAcpu1,
         Words('D', 100, 199),
         {"01WD", Word(1, 'D', 100)},
         8,
         {100, 163}},
        {"a hole of gap points is bridged",
         kAcpu1,
         Words('D', 100, 140, 9),
         {"01WD", Word(1, 'D', 100)},
         8,
         {100, 136}},
        {"a wider hole is not",
         kAcpu1,
         Words('D', 100, 140, 10),
         {"01WD", Word(1, 'D', 100)},
         8,
         {100, 100}},
        {"gap 0 takes only neighbours",
         kAcpu1,
         Words('D', 100, 110, 2),
         {"01WD", Word(1, 'D', 100)},
         0,
         {100, 100}},
        {"downwards too", kAcpu1, Words('D', 100, 110), {"01WD", Word(1, 'D', 110)}, 8, {100, 110}},
        {"ACPU field ends at D1023",
         kAcpu1,
         Words('D', 1000, 1040),
         {"01WD", Word(1, 'D', 1000)},
         8,
         {1000, 1023}},
        {"extended field starts at D1024",
         kAcpu1,
         Words('D', 1000, 1040),
         {"01WD", Word(1, 'D', 1030)},
         8,
         {1024, 1040}},
        {"AnACPU has one field",
         kAnacpu5,
         Words('D', 1000, 1040),
         {"01WD", Word(1, 'D', 1000)},
         8,
         {1000, 1040}},
        {"never past the device's end",
         kAnacpu5,
         Words('D', 8180, 8191),
         {"01WD", Word(1, 'D', 8185)},
         8,
         {8180, 8191}},
        {"beyond the end, alone",
         kAnacpu5,
         Words('D', 9000, 9010),
         {"01WD", Word(1, 'D', 9000)},
         8,
         {9000, 9000}},
        {"128 bits in eight words", kAcpu1, Bits('M', 0, 127), {"01BM", Bit(1, 'M', 0)}, 8, {0, 7}},
        {"256 bits at most", kAcpu1, Bits('M', 0, 600), {"01BM", Bit(1, 'M', 40)}, 8, {2, 17}},
        {"bits past the ACPU word field, alone",
         kAcpu1,
         Bits('M', 1500, 1530),
         {"01BM", Bit(1, 'M', 1500)},
         8,
         {93, 93}},
        {"32-bit, word and text share D",
         kAcpu1,
         mixed,
         {"01WZ", Pair(1, 'Z', 100)},
         8,
         {100, 105}},
    };
}

TEST(ReadAheadPlan, CoversTheLearnedScanWithinTheLimits) {
    for (const PlanCase& c : PlanCases()) {
        SCOPED_TRACE(c.name);
        ReadAheadStore store({1000, c.gap});
        for (const Gate& gate : c.learned) store.Learn(SpanFor(c.entry, gate));
        const GateSpan span = SpanFor(c.entry, c.gate);
        ASSERT_TRUE(span.eligible);
        store.Learn(span);
        const Cover cover = store.Plan(span, c.entry);
        EXPECT_EQ(cover.lo, c.want.lo);
        EXPECT_EQ(cover.hi, c.want.hi);
    }
}

TEST(ReadAheadPlan, AShortAgeKeepsBlocksShort) {
    ReadAheadStore store({1000, 8});
    for (const Gate& gate : Words('D', 100, 163)) store.Learn(SpanFor(kAcpu1, gate));
    const GateSpan span = SpanFor(kAcpu1, {"01WD", Word(1, 'D', 100)});
    EXPECT_EQ(store.Plan(span, kAcpu1, 8).hi, 107);
    EXPECT_EQ(store.Plan(span, kAcpu1, 0).hi, 100);  // never less than the gate
}

// A station that refused a block is not asked for all of it again, and a
// gate it refuses on its own is left out of the scan's blocks.
TEST(ReadAheadPlan, RefusedPointsStayOutOfLaterBlocks) {
    ReadAheadStore store({1000, 8});
    for (const Gate& gate : Words('D', 990, 1010)) store.Learn(SpanFor(kAnacpu5, gate));
    const GateSpan span = SpanFor(kAnacpu5, {"01WD", Word(1, 'D', 995)});
    const Cover refused = store.Plan(span, kAnacpu5);
    EXPECT_EQ(refused.lo, 990);
    EXPECT_EQ(refused.hi, 1010);
    store.Refused(span, refused);
    const Cover narrower = store.Plan(span, kAnacpu5);
    EXPECT_TRUE(narrower.lo > 990 || narrower.hi < 1010);
    EXPECT_TRUE(narrower.lo <= 995 && narrower.hi >= 995);

    store.Forget(SpanFor(kAnacpu5, {"01WD", Word(1, 'D', 1000)}));
    const GateSpan d1001 = SpanFor(kAnacpu5, {"01WD", Word(1, 'D', 1001)});
    EXPECT_FALSE(store.Knows(SpanFor(kAnacpu5, {"01WD", Word(1, 'D', 1000)})));
    EXPECT_EQ(store.Plan(d1001, kAnacpu5).lo, 1001);
}

protocol::ReadBlock BlockOf(const GateSpan& span, Cover cover, uint64_t stampMs) {
    protocol::ReadBlock block;
    block.key = span.key;
    block.cover = cover;
    block.stampMs = stampMs;
    block.words.assign(static_cast<std::size_t>(cover.hi - cover.lo + 1), 0);
    return block;
}

TEST(ReadAheadStore, ServesOnlyWhileYoungerThanTheAge) {
    ReadAheadStore store({250, 8});
    const GateSpan d100 = SpanFor(kAcpu1, {"01WD", Word(1, 'D', 100)});
    const GateSpan d130 = SpanFor(kAcpu1, {"01WD", Word(1, 'D', 130)});
    const GateSpan far = SpanFor(kAcpu1, {"01WD", Word(1, 'D', 200)});
    store.Keep(BlockOf(d100, {100, 163}, 1000));
    EXPECT_NE(store.Find(d130, 1249), nullptr);
    EXPECT_EQ(store.Find(far, 1249), nullptr);
    EXPECT_EQ(store.Find(d130, 1250), nullptr);  // as old as the age: gone
    EXPECT_EQ(store.Find(d130, 1249), nullptr);
}

TEST(ReadAheadStore, AWriteDropsEveryBlockHoldingItsPoints) {
    ReadAheadStore store({1000, 8});
    const GateSpan words = SpanFor(kAcpu1, {"01WD", Word(1, 'D', 100)});
    const GateSpan bits = SpanFor(kAcpu1, {"01BM", Bit(1, 'M', 0)});
    store.Keep(BlockOf(words, {100, 163}, 0));
    store.Keep(BlockOf(bits, {0, 7}, 0));
    // A 32-bit write into the data registers, and a bit write into M.
    store.DropWritten(SpanFor(kAcpu1, {"01WZ", Pair(1, 'Z', 162), 1}));
    EXPECT_EQ(store.Find(words, 10), nullptr);
    EXPECT_NE(store.Find(bits, 10), nullptr);
    store.DropWritten(SpanFor(kAcpu1, {"01BM", Bit(1, 'M', 127)}));
    EXPECT_EQ(store.Find(bits, 10), nullptr);
}

}  // namespace
}  // namespace jyn::testing
