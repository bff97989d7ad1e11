// Line pacing and turnaround with the engine's injected time: a request is
// complete when its last character could have arrived, a reply leaves no
// faster than the line carries it.
#include <gtest/gtest.h>

#include "tests/sim/sim_test_util.h"

namespace {

using jynsim::CpuFamily;
using jynsim::LineTiming;
using namespace simtest;

TEST(SimPacing, CharacterTimes) {
    const struct {
        std::uint32_t baud;
        int bits;
        std::uint64_t chars;
        std::int64_t micros;
    } rows[] = {
        {9600, 10, 1, 1041},    {9600, 10, 17, 17708}, {9600, 11, 17, 19479},
        {19200, 10, 21, 10937}, {19200, 11, 1, 572},   {115200, 10, 275, 23871},
        {115200, 11, 3, 286},   {0, 10, 1000, 0},
    };
    for (const auto& row : rows) {
        LineTiming timing;
        timing.baud = row.baud;
        timing.bits_per_char = row.bits;
        EXPECT_EQ(timing.CharsTime(row.chars).count(), row.micros)
            << row.baud << " baud, " << row.bits << " bits, " << row.chars << " chars";
    }
}

jynsim::LineConfig Paced(std::uint32_t baud, int turnaround_ms) {
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.timing.baud = baud;
    config.timing.turnaround = milliseconds(turnaround_ms);
    return config;
}

TEST(SimPacing, RequestAndReplyAt9600) {
    Line line(Paced(9600, 3));
    // 17 characters written at once arrive over 17 708 us; the reply of 12
    // characters starts 3 ms later and takes 12 500 us.
    line.engine.Receive(Request("01FFWR0D010001"), Micros(0));
    const Micros start(17708 + 3000);
    EXPECT_EQ(line.engine.NextEvent(), start + Micros(1041));
    EXPECT_EQ(line.engine.TakeOutput(start + Micros(1040)), "");
    EXPECT_EQ(line.engine.TakeOutput(start + Micros(1041)), "\x02");
    EXPECT_EQ(line.engine.TakeOutput(start + Micros(12499)).size(), 10u);
    EXPECT_EQ(line.engine.TakeOutput(start + Micros(12500)).size(), 1u);
    EXPECT_FALSE(line.engine.OutputPending());
    EXPECT_EQ(line.engine.Records().back().reply_start, start);
    const auto& record = line.engine.Records().back();
    EXPECT_EQ(record.request_chars, 17u);
    EXPECT_EQ(line.engine.Config().timing.ExchangeTime(record.request_chars, record.reply.size()),
              start + Micros(12500));
}

TEST(SimPacing, LateCharactersSetTheirOwnPace) {
    Line line(Paced(9600, 0));
    const std::string frame = Request("01FFWR0D010001");
    line.engine.Receive(frame.substr(0, 10), Micros(0));
    line.engine.Receive(frame.substr(10), milliseconds(100));  // 7 more after a pause
    EXPECT_EQ(line.engine.Records().back().time, Micros(100000 + 7291));
}

TEST(SimTurnaround, ZeroWaitAndMessageWait) {
    const struct {
        int turnaround_ms;
        bool honor_wait;
        const char* wait;
        std::int64_t reply_at_us;
    } rows[] = {
        {0, true, "0", 0},      {3, true, "0", 3000},  {3, true, "1", 10000},
        {50, true, "2", 50000}, {3, false, "F", 3000}, {0, true, "F", 150000},
    };
    for (const auto& row : rows) {
        auto config = OneStation(1, CpuFamily::kAcpu);
        config.timing.turnaround = milliseconds(row.turnaround_ms);
        config.timing.honor_message_wait = row.honor_wait;
        Line line(config);
        line.engine.Receive(Request(std::string("01FFWR") + row.wait + "D010001"), Micros(0));
        EXPECT_EQ(line.engine.NextEvent(), Micros(row.reply_at_us)) << row.wait;
        EXPECT_EQ(line.engine.TakeOutput(Micros(row.reply_at_us)), DataReply("01FF0000"));
    }
}

}  // namespace
