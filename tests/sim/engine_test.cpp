// The station's behaviour on the line with an injected clock: the worked
// examples of the manuals, every command on both families, NAK codes, and
// the control procedure (unknown stations, confirmation, EOT/CL, NUL, stalls).
#include <gtest/gtest.h>

#include "sim/hex.h"
#include "tests/sim/sim_test_util.h"
#include "tests/support/case_name.h"

namespace {

using jyn::testing::CaseName;
using jynsim::CpuFamily;
using jynsim::DeviceMemory;
using jynsim::DeviceRef;
using jynsim::ParseDeviceName;
using namespace simtest;
using namespace std::string_literals;

DeviceRef Dev(const char* name) { return *ParseDeviceName(name); }

TEST(SimWorkedExample, BatchReadOfFiveInputsWithMessageWait) {
    Line line(OneStation(5, CpuFamily::kAcpu));
    auto& memory = line.StationNo(5).Memory();
    for (const char* on : {"X41", "X42", "X44"}) memory.SetBit(Dev(on), true);
    // The sum of the example is given in the manual: 47.
    line.engine.Receive(
        "\x05"
        "05FFBRAX004005"
        "47",
        line.now);
    // 'A' asks for 100 ms of message wait: nothing may leave before it.
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(99)), "");
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(100)),
              "\x02"
              "05FF01101"
              "\x03"
              "E7");
}

TEST(SimWorkedExample, Loopback) {
    Line line(OneStation(0, CpuFamily::kAcpu));
    EXPECT_EQ(line.Exchange("\x05"
                            "00FFTT005ABCDE"
                            "78"),
              "\x02"
              "00FF05ABCDE"
              "\x03"
              "A3");
}

struct CommandCase {
    const char* name;
    CpuFamily family;
    void (*preset)(DeviceMemory&);
    const char* request;  // after ENQ, without the sum
    std::string reply;
    bool (*check)(const DeviceMemory&);
};

void PrintTo(const CommandCase& c, std::ostream* out) { *out << CaseName(c.name); }

void NoPreset(DeviceMemory&) {}
bool NoCheck(const DeviceMemory&) { return true; }

