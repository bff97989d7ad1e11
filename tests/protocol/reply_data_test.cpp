// Reply data into the host's value buffer: which bytes change, which keep
// what the host had there, and which replies are refused as illegal data.
#include "protocol/reply_data.h"

#include <gtest/gtest.h>

#include "tests/protocol/gates.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

constexpr unsigned char kGuard = 0xEE;  // what the host had in its buffer
constexpr int K = -1;                   // a byte that must keep it

const char* const kHex = "JYNMB> StoreData() illegal HEX data";
const char* const kHexBlock = "JYNMB> StoreData() illegal HEX data in block";
const char* const kBitData = "JYNMB> StoreData() illegal BIT data";

struct ReplyCase {
    const char* text;
    GateAddress gate;
    int32_t count;
    uint32_t function;
    std::string data;
    std::size_t dataLength;   // npos: all of `data`
    std::vector<int> buffer;  // from byte 0; every later byte keeps the guard
    const char* message;      // null: none
};

constexpr std::size_t kAll = std::string::npos;

std::vector<int> RepeatInts(const std::vector<int>& part, int times) {
    std::vector<int> out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<int> Plus(std::vector<int> head, const std::vector<int>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const GateAddress kBitGate = Bit(0, 'M', 100);
const GateAddress kWordGate = Word(0, 'D', 100);
const GateAddress kPairGate = Pair(0, 'Z', 100);
const GateAddress kStringGate = Word(0, 'S', 100);

// clang-format off
const ReplyCase kReplyCases[] = {
    // Single bit: one character, the value at byte 2.
    {"00BM100", kBitGate, 1, kSingleRead, "1",  kAll, {K, K, 1, 0}, nullptr},
    {"00BM100", kBitGate, 1, kSingleRead, "0",  kAll, {K, K, 0, 0}, nullptr},
    {"00BM100", kBitGate, 1, kSingleRead, "10", kAll, {K, K, 1, 0}, nullptr},
    {"00BM100", kBitGate, 1, kSingleRead, "X",  kAll, {}, kBitData},
    {"00BM100", kBitGate, 1, kSingleRead, "1",  0,    {}, kBitData},

    // Single word: exactly four hexadecimal digits, either case.
    {"00WD100", kWordGate, 1, kSingleRead, "00FF", kAll, {K, K, 0xFF, 0x00}, nullptr},
    {"00WD100", kWordGate, 1, kSingleRead, "00ff", kAll, {K, K, 0xFF, 0x00}, nullptr},
    {"00WD100", kWordGate, 1, kSingleRead, "aBcD", kAll, {K, K, 0xCD, 0xAB}, nullptr},
    {"00WD100", kWordGate, 1, kSingleRead, "12G4", kAll, {}, kHex},
    {"00WD100", kWordGate, 1, kSingleRead, " 0FF", kAll, {}, kHex},
    {"00WD100", kWordGate, 1, kSingleRead, "00F+", kAll, {}, kHex},
    {"00WD100", kWordGate, 1, kSingleRead, "00FF", 3,    {}, kHex},

    // Single 32-bit: lower device word at byte 0; a good first word stays.
    {"00WZ100", kPairGate, 1, kSingleRead, "56781234", kAll, {0x78, 0x56, 0x34, 0x12}, nullptr},
    {"00WZ100", kPairGate, 1, kSingleRead, "5678ZZZZ", kAll, {0x78, 0x56}, kHex},
    {"00WZ100", kPairGate, 1, kSingleRead, "56781234", 6,    {0x78, 0x56}, kHex},
    {"00WZ100", kPairGate, 1, kSingleRead, "Z6781234", kAll, {}, kHex},

    // Strings: first character in the low byte, copied up to the first zero.
    {"00WS0100L3",  kStringGate, 1, kSingleRead, "42410043",     kAll, {'A', 'B', 'C', 0}, nullptr},
    {"00WS0100L6",  kStringGate, 1, kSingleRead, "424100004443", kAll, {'A', 'B', 0}, nullptr},
    {"00WS0100L0",  kStringGate, 1, kSingleRead, "",             kAll, {0}, nullptr},
    {"00WS0100L5",  kStringGate, 1, kSingleRead, "45484C4C004F", kAll,
     {'H', 'E', 'L', 'L', 'O', 0}, nullptr},
    {"00WS0100L4",  kStringGate, 1, kSingleRead, "42414443",     kAll, {'A', 'B', 'C', 'D', 0}, nullptr},
    {"00WR0100L2",  Word(0, 'R', 100), 1, kSingleRead, "6c6c", kAll, {'l', 'l', 0}, nullptr},
    {"00WS0100L64", kStringGate, 1, kSingleRead, Repeat("4241", 32), kAll,
     Plus(RepeatInts({'A', 'B'}, 32), {0}), nullptr},
    {"00WS0100L3",  kStringGate, 1, kSingleRead, "4241ZZ43",     kAll, {}, kHex},
    {"00WS0100L3",  kStringGate, 1, kSingleRead, "42410043",     4,    {}, kHex},
    {"00WS0100L65", kStringGate, 1, kSingleRead, Repeat("4241", 33), kAll, {}, kHex},

    // Word blocks packed from byte 0; points before a bad field stay.
    {"00WD100", kWordGate, 3,  kBlockRead, "000100020003", kAll, {1, 0, 2, 0, 3, 0}, nullptr},
    {"00WD100", kWordGate, 3,  kBlockRead, "0001ZZZZ0003", kAll, {1, 0}, kHexBlock},
    {"00WD100", kWordGate, 3,  kBlockRead, "000100020003", 8,    {1, 0, 2, 0}, kHexBlock},
    {"00WD100", kWordGate, 0,  kBlockRead, "",             kAll, {}, nullptr},
    {"00WD100", kWordGate, -4, kBlockRead, "0001",         kAll, {}, nullptr},
    {"00WD0",   Word(0, 'D', 0), 64, kBlockRead, Repeat("BEEF", 64), kAll,
     RepeatInts({0xEF, 0xBE}, 64), nullptr},

    // 32-bit blocks: four bytes a value, each as a single value.
    {"00WZ100", kPairGate, 2, kBlockRead, "0001000200030004", kAll,
     {1, 0, 2, 0, 3, 0, 4, 0}, nullptr},
    {"00WZ100", kPairGate, 2, kBlockRead, "000100020003ZZZZ", kAll, {1, 0, 2, 0, 3, 0}, kHex},
    {"00WZ100", kPairGate, 2, kBlockRead, "0001000200030004", 12,   {1, 0, 2, 0, 3, 0}, kHex},
    {"00WZ0",   Pair(0, 'Z', 0), 32, kBlockRead, Repeat("1234ABCD", 32), kAll,
     RepeatInts({0x34, 0x12, 0xCD, 0xAB}, 32), nullptr},

    // Only the low 8 bits of the function code choose the path.
    {"00WD100", kWordGate, 1, 0x105, "1234", kAll, {K, K, 0x34, 0x12}, nullptr},
    {"00WD100", kWordGate, 1, 0x106, "1234", kAll, {0x34, 0x12}, nullptr},
};
// clang-format on

TEST(StoreData, ValuesLandWhereTheHostExpectsThem) {
    for (const ReplyCase& c : kReplyCases) {
        SCOPED_TRACE(std::string(c.text) + " count " + std::to_string(c.count) + " data '" +
                     c.data + "'");
        std::vector<unsigned char> values(300, kGuard);
        GateRequest request{};
        request.addressText = c.text;
        request.gateAddress = c.gate;
        request.count = c.count;
        request.data = values.data();
        // The reply's own bytes follow the data; a decoder that reads past
        // its length would see them.
        const std::string reply = c.data + "\x03" + "00";
        const std::size_t length = c.dataLength == kAll ? c.data.size() : c.dataLength;

        LogRecorder log;
        const int32_t result = protocol::StoreData(
            request, reinterpret_cast<const unsigned char*>(reply.data()), length, c.function);

        EXPECT_EQ(result, c.message == nullptr ? kOk : kGateFailure);
        if (c.message == nullptr) {
            EXPECT_TRUE(log.Lines().empty()) << log.Dump();
        } else {
            const int level = c.message == kBitData ? kLevelInfo : kLevelError;
            EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{level, c.message}}));
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            const int expected =
                i < c.buffer.size() && c.buffer[i] != K ? c.buffer[i] : static_cast<int>(kGuard);
            ASSERT_EQ(values[i], expected) << "byte " << i;
        }
    }
}

}  // namespace
}  // namespace jyn::testing
