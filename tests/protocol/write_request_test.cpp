// Write request frames: the read header with 'W', then the data characters
// taken from the host's value buffer, all under the sum check.
#include <gtest/gtest.h>

#include "tests/protocol/gates.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

using Bytes = std::vector<unsigned char>;

struct WriteCase {
    StationEntry station;
    const char* text;
    GateAddress gate;
    int32_t count;
    uint32_t function;
    Bytes values;
    std::string frame;  // after the ENQ
};

Bytes Text(const char* text, std::size_t size) {
    return Bytes(text, text + size);
}

Bytes RepeatBytes(const Bytes& part, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// clang-format off
const WriteCase kWriteCases[] = {
    // Reference frames, their sum checks worked out by hand.
    {kAcpu1, "01WD0100", Word(1, 'D', 100), 1, kSingleWrite, {0xEE, 0xEE, 0x34, 0x12},
     "01FFWW0D0100011234FB"},
    {kAcpu1, "01WZ0100", Pair(1, 'Z', 100), 1, kSingleWrite, {0x78, 0x56, 0x34, 0x12},
     "01FFWW0D01000256781234D6"},
    {kAcpu1, "01WS0100L5", Word(1, 'S', 100), 1, kSingleWrite, Text("HELLO", 6),
     "01FFWW0D01000345484C4C004FD0"},
    {kAcpu0, "00WD100", Word(0, 'D', 100), 3, kBlockWrite, {1, 0, 2, 0, 3, 0},
     "00FFWW0D01000300010002000378"},
    // Bytes after a terminator go out as they stand.
    {kAcpu0, "00WS0100L4", Word(0, 'S', 100), 1, kSingleWrite, {'A', 'B', 0, 'x'},
     "00FFWW0D01000242417800CB"},

    // Bits: any value other than 0 is on; bytes 0..1 belong to the host.
    {kAcpu0, "00BM100", Bit(0, 'M', 100), 1, kSingleWrite, {0, 0, 0x00, 0x01}, "00FFBW0M010001155"},
    {kAcpu0, "00BM100", Bit(0, 'M', 100), 1, kSingleWrite, {0, 0, 0x02, 0x00}, "00FFBW0M010001155"},
    {kAcpu0, "00BM100", Bit(0, 'M', 100), 1, kSingleWrite, {0, 0, 0x00, 0x80}, "00FFBW0M010001155"},
    {kAcpu0, "00BM100", Bit(0, 'M', 100), 1, kSingleWrite, {0, 0, 0x01, 0x00}, "00FFBW0M010001155"},
    {kAcpu0, "00BM100", Bit(0, 'M', 100), 1, kSingleWrite, {0xFF, 0xFF, 0, 0}, "00FFBW0M010001054"},
    {kAnacpu5, "00BX1F", Bit(0, 'X', 0x1F), 1, kSingleWrite, {0, 0, 1, 0}, "0500JW0X00001F011B7"},
    {kAcpu0, "00BTS256", Bit(0, address::kTS, 256), 1, kSingleWrite, {0, 0, 0, 0},
     "00FFJW0TS00256010F2"},

    // Words and 32-bit values, single and block, both families.
    {kAcpu0, "00WTN12", Word(0, address::kTN, 12), 1, kSingleWrite, {0, 0, 0xCD, 0xAB},
     "00FFWW0TN01201ABCD6A"},
    {kAnacpu5, "00WW01AF", Word(0, 'W', 0x1AF), 1, kSingleWrite, {0, 0, 0xFF, 0x00},
     "0500QW0W0001AF0100FF89"},
    {kAcpu0, "00WD1023", Word(0, 'D', 1023), 2, kBlockWrite, {0x34, 0x12, 0x78, 0x56},
     "00FFQW0D001023021234567834"},
    {kAnacpu5, "00W2010", Pair(0, '2', 0x10), 1, kSingleWrite, {0x01, 0x00, 0xFF, 0xFF},
     "0500QW0W000010020001FFFF50"},
    {kAcpu0, "00W12046", Pair(0, '1', 2046), 2, kBlockWrite,
     {0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x02, 0x00}, "00FFQW0R002046045678123400010002CD"},

    // Strings of even, odd and no length, in data, file and link registers.
    {kAcpu0, "00WS0100L2", Word(0, 'S', 100), 1, kSingleWrite, {'A', 'B', 0}, "00FFWW0D0100014241FB"},
    {kAcpu0, "00WS0100L0", Word(0, 'S', 100), 9, kSingleWrite, {0}, "00FFWW0D0100002F"},
    {kAcpu0, "00WR0100L3", Word(0, 'R', 100), 1, kSingleWrite, Text("xyz", 4),
     "00FFWW0R0100027978007AF6"},
    {kAnacpu5, "00WW01AFL5", Word(0, 'W', 0x1AF), 1, kSingleWrite, Text("hello", 6),
     "0500QW0W0001AF0365686C6C006F46"},

    // Only the low 8 bits of the function code choose single or block data.
    {kAcpu0, "00WD100", Word(0, 'D', 100), 1, 0x107, {0x11, 0x22, 0x33, 0x44},
     "00FFWW0D0100014433FE"},
    {kAcpu0, "00WD100", Word(0, 'D', 100), 1, 0x0A07, {0x11, 0x22, 0x33, 0x44},
     "00FFWW0D0100014433FE"},
    {kAcpu0, "00WD100", Word(0, 'D', 100), 1, kBlockWrite, {0x11, 0x22, 0x33, 0x44},
     "00FFWW0D0100012211F6"},
    {kAcpu0, "00WD100", Word(0, 'D', 100), 1, 0x107 + 3, {0x11, 0x22, 0x33, 0x44},
     "00FFWW0D0100012211F6"},

    // The longest frames: 64 words, 32 values, 64 characters.
    {kAnacpu5, "00WD0", Word(0, 'D', 0), 64, kBlockWrite, RepeatBytes({0x34, 0x12}, 64),
     "0500QW0D00000040" + Repeat("1234", 64) + "E5"},
    {kAnacpu5, "00WZ0", Pair(0, 'Z', 0), 32, kBlockWrite,
     RepeatBytes({0x34, 0x12, 0xCD, 0xAB}, 32), "0500QW0D00000040" + Repeat("1234ABCD", 32) + "E5"},
    {kAcpu0, "00WS0100L64", Word(0, 'S', 100), 1, kSingleWrite, RepeatBytes({'A', 'B'}, 32),
     "00FFWW0D010020" + Repeat("4241", 32) + "91"},
};
// clang-format on

TEST(BuildWriteRequest, FramesWithTheirData) {
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(std::string(c.text) + " count " + std::to_string(c.count) + " function " +
                     std::to_string(c.function));
        Bytes values = c.values;
        values.resize(300, 0);  // the host's buffer is larger than what is sent
        LogRecorder log;
        FrameBench bench(c.station, c.text, c.gate, c.count, values.data());
        ASSERT_TRUE(bench.Write(c.function));
        EXPECT_EQ(bench.AfterEnq(), c.frame);
        EXPECT_EQ(bench.Length(), c.frame.size() + 1);
        EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    }
}

TEST(BuildWriteRequest, NumberTooWideForItsFieldIsReported) {
    unsigned char values[4] = {0, 0, 0x01, 0x00};
    LogRecorder log;
    FrameBench bench(kAcpu0, "00WTS9999", Word(0, address::kTS, 9999), 1, values);
    ASSERT_TRUE(bench.Write(kSingleWrite));
    EXPECT_EQ(bench.AfterEnq(), "00FFQW0TS159984010001D1");
    EXPECT_EQ(
        log.Lines(),
        (std::vector<LogLine>{{kLevelInfo, "JYNMB> BuildWriteRequest() address out of range"}}));
}

}  // namespace
}  // namespace jyn::testing
