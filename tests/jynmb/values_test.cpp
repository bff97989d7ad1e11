// Gates and values as an integrator types them, and the value buffers they
// become: the layout a host gives the driver (a single word at byte 2, block
// points packed from byte 0, 32-bit values low word first, text from byte 0).
#include <gtest/gtest.h>

#include "address/parse.h"
#include "address/validate.h"
#include "host/jynmb/values/gate_arg.h"
#include "host/jynmb/values/gate_reading.h"
#include "host/jynmb/values/value_buffer.h"

namespace {

using jynmb::GateArg;
using jynmb::ValueKind;

struct ArgCase {
    const char* word;
    const char* text;  // nullptr: refused
    int32_t blockSize;
    int32_t gateType;
};

const ArgCase kArgCases[] = {
    {"01WD100", "01WD100", 0, 1},
    {"00BX1F", "00BX1F", 0, 6},
    {"00bx1f", "00bx1f", 0, 6},
    {"01WZ100", "01WZ100", 0, 3},
    {"01W2010", "01W2010", 0, 3},
    {"00WS0100L20", "00WS0100L20", 0, 7},
    {"00WW01AFL10", "00WW01AFL10", 0, 7},
    {"01WD200*10", "01WD200", 10, 1},
    {"01WR0100:2", "01WR0100", 0, 2},
    {"01WD200*4:0", "01WD200", 4, 0},
    {"01WD200*010", "01WD200", 10, 1},  // decimal, not octal
    {"01WD200*0x10:07", "01WD200", 16, 7},
    {"01WD200*0", nullptr, 0, 0},
    {"01WD200*256", nullptr, 0, 0},
    {"01WD200:8", nullptr, 0, 0},
    {"01WD200:x", nullptr, 0, 0},
    {"*3", nullptr, 0, 0},
};

TEST(JynmbGateArg, TextBlockAndDefaultGateType) {
    for (const ArgCase& c : kArgCases) {
        GateArg arg;
        std::string error;
        const bool ok = jynmb::ParseGateArg(c.word, arg, error);
        ASSERT_EQ(ok, c.text != nullptr) << c.word << ": " << error;
        if (!ok) {
            EXPECT_FALSE(error.empty()) << c.word;
            continue;
        }
        EXPECT_EQ(arg.text, c.text) << c.word;
        EXPECT_EQ(arg.blockSize, c.blockSize) << c.word;
        EXPECT_EQ(arg.gateType, c.gateType) << c.word;
    }
}

struct BufferCase {
    const char* gate;
    jyn::GateAddress address;  // as the driver's parser leaves it
    const char* value;
    std::vector<uint8_t> bytes;  // the value buffer from byte 0
    ValueKind kind;
};

constexpr jyn::GateAddress kWord{1, 'D', 100, -1, 16};
constexpr jyn::GateAddress kBit{1, 'M', 6, 4, 8};
constexpr jyn::GateAddress kDword{1, 'Z', 50, -1, 32};
constexpr jyn::GateAddress kString{0, 'S', 100, -1, 16};

const BufferCase kBufferCases[] = {
    {"01WD100", kWord, "0x1234", {0, 0, 0x34, 0x12}, ValueKind::kWord},
    {"01WD100", kWord, "-1", {0, 0, 0xFF, 0xFF}, ValueKind::kWord},
    {"01WD100", kWord, "010", {0, 0, 10, 0}, ValueKind::kWord},
    {"01WD100", kWord, "0X1f", {0, 0, 0x1F, 0}, ValueKind::kWord},
    {"01WD100", kWord, "-0x10", {0, 0, 0xF0, 0xFF}, ValueKind::kWord},
    {"01BM100", kBit, "1", {0, 0, 1, 0}, ValueKind::kBit},
    {"01WZ100", kDword, "0x12345678", {0x78, 0x56, 0x34, 0x12}, ValueKind::k32Bit},
    {"01WD100*3", kWord, "1,2,3", {1, 0, 2, 0, 3, 0}, ValueKind::kWord},
    {"01WZ100*2", kDword, "1, 0x10000", {1, 0, 0, 0, 0, 0, 1, 0}, ValueKind::k32Bit},
    {"00WS0100L5", kString, "HELLO", {'H', 'E', 'L', 'L', 'O', 0, 0}, ValueKind::kString},
    {"00WS0100L5", kString, "\"HI\"", {'H', 'I', 0, 0}, ValueKind::kString},
};

TEST(JynmbGateArg, ValuesLandInTheHostsBufferLayoutAndComeBack) {
    for (const BufferCase& c : kBufferCases) {
        GateArg arg;
        std::string error;
        ASSERT_TRUE(jynmb::ParseGateArg(c.gate, arg, error)) << error;
        ASSERT_EQ(jynmb::KindOf(arg, c.address), c.kind) << c.gate;
        jynmb::Value value;
        ASSERT_TRUE(jynmb::ParseValue(c.kind, arg, c.value, value, error)) << c.gate << error;
        unsigned char buffer[jynmb::kValueBufferSize] = {};
        jynmb::EncodeValue(c.kind, arg, value, buffer);
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + c.bytes.size()), c.bytes) << c.gate;
        const jynmb::Value back = jynmb::DecodeValue(c.kind, arg, buffer);
        EXPECT_EQ(back.numbers, value.numbers) << c.gate << " " << c.value;
        EXPECT_EQ(back.text, value.text) << c.gate << " " << c.value;
    }
}

