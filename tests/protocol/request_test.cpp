// Read request frames: command, head device field in both forms, point
// count and sum check, for every device letter and both CPU families.
#include <gtest/gtest.h>

#include "tests/protocol/gates.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

using address::kCC, address::kCN, address::kCS, address::kTC, address::kTN, address::kTS;

struct ReadCase {
    StationEntry station;
    const char* text;
    GateAddress gate;
    int32_t count;
    std::string frame;  // after the ENQ
};

// clang-format off
const ReadCase kReadCases[] = {
    // Reference frames, their sum checks worked out by hand.
    {kAcpu1,   "01WD100",     Word(1, 'D', 100),    1,  "01FFWR0D0100012C"},
    {kAcpu0,   "00BM100",     Bit(0, 'M', 100),     1,  "00FFBR0M0100011F"},
    {kAcpu0,   "00WM100",     Word(0, 'M', 100),    1,  "00FFQR0M0016000194"},
    {kAcpu0,   "00BX800",     Bit(0, 'X', 0x800),   1,  "00FFJR0X0008000199"},
    {kAcpu0,   "00BX7FF",     Bit(0, 'X', 0x7FF),   1,  "00FFBR0X07FF015C"},
    {kAcpu0,   "00WTN255",    Word(0, kTN, 255),    1,  "00FFWR0TN2550164"},
    {kAcpu0,   "00WTN256",    Word(0, kTN, 256),    1,  "00FFQR0TN0025601BF"},
    {kAcpu0,   "00WZ100",     Pair(0, 'Z', 100),    1,  "00FFWR0D0100022C"},
    {kAcpu0,   "00WS0100L20", Word(0, 'S', 100),    1,  "00FFWR0D01000A3B"},
    {kAcpu0,   "00WS0100L20", Word(0, 'S', 100),    -7, "00FFWR0D01000A3B"},
    {kAcpu0,   "00WD1000",    Word(0, 'D', 1000),   30, "00FFQR0D0010001E9A"},
    {kAnacpu5, "00WS0100L20", Word(0, 'S', 100),    1,  "0500QR0D0001000A6E"},
    {kAnacpu5, "00WW01AFL10", Word(0, 'W', 0x1AF),  1,  "0500QR0W0001AF059C"},
    {kAnacpu5, "00BM100",     Bit(0, 'M', 100),     1,  "0500JR0M0001000160"},
    {kAnacpu5, "00WM100",     Word(0, 'M', 100),    1,  "0500QR0M001600016D"},

    // Bit devices on ACPU: bit gates up to their limit, word gates by group.
    {kAcpu0,   "00BY7FF",     Bit(0, 'Y', 0x7FF),   1,  "00FFBR0Y07FF015D"},
    {kAcpu0,   "00BY800",     Bit(0, 'Y', 0x800),   1,  "00FFJR0Y000800019A"},
    {kAcpu0,   "00WY7F",      Word(0, 'Y', 0x7F),   1,  "00FFWR0Y07F0015C"},
    {kAcpu0,   "00WY80",      Word(0, 'Y', 0x80),   1,  "00FFQR0Y00080001A1"},
    {kAcpu0,   "00BB7FF",     Bit(0, 'B', 0x7FF),   1,  "00FFBR0B07FF0146"},
    {kAcpu0,   "00BB800",     Bit(0, 'B', 0x800),   1,  "00FFJR0B0008000183"},
    {kAcpu0,   "00WX7F",      Word(0, 'X', 0x7F),   16, "00FFWR0X07F0105B"},
    {kAcpu0,   "00WX7F",      Word(0, 'X', 0x7F),   17, "00FFQR0X0007F011B6"},
    {kAcpu0,   "00BM2047",    Bit(0, 'M', 2047),    1,  "00FFBR0M2047012B"},
    {kAcpu0,   "00BM2048",    Bit(0, 'M', 2048),    1,  "00FFJR0M0020480194"},
    {kAcpu0,   "00WM63",      Word(0, 'M', 63),     1,  "00FFWR0M1008013C"},
    {kAcpu0,   "00WM63",      Word(0, 'M', 63),     16, "00FFWR0M1008103C"},
    {kAcpu0,   "00WM63",      Word(0, 'M', 63),     17, "00FFQR0M0010081197"},
    {kAcpu0,   "00BL2047",    Bit(0, 'L', 2047),    1,  "00FFBR0L2047012A"},
    {kAcpu0,   "00BL2048",    Bit(0, 'L', 2048),    1,  "00FFJR0L0020480193"},
    {kAcpu0,   "00WL64",      Word(0, 'L', 64),     1,  "00FFQR0L0010240193"},
    {kAcpu0,   "00BF255",     Bit(0, 'F', 255),     1,  "00FFBR0F02550123"},
    {kAcpu0,   "00BF256",     Bit(0, 'F', 256),     1,  "00FFJR0F000256018C"},
    {kAcpu0,   "00WF15",      Word(0, 'F', 15),     16, "00FFWR0F02401032"},
    {kAcpu0,   "00WF15",      Word(0, 'F', 15),     17, "00FFQR0F000240118D"},
    {kAcpu0,   "00BTS255",    Bit(0, kTS, 255),     1,  "00FFBR0TS2550154"},
    {kAcpu0,   "00BTS256",    Bit(0, kTS, 256),     1,  "00FFJR0TS0025601BD"},
    {kAcpu0,   "00WTS15",     Word(0, kTS, 15),     1,  "00FFWR0TS2400163"},
    {kAcpu0,   "00WTS16",     Word(0, kTS, 16),     1,  "00FFQR0TS0025601C4"},
    {kAcpu0,   "00BTC10",     Bit(0, kTC, 10),      1,  "00FFBR0TC0100139"},
    {kAcpu0,   "00BCS255",    Bit(0, kCS, 255),     1,  "00FFBR0CS2550143"},
    {kAcpu0,   "00BCC256",    Bit(0, kCC, 256),     1,  "00FFJR0CC00256019C"},
    {kAcpu0,   "00WCN255",    Word(0, kCN, 255),    1,  "00FFWR0CN2550153"},
    {kAcpu0,   "00WCN250",    Word(0, kCN, 250),    7,  "00FFQR0CN0025007AE"},

    // Register devices on ACPU, at their limit and one past it.
    {kAcpu0,   "00WD1023",    Word(0, 'D', 1023),   1,  "00FFWR0D10230130"},
    {kAcpu0,   "00WD1024",    Word(0, 'D', 1024),   1,  "00FFQR0D001024018B"},
    {kAcpu0,   "00WD1000",    Word(0, 'D', 1000),   24, "00FFWR0D10001833"},
    {kAcpu0,   "00WD1000",    Word(0, 'D', 1000),   25, "00FFQR0D001000198E"},
    {kAcpu0,   "00WW3FF",     Word(0, 'W', 0x3FF),  1,  "00FFWR0W03FF016C"},
    {kAcpu0,   "00WW0400",    Word(0, 'W', 0x400),  1,  "00FFQR0W000400019B"},
    {kAcpu0,   "00WR2047",    Word(0, 'R', 2047),   1,  "00FFWR0R20470145"},
    {kAcpu0,   "00WR2048",    Word(0, 'R', 2048),   1,  "00FFQR0R00204801A0"},

    // Strings: words of two characters, even, odd and empty.
    {kAcpu0,   "00WS1023L2",  Word(0, 'S', 1023),   1,  "00FFWR0D10230130"},
    {kAcpu0,   "00WS1023L3",  Word(0, 'S', 1023),   1,  "00FFQR0D001023028B"},
    {kAcpu0,   "00WS0100L5",  Word(0, 'S', 100),    1,  "00FFWR0D0100032D"},
    {kAcpu0,   "00WS0100L0",  Word(0, 'S', 100),    1,  "00FFWR0D0100002A"},
    {kAcpu0,   "00WS0100L64", Word(0, 'S', 100),    1,  "00FFWR0D0100202C"},
    {kAcpu0,   "00WR2047L2",  Word(0, 'R', 2047),   1,  "00FFWR0R20470145"},
    {kAcpu0,   "00WR2047L3",  Word(0, 'R', 2047),   1,  "00FFQR0R00204702A0"},
    {kAcpu0,   "00WW03FFL2",  Word(0, 'W', 0x3FF),  1,  "00FFWR0W03FF016C"},
    {kAcpu0,   "00WW03FFL3",  Word(0, 'W', 0x3FF),  1,  "00FFQR0W0003FF02C7"},
    {kAnacpu5, "00WR0100L21", Word(0, 'R', 100),    1,  "0500QR0R0001000B7D"},

    // 32-bit values: the range test counts the words actually asked for.
    {kAcpu0,   "00WZ1022",    Pair(0, 'Z', 1022),   1,  "00FFWR0D10220230"},
    {kAcpu0,   "00WZ1022",    Pair(0, 'Z', 1022),   2,  "00FFQR0D001022048C"},
    {kAcpu0,   "00WZ100",     Pair(0, 'Z', 100),    32, "00FFWR0D0100402E"},
    {kAcpu0,   "00W12046",    Pair(0, '1', 2046),   1,  "00FFWR0R20460245"},
    {kAcpu0,   "00W12046",    Pair(0, '1', 2046),   2,  "00FFQR0R00204604A1"},
    {kAcpu0,   "00W203FE",    Pair(0, '2', 0x3FE),  1,  "00FFWR0W03FE026C"},
    {kAcpu0,   "00W20400",    Pair(0, '2', 0x400),  1,  "00FFQR0W000400029C"},
    {kAcpu0,   "00WD0",       Word(0, 'D', 0),      64, "00FFWR0D0000402D"},

    // AnACPU: the extended form for every letter, whatever the number.
    {kAnacpu5, "00BX1F",      Bit(0, 'X', 0x1F),    1,  "0500JR0X00001F0181"},
    {kAnacpu5, "00WX1F",      Word(0, 'X', 0x1F),   1,  "0500QR0X0001F00188"},
    {kAnacpu5, "00BYA",       Bit(0, 'Y', 0xA),     1,  "0500JR0Y00000A017C"},
    {kAnacpu5, "00WB10",      Word(0, 'B', 0x10),   2,  "0500QR0B000100025D"},
    {kAnacpu5, "00BL7",       Bit(0, 'L', 7),       1,  "0500JR0L0000070165"},
    {kAnacpu5, "00WF1",       Word(0, 'F', 1),      1,  "0500QR0F0000160166"},
    {kAnacpu5, "00WD8191",    Word(0, 'D', 8191),   1,  "0500QR0D0081910170"},
    {kAnacpu5, "00WWFFF",     Word(0, 'W', 0xFFF),  1,  "0500QR0W000FFF01B2"},
    {kAnacpu5, "00WR0005",    Word(0, 'R', 5),      1,  "0500QR0R0000050170"},
    {kAnacpu5, "00BTS5",      Bit(0, kTS, 5),       1,  "0500JR0TS00005018E"},
    {kAnacpu5, "00BTC5",      Bit(0, kTC, 5),       1,  "0500JR0TC00005017E"},
    {kAnacpu5, "00WTN5",      Word(0, kTN, 5),      1,  "0500QR0TN000050190"},
    {kAnacpu5, "00BCS5",      Bit(0, kCS, 5),       1,  "0500JR0CS00005017D"},
    {kAnacpu5, "00WCC1",      Word(0, kCC, 1),      1,  "0500QR0CC000160176"},
    {kAnacpu5, "00WCN5",      Word(0, kCN, 5),      1,  "0500QR0CN00005017F"},
    {kAnacpu5, "00W1100",     Pair(0, '1', 100),    1,  "0500QR0R000100026D"},
    {kAnacpu5, "00W2010",     Pair(0, '2', 0x10),   3,  "0500QR0W0000100676"},
    {kAnacpu5, "00WZ0",       Pair(0, 'Z', 0),      1,  "0500QR0D000000025E"},

    // A group past point 65535 keeps its number instead of wrapping to X0.
    {kAcpu0,   "00WXFFFF",    Word(0, 'X', 0xFFFF), 1,  "00FFQR0X0FFFF001F0"},
    {kAnacpu5, "00WXFFFF",    Word(0, 'X', 0xFFFF), 1,  "0500QR0X0FFFF001C9"},
};
// clang-format on