const CommandCase kCommandCases[] = {
    {"BR bits of X", CpuFamily::kAcpu, [](DeviceMemory& m) { m.SetBit(Dev("X7FE"), true); },
     "01FFBR0X07FD03", DataReply("01FF010"), NoCheck},
    {"BW relays", CpuFamily::kAcpu, NoPreset, "01FFBW0M010003101", Ack("01FF"),
     [](const DeviceMemory& m) {
         return *m.Bit(Dev("M100")) && !*m.Bit(Dev("M101")) && *m.Bit(Dev("M102"));
     }},
    {"WR data registers", CpuFamily::kAcpu,
     [](DeviceMemory& m) { m.SetDword(Dev("D100"), 0xABCD1234); }, "01FFWR0D010002",
     DataReply("01FF1234ABCD"), NoCheck},
    {"WW data register", CpuFamily::kAcpu, NoPreset, "01FFWW0D010001BEEF", Ack("01FF"),
     [](const DeviceMemory& m) { return *m.Word(Dev("D100")) == 0xBEEF; }},
    // X40..X4F read as 1234: X42, X44, X45, X49, X4C on.
    {"WR word of inputs", CpuFamily::kAcpu,
     [](DeviceMemory& m) {
         for (const char* on : {"X42", "X44", "X45", "X49", "X4C"}) m.SetBit(Dev(on), true);
     },
     "01FFWR0X004001", DataReply("01FF1234"), NoCheck},
    {"WW words of outputs", CpuFamily::kAcpu, NoPreset,
     "01FFWW0Y000002"
     "8001"
     "0002",
     Ack("01FF"),
     [](const DeviceMemory& m) {
         return *m.Bit(Dev("Y0")) && *m.Bit(Dev("YF")) && *m.Bit(Dev("Y11")) &&
                !*m.Bit(Dev("Y1")) && !*m.Bit(Dev("Y10"));
     }},
    {"WR link register, hex number", CpuFamily::kAcpu,
     [](DeviceMemory& m) { m.SetWord(Dev("W1F0"), 0x00FF); }, "01FFWR0W01F001",
     DataReply("01FF00FF"), NoCheck},
    {"WR timer value", CpuFamily::kAcpu, [](DeviceMemory& m) { m.SetWord(Dev("TN5"), 300); },
     "01FFWR0TN00501", DataReply("01FF012C"), NoCheck},
    {"BR timer contacts", CpuFamily::kAcpu, [](DeviceMemory& m) { m.SetBit(Dev("TS6"), true); },
     "01FFBR0TS00502", DataReply("01FF01"), NoCheck},
    {"WW counter value", CpuFamily::kAcpu, NoPreset, "01FFWW0CN2550100FF", Ack("01FF"),
     [](const DeviceMemory& m) { return *m.Word(Dev("CN255")) == 0xFF; }},
    {"BW counter coil", CpuFamily::kAcpu, NoPreset, "01FFBW0CC000011", Ack("01FF"),
     [](const DeviceMemory& m) { return *m.Bit(Dev("CC0")); }},
    {"WR file register", CpuFamily::kAcpu, [](DeviceMemory& m) { m.SetWord(Dev("R8191"), 7); },
     "01FFWR0R819101", DataReply("01FF0007"), NoCheck},
    {"BR special relay", CpuFamily::kAcpu, [](DeviceMemory& m) { m.SetBit(Dev("M9036"), true); },
     "01FFBR0M903601", DataReply("01FF1"), NoCheck},
    {"WR special register", CpuFamily::kAcpu, [](DeviceMemory& m) { m.SetWord(Dev("D9255"), 9); },
     "01FFWR0D925501", DataReply("01FF0009"), NoCheck},
    {"WR word of latch relays (M, L, S shared)", CpuFamily::kAcpu,
     [](DeviceMemory& m) { m.SetBit(Dev("M16"), true); }, "01FFWR0L001601", DataReply("01FF0001"),
     NoCheck},
    {"JR on AnACPU", CpuFamily::kAnAcpu, [](DeviceMemory& m) { m.SetBit(Dev("B0FFF"), true); },
     "01FFJR0B000FFE02", DataReply("01FF01"), NoCheck},
    {"JW on AnACPU", CpuFamily::kAnAcpu, NoPreset,
     "01FFJW0M00819002"
     "10",
     Ack("01FF"), nullptr},
    {"QR beyond the ACPU range", CpuFamily::kAnAcpu,
     [](DeviceMemory& m) { m.SetWord(Dev("D8191"), 0x0102); }, "01FFQR0D00819101",
     DataReply("01FF0102"), NoCheck},
    {"QW link register", CpuFamily::kAnAcpu, NoPreset, "01FFQW0W000FFF01CAFE", Ack("01FF"),
     [](const DeviceMemory& m) { return *m.Word(Dev("WFFF")) == 0xCAFE; }},
    {"QR timer value beyond 255", CpuFamily::kAnAcpu,
     [](DeviceMemory& m) { m.SetWord(Dev("TN2047"), 1); }, "01FFQR0TN0204701",
     DataReply("01FF0001"), NoCheck},
    {"QR word of inputs", CpuFamily::kAnAcpu, [](DeviceMemory& m) { m.SetBit(Dev("X7F0"), true); },
     "01FFQR0X0007F001", DataReply("01FF0001"), NoCheck},
    {"TT on AnACPU", CpuFamily::kAnAcpu, NoPreset, "01FFTT001Z", DataReply("01FF01Z"), NoCheck},
};

