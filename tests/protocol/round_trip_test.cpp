// A value written to the PLC and read back unchanged must reach the host's
// buffer unchanged: the write encoder and the reply decoder agree on the
// layout of every gate kind.
#include <gtest/gtest.h>

#include "protocol/reply_data.h"
#include "tests/protocol/gates.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

struct RoundTrip {
    StationEntry station;
    const char* text;
    GateAddress gate;
    int32_t count;
    uint32_t writeFunction;
    uint32_t readFunction;
    std::vector<unsigned char> values;
    std::size_t from, to;  // the bytes a read stores
};

std::vector<unsigned char> Pattern(std::size_t size, unsigned seed) {
    std::vector<unsigned char> out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(seed * (i + 7));
    return out;
}

std::vector<unsigned char> Chars(const char* text, std::size_t size) {
    return std::vector<unsigned char>(text, text + size);
}

// clang-format off
const RoundTrip kRoundTrips[] = {
    {kAcpu0,   "00BM100",     Bit(0, 'M', 100),    1,  kSingleWrite, kSingleRead, {0x12, 0x34, 0, 0}, 2, 4},
    {kAnacpu5, "00BX1F",      Bit(0, 'X', 0x1F),   1,  kSingleWrite, kSingleRead, {0x12, 0x34, 1, 0}, 2, 4},
    {kAcpu0,   "00WD100",     Word(0, 'D', 100),   1,  kSingleWrite, kSingleRead, {0x12, 0x34, 0xEF, 0xBE}, 2, 4},
    {kAnacpu5, "00WTN5",      Word(0, address::kTN, 5), 1, kSingleWrite, kSingleRead, {0, 0, 0xFF, 0xFF}, 2, 4},
    {kAcpu0,   "00WZ100",     Pair(0, 'Z', 100),   1,  kSingleWrite, kSingleRead, {0x78, 0x56, 0x34, 0x12}, 0, 4},
    {kAcpu0,   "00WS0100L5",  Word(0, 'S', 100),   1,  kSingleWrite, kSingleRead, Chars("HELLO", 6), 0, 6},
    {kAcpu0,   "00WS0100L4",  Word(0, 'S', 100),   1,  kSingleWrite, kSingleRead, {'A', 'B', 0, 'x'}, 0, 3},
    {kAnacpu5, "00WW01AFL2",  Word(0, 'W', 0x1AF), 1,  kSingleWrite, kSingleRead, {'O', 'K', 0}, 0, 3},
    {kAcpu0,   "00WR0100L0",  Word(0, 'R', 100),   1,  kSingleWrite, kSingleRead, {0, 'q'}, 0, 1},
    {kAcpu0,   "00WS0100L64", Word(0, 'S', 100),   1,  kSingleWrite, kSingleRead,
     Chars("The quick brown fox jumps over the lazy dog, twice: 0123456789!!", 65), 0, 65},
    {kAcpu0,   "00WD0",       Word(0, 'D', 0),     64, kBlockWrite,  kBlockRead,  Pattern(128, 0x9D), 0, 128},
    {kAnacpu5, "00W2000",     Pair(0, '2', 0),     32, kBlockWrite,  kBlockRead,  Pattern(128, 0x3B), 0, 128},
    {kAcpu0,   "00W10100",    Pair(0, '1', 100),   3,  kBlockWrite,  kBlockRead,  Pattern(12, 0xC5), 0, 12},
};
// clang-format on

TEST(RoundTrip, ValueReadBackUnchangedReachesTheBufferUnchanged) {
    for (const RoundTrip& c : kRoundTrips) {
        SCOPED_TRACE(c.text);
        std::vector<unsigned char> written = c.values;
        written.resize(300, 0x5A);
        FrameBench bench(c.station, c.text, c.gate, c.count, written.data());
        ASSERT_TRUE(bench.Write(c.writeFunction));

        // The data characters lie between the point count and the sum check.
        const unsigned char command = bench.Buffer()[5];
        const std::size_t start = command == 'B' || command == 'W' ? 15 : 17;
        ASSERT_GE(bench.Length(), start + 2);
        const std::size_t dataLength = bench.Length() - 2 - start;

        // The host's buffer for the read holds the written bytes except where
        // the read must store them.
        std::vector<unsigned char> read = written;
        for (std::size_t i = c.from; i < c.to; ++i) read[i] = static_cast<unsigned char>(~read[i]);
        GateRequest request = bench.Request();
        request.data = read.data();
        LogRecorder log;
        ASSERT_EQ(protocol::StoreData(request, bench.Buffer() + start, dataLength, c.readFunction),
                  kOk)
            << log.Dump();
        EXPECT_EQ(read, written);
    }
}

}  // namespace
}  // namespace jyn::testing