TEST(BuildRequest, FramesForEveryDeviceAndFamily) {
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(std::string(c.text) + " count " + std::to_string(c.count));
        LogRecorder log;
        FrameBench bench(c.station, c.text, c.gate, c.count);
        ASSERT_TRUE(bench.Read());
        EXPECT_EQ(bench.AfterEnq(), c.frame);
        EXPECT_EQ(bench.Length(), c.frame.size() + 1);
        EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    }
}

// A number too wide for the extended field is sent as it is, longer, so the
// PLC refuses it; it is never cut down to a device that exists.
TEST(BuildRequest, NumberTooWideForItsFieldIsReported) {
    struct Case {
        StationEntry station;
        const char* text;
        GateAddress gate;
        std::string frame;
    };
    const Case cases[] = {
        {kAcpu0, "00WTS9999", Word(0, kTS, 9999), "00FFQR0TS159984010B"},
        {kAnacpu5, "00WCC9999", Word(0, kCC, 9999), "0500QR0CC15998401C3"},
        {kAnacpu5, "00WD12345678", Word(0, 'D', 12345678), "0500QR0D1234567801E1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        LogRecorder log;
        FrameBench bench(c.station, c.text, c.gate, 1);
        ASSERT_TRUE(bench.Read());
        EXPECT_EQ(bench.AfterEnq(), c.frame);
        EXPECT_EQ(
            log.Lines(),
            (std::vector<LogLine>{{kLevelInfo, "JYNMB> BuildRequest() address out of range"}}));
    }
}

}  // namespace
}  // namespace jyn::testing