class SimCommands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(SimCommands, AnswerAndMemory) {
    const CommandCase& c = GetParam();
    Line line(OneStation(1, c.family));
    c.preset(line.StationNo(1).Memory());
    EXPECT_EQ(jynsim::Printable(line.Exchange(Request(c.request))), jynsim::Printable(c.reply));
    if (c.check != nullptr) {
        EXPECT_TRUE(c.check(line.StationNo(1).Memory()));
    } else {
        EXPECT_EQ(line.StationNo(1).Memory().Bit(Dev("M8190")), true);
        EXPECT_EQ(line.StationNo(1).Memory().Bit(Dev("M8191")), false);
    }
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, SimCommands, ::testing::ValuesIn(kCommandCases));

struct NakCase {
    const char* name;
    std::string frame;  // complete, ENQ included
    std::string reply;
};

void PrintTo(const NakCase& c, std::ostream* out) { *out << CaseName(c.name); }

const NakCase kNakCases[] = {
    {"wrong sum", std::string("\x05") + "01FFWR0D010001" + "00", Nak("01FF", "02")},
    {"wrong sum wins over bad device", std::string("\x05") + "01FFWR0Z010001" + "00",
     Nak("01FF", "02")},
    {"control character in the field",
     Request("01FFWR0D01\x1b"
             "001"),
     Nak("01FF", "03")},
    {"lower-case data", Request("01FFWW0D0100011a2b"), Nak("01FF", "07")},
    {"lower-case PC number", Request("01ffWR0D010001"), Nak("01FF", "07")},
    {"lower-case point count", Request("01FFWR0D00000a"), Nak("01FF", "07")},
    {"lower-case bit count", Request("01FFBR0M00000a"), Nak("01FF", "07")},
    {"non-hex in the field", Request("01FFWR0D01#001"), Nak("01FF", "07")},
    {"bit data other than 0/1", Request("01FFBW0M0100012"), Nak("01FF", "07")},
    {"non-hex message wait", Request("01FFWRGD010001"), Nak("01FF", "07")},
    {"unreadable point count",
     "\x05"
     "01FFWR0D0100G1",
     Nak("01FF", "07")},
    {"unknown command",
     "\x05"
     "01FFXY",
     Nak("01FF", "06")},
    {"unknown device", Request("01FFWR0Z010001"), Nak("01FF", "06")},
    {"hex digit in a decimal device", Request("01FFWR0D01A001"), Nak("01FF", "06")},
    {"bit command on a word device", Request("01FFBR0D010001"), Nak("01FF", "06")},
    {"word access off a 16-point boundary", Request("01FFWR0X000801"), Nak("01FF", "06")},
    {"zero points", Request("01FFWR0D010000"), Nak("01FF", "06")},
    {"PC number not served", Request("0100WR0D010001"), Nak("0100", "10")},
    {"PC number and device wrong: lowest code", Request("0100WR0Z010001"), Nak("0100", "06")},
    {"loopback needs PC FF", Request("0100TT003ABC"), Nak("0100", "10")},
    {"loopback of nothing", Request("01FFTT000"), Nak("01FF", "06")},
    {"extended command on ACPU", Request("01FFQR0D00010001"), Nak("01FF", "06")},
};

class SimNaks : public ::testing::TestWithParam<NakCase> {};

TEST_P(SimNaks, CodeAndNoWrite) {
    const NakCase& c = GetParam();
    Line line(OneStation(1, CpuFamily::kAcpu));
    EXPECT_EQ(jynsim::Printable(line.Exchange(c.frame)), jynsim::Printable(c.reply));
    EXPECT_EQ(*line.StationNo(1).Memory().Word(Dev("D100")), 0);
    EXPECT_FALSE(*line.StationNo(1).Memory().Bit(Dev("M100")));
    ASSERT_EQ(line.engine.Records().size(), 1u);
    EXPECT_FALSE(line.engine.Records().back().carried_out);
}

INSTANTIATE_TEST_SUITE_P(Codes, SimNaks, ::testing::ValuesIn(kNakCases));