struct BadValueCase {
    const char* gate;
    jyn::GateAddress address;
    const char* value;
};

const BadValueCase kBadValues[] = {
    {"01WD100", kWord, "65536"}, {"01WD100", kWord, "-32769"},  {"01WD100", kWord, "12x"},
    {"01WD100", kWord, ""},      {"01BM100", kBit, "2"},        {"01WZ100", kDword, "0x100000000"},
    {"01WD100*3", kWord, "1,2"}, {"01WD100*2", kWord, "1,2,3"}, {"00WS0100L4", kString, "HELLO"},
    {"01WD100", kWord, "1 2"},   {"01WD100*2", kWord, "1,2 3"}, {"01WD100", kWord, "0x"},
    {"01WD100", kWord, "+5"},    {"01WD100", kWord, "--1"},     {"01WD100", kWord, "0x-1"},
};

TEST(JynmbGateArg, ValuesOutsideTheGateAreRefused) {
    for (const BadValueCase& c : kBadValues) {
        GateArg arg;
        std::string error;
        ASSERT_TRUE(jynmb::ParseGateArg(c.gate, arg, error));
        jynmb::Value value;
        EXPECT_FALSE(jynmb::ParseValue(jynmb::KindOf(arg, c.address), arg, c.value, value, error))
            << c.gate << "=" << c.value;
    }
}

TEST(JynmbGateArg, GateFilesSkipCommentsAndNameTheBadLine) {
    std::vector<GateArg> args;
    std::string error;
    ASSERT_TRUE(
        jynmb::ParseGateList("# plant\n01WD100\r\n\n  01BM5   # relay\n01WD10*3:2\n", args, error))
        << error;
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(jynmb::GateName(args[1]), "01BM5");
    EXPECT_EQ(jynmb::GateName(args[2]), "01WD10*3");
    EXPECT_EQ(args[2].gateType, 2);

    const struct {
        const char* text;
        const char* error;
    } kBad[] = {
        {"01WD100\n01WD1 01WD2\n", "line 2: one gate a line"},
        {"01WD100\n\n01WD1*0\n", "line 3: block size"},
        {"# nothing\n\n", "no gates"},
    };
    for (const auto& c : kBad) {
        EXPECT_FALSE(jynmb::ParseGateList(c.text, args, error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace

namespace {

struct DeviceCase {
    const char* gate;
    const char* device;
};

// The devices a gate stands on, as jynmb names them when it refuses a gate
// whose text says something else: from the GateAddress the driver's own
// parser and validation make.
const DeviceCase kDeviceCases[] = {
    {"01WD100", "D100"},
    {"01WD10*3", "D10..D12"},
    {"01BY1F", "Y1F"},
    {"01BM100", "M100"},
    {"01WM32", "M512..M527"},
    {"01WX1F", "X1F0..X1FF"},
    {"01WTN5", "TN5"},
    {"01BCS7", "CS7"},
    {"01WR0100", "R100"},
    {"01WZ200", "D200..D201"},
    {"01W2010*2", "W10..W13"},
    {"01W1100", "R100..R101"},
    {"00WS0100L20", "D100..D109"},
    {"00WW01AFL3", "W1AF..W1B0"},
};

TEST(JynmbGateArg, DevicesAreNamedAsTheDriverAddressesThem) {
    for (const DeviceCase& c : kDeviceCases) {
        GateArg arg;
        std::string error;
        ASSERT_TRUE(jynmb::ParseGateArg(c.gate, arg, error)) << error;
        jyn::GateDefinition gate{};
        gate.addressText = arg.text.c_str();
        gate.gateType = arg.gateType;
        gate.blockSize = arg.blockSize;
        ASSERT_EQ(jyn::address::Parse(gate), jyn::kOk) << c.gate;
        const int32_t valid =
            arg.IsBlock() ? jyn::address::ValidateBlock(gate) : jyn::address::ValidateSingle(gate);
        ASSERT_EQ(valid, jyn::kOk) << c.gate;
        EXPECT_EQ(jynmb::DeviceName(arg, gate.gateAddress), c.device) << c.gate;
    }
}

}  // namespace