TEST(SimPolicy, LowerCaseAcceptedWhenConfigured) {
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.decode.lower_hex_ok = true;
    Line line(config);
    EXPECT_EQ(line.Exchange(Request("01ffWW0D0100011a2b")), Ack("01FF"));
    EXPECT_EQ(*line.StationNo(1).Memory().Word(Dev("D100")), 0x1A2B);
}

TEST(SimPolicy, WriteDuringRunDisabled) {
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.stations[0].write_during_run_disabled = true;
    Line line(config);
    EXPECT_EQ(line.Exchange(Request("01FFWW0D0100011234")), Nak("01FF", "00"));
    EXPECT_EQ(*line.StationNo(1).Memory().Word(Dev("D100")), 0);
    // Reads still work, and a faulty write is refused for its fault.
    EXPECT_EQ(line.Exchange(Request("01FFWR0D010001")), DataReply("01FF0000"));
    EXPECT_EQ(line.Exchange(Request("01FFWW0D0100011a34")), Nak("01FF", "07"));
}

TEST(SimPolicy, ExtendedCommandsOnAcpu) {
    const struct {
        jynsim::ExtendedOnAcpu policy;
        std::string reply;
    } rows[] = {
        {jynsim::ExtendedOnAcpu::kNak, Nak("01FF", "06")},
        {jynsim::ExtendedOnAcpu::kNoAnswer, ""},
        {jynsim::ExtendedOnAcpu::kAccept, DataReply("01FF0000")},
    };
    for (const auto& row : rows) {
        auto config = OneStation(1, CpuFamily::kAcpu);
        config.stations[0].extended_on_acpu = row.policy;
        Line line(config);
        EXPECT_EQ(line.Exchange(Request("01FFQR0D00010001")), row.reply);
    }
}

TEST(SimMultidrop, OnlyTheAddressedStationAnswers) {
    jynsim::LineConfig config = OneStation(1, CpuFamily::kAcpu);
    config.stations.push_back(OneStation(2, CpuFamily::kAnAcpu).stations[0]);
    config.stations.push_back(OneStation(2, CpuFamily::kAnAcpu, 0x00).stations[0]);
    Line line(config);
    line.engine.FindStation(2, 0x00)->Memory().SetWord(Dev("D0"), 0x22);
    EXPECT_EQ(line.Exchange(Request("07FFWR0D000001")), "");
    EXPECT_EQ(line.Exchange("\x05"
                            "07FFXY"),
              "");  // not even a NAK for a broken frame
    EXPECT_EQ(line.Exchange(Request("02FFQR0D00000001")), DataReply("02FF0000"));
    EXPECT_EQ(line.Exchange(Request("0200QR0D00000001")), DataReply("02000022"));
    EXPECT_EQ(line.Exchange(Request("0201QR0D00000001")), Nak("0201", "10"));
    EXPECT_EQ(line.engine.Counters().unaddressed, 2u);
}

TEST(SimConfirmation, RecordedOnTheRequest) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    line.Exchange(Request("01FFWR0D010001"));
    line.Exchange(Ack("01FF"));
    line.Exchange(Request("01FFWR0D010001"));
    line.Exchange(Nak("01FF", ""));
    line.Exchange(Request("01FFWR0D010001"));  // not confirmed at all
    line.Exchange(Request("01FFWW0D0100010001"));
    line.Exchange(Ack("01FF"));  // after an ACK reply: nothing to confirm
    const auto& records = line.engine.Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].confirmation, jynsim::Confirmation::kAck);
    EXPECT_EQ(records[1].confirmation, jynsim::Confirmation::kNak);
    EXPECT_EQ(records[2].confirmation, jynsim::Confirmation::kNone);
    EXPECT_EQ(records[3].confirmation, jynsim::Confirmation::kNone);
    const auto counters = line.engine.Counters();
    EXPECT_EQ(counters.confirm_acks, 1u);
    EXPECT_EQ(counters.confirm_naks, 1u);
    EXPECT_EQ(counters.stray_confirmations, 1u);
}

TEST(SimConfirmation, ResendOnNakWhenConfigured) {
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.resend_on_nak = true;
    Line line(config);
    const std::string reply = line.Exchange(Request("01FFWR0D010001"));
    EXPECT_EQ(reply, DataReply("01FF0000"));
    EXPECT_EQ(line.Exchange(Nak("01FF", "")), reply);
    EXPECT_EQ(line.Exchange(Ack("01FF")), "");
}

struct SequenceCase {
    const char* name;
    std::string bytes;
    std::string reply;
};

void PrintTo(const SequenceCase& c, std::ostream* out) { *out << CaseName(c.name); }

const SequenceCase kSequenceCases[] = {
    {"EOT drops a partial request",
     "\x05"
     "01FFWR0D01"
     "\x04"
     "0001",
     ""},
    {"CL drops a partial request",
     "\x05"
     "01FFWR0D01"
     "\x0c"
     "00012C",
     ""},
    {"EOT then a whole request",
     "\x05"
     "01FF\x04" +
         Request("01FFWR0D010001"),
     DataReply("01FF0000")},
    {"ENQ restarts the request",
     "\x05"
     "01FFWR" +
         Request("01FFWR0D010001"),
     DataReply("01FF0000")},
    {"NULs inside are ignored",
     "\x05"
     "01\0FFWR0D\0"
     "0100"
     "\0"
     "01"s +
         SumCheck("01FFWR0D010001"),
     DataReply("01FF0000")},
    {"bytes before ENQ are ignored", "\x03junk\x02" + Request("01FFWR0D010001"),
     DataReply("01FF0000")},
};

class SimSequences : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(SimSequences, Reply) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    EXPECT_EQ(jynsim::Printable(line.Exchange(GetParam().bytes)),
              jynsim::Printable(GetParam().reply));
}

INSTANTIATE_TEST_SUITE_P(Control, SimSequences, ::testing::ValuesIn(kSequenceCases));

TEST(SimSequence, EotCancelsAReplyNotYetSent) {
    Line line(OneStation(1, CpuFamily::kAcpu));
    line.engine.Receive(Request("01FFWR0D010001"), Micros(0));
    line.engine.Receive("\x04", milliseconds(1));  // before the 3 ms turnaround
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(100)), "");
    EXPECT_EQ(line.engine.Counters().cancelled_replies, 1u);
}

TEST(SimSequence, StalledRequestIsDropped) {
    auto config = OneStation(1, CpuFamily::kAcpu);
    config.timing.interchar_timeout = milliseconds(50);
    Line line(config);
    const std::string frame = Request("01FFWR0D010001");
    line.engine.Receive(frame.substr(0, 8), Micros(0));
    EXPECT_EQ(line.engine.NextEvent(), Micros(50001));
    line.engine.Receive(frame.substr(8), milliseconds(51));
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(500)), "");
    EXPECT_EQ(line.engine.Counters().stalled, 1u);
    // A gap inside the time-out is fine, and the engine is not wedged.
    line.engine.Receive(frame.substr(0, 8), milliseconds(600));
    line.engine.Receive(frame.substr(8), milliseconds(649));
    EXPECT_EQ(line.engine.TakeOutput(milliseconds(700)), DataReply("01FF0000"));
}

TEST(SimTrafficLog, DecodesBothDirections) {
    Line line(OneStation(5, CpuFamily::kAcpu));
    for (const char* on : {"X41", "X42", "X44"}) line.StationNo(5).Memory().SetBit(Dev(on), true);
    line.Exchange(
        "\x05"
        "05FFBRAX004005"
        "47");
    line.Exchange(Request("05FFWR0Z000001"));
    const auto lines = line.engine.Log().Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("<ENQ>05FFBRAX00400547"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("BR st 05 pc FF X40 x5 wait 100ms"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("<STX>05FF01101<ETX>E7"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("0.100"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find("NAK st 05 pc FF 06h character area error"), std::string::npos)
        << lines[3];
}

}  // namespace
