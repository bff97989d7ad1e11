// SingleAddressParser (code 3) and BlockAddressParser (code 4) as the host
// calls them: through JynMain, with the GateDefinition in the CallBlock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "address/gate_kind.h"
#include "interface/host_abi.h"
#include "tests/address/host_text.h"

namespace jyn::testing {
namespace {

constexpr int kE = kLevelError;
constexpr int kI = kLevelInfo;
const std::string kAnalog = "JYNMB> SingleParse() Gate type should be 16-bit analog";
const std::string kDigital = "JYNMB> SingleParse() Gate type should be digital";

GateCase Ok(const std::string& text, int32_t type, int32_t size, const GateAddress& fields) {
    return {text, type, size, kOk, fields, {}};
}
GateCase No(const std::string& text, int32_t type, int32_t size, int level,
            const std::string& message) {
    return {text, type, size, kGateFailure, {}, {{level, message}}};
}
GateCase Silent(const std::string& text, int32_t type, int32_t size) {
    return {text, type, size, kGateFailure, {}, {}};
}
std::string OutOfRange(const std::string& text) {
    return "JYNMB> BlockParse() Gate " + text + " block size out of range";
}
std::string NotABlock(const std::string& text) {
    return "JYNMB> BlockParse() Gate " + text + " not allowed as block";
}

std::vector<GateCase> SingleCases() {
    const GateAddress d100 = Fields(0, 'D', 100, -1, 16);
    const GateAddress m100 = Fields(0, 'M', 6, 4, 8);
    const GateAddress z100 = Fields(0, 'Z', 50, -1, 32);
    return {
        Ok("00WD100", 0, 1, d100),
        Ok("00WD100", 1, 1, d100),
        Ok("00WD100", 2, 1, d100),
        Ok("00WD100", kGateString, 1, d100),
        No("00WD100", kGateDigital, 1, kE, kAnalog),
        No("00WD100", 3, 1, kE, kAnalog),
        No("00WD100", 8, 1, kE, kAnalog),
        No("00WD100", -1, 1, kE, kAnalog),
        No("00WX10", kGateDigital, 1, kE, kAnalog),
        Ok("00BM100", kGateDigital, 1, m100),
        Ok("00BM100", kGateString, 1, m100),
        No("00BM100", 0, 1, kE, kDigital),
        No("00BM100", 5, 1, kE, kDigital),
        No("00BM100", 9, 1, kE, kDigital),
        No("00BM100", -2, 1, kE, kDigital),
        Ok("00WZ100", 3, 1, z100),
        Ok("00WZ100", 4, 1, z100),
        Ok("00wz100", 5, 1, z100),
        Ok("00W2010", 3, 1, Fields(0, '2', 8, -1, 32)),
        Ok("00W1200", 5, 1, Fields(0, '1', 100, -1, 32)),
        Ok("00W1000", 3, 1, Fields(0, '1', 0, -1, 32)),
        Silent("00WZ101", 4, 1),
        Silent("00WZ100", 1, 1),
        Silent("00WZ100", kGateDigital, 1),
        Silent("00WZ100", kGateString, 1),
        Silent("00W2010", 8, 1),
        Ok("00WS0100L20", kGateString, 1, Fields(0, 'S', 100, -1, 16)),
        Ok("00WW01AFL10", kGateString, 1, Fields(0, 'W', 0x1AF, -1, 16)),
        No("00WS0100L20", 1, 1, kE, "JYNMB: Tag 00WS0100L20 must be type 'String'"),
        No("00WQ1", 1, 1, kI, "JYNMB> Parse() unknown memtype 'Q', '00WQ1'"),
        No("00BZ100", kGateDigital, 1, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BZ100'"),
        No("00BS0100L20", kGateString, 1, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BS0100L20'"),
    };
}

std::vector<GateCase> BlockCases() {
    const GateAddress d100 = Fields(0, 'D', 100, -1, 16);
    const GateAddress z100 = Fields(0, 'Z', 50, -1, 32);
    return {
        Ok("00WD100", 1, 64, d100),
        Ok("00WD100", 1, 1, d100),
        Ok("00WD100", 1, 0, d100),
        Ok("00WD100", 1, -5, d100),  // a block of no points is refused when transferred
        Ok("00WD100", 8, 10, d100),  // hosts pass their own gate types for blocks
        Ok("00WD100", -1, 10, d100),
        Ok("00WD100", kGateString, 64, d100),
        Ok("00WX10", 1, 64, Fields(0, 'X', 0x10, -1, 16)),
        Ok("00WTN123", 0, 33, Fields(0, address::kTN, 123, -1, 16)),
        No("00WD100", 1, 65, kE, OutOfRange("00WD100")),
        No("00wd100", 1, 1000, kE, OutOfRange("00wd100")),
        Ok("00WZ100", 4, 32, z100),
        Ok("00WZ100", 1, 32, z100),
        No("00WZ100", 4, 33, kE, OutOfRange("00WZ100")),
        No("00wz100", 4, 64, kE, OutOfRange("00wz100")),
        No("00W2010", 3, 65, kE, OutOfRange("00W2010")),
        Silent("00WZ101", 4, 2),
        No("00WS0100L20", kGateString, 1, kE, NotABlock("00WS0100L20")),
        No("00ws0100L20", kGateString, 1, kE, NotABlock("00ws0100L20")),
        No("00WR0100L20", kGateString, 1, kE, NotABlock("00WR0100L20")),
        No("00WW01AFL10", kGateString, 100, kE, NotABlock("00WW01AFL10")),
        No("00WS0100L20", 1, 1, kE, "JYNMB: Tag 00WS0100L20 must be type 'String'"),
        No("00BX10", kGateDigital, 1, kE, NotABlock("00BX10")),
        No("00bx10", kGateDigital, 1, kE, NotABlock("00bx10")),
        No("00BX10", kGateDigital, 100, kE, NotABlock("00BX10")),
        No("00WD12345", 1, 1, kE, "JYNMB> Parse() Illegal tag address length (00WD12345)"),
    };
}

// The host's way in: a CallBlock with the function code and the record.
void RunThroughJynMain(uint32_t function, const GateCase& c) {
    LogRecorder log;
    const HostText text(c.text);
    GateDefinition gate{};
    gate.addressText = text.get();
    gate.gateType = c.gateType;
    gate.blockSize = c.blockSize;
    CallBlock block{};
    block.function = function;
    block.instance = 1;
    block.params = &gate;
    EXPECT_EQ(JynMain(&block), c.result);
    EXPECT_EQ(log.Lines(), c.log) << log.Dump();
    if (c.result == kOk) {
        EXPECT_TRUE(SameFields(gate.gateAddress, c.fields))
            << "got " << Describe(gate.gateAddress) << ", want " << Describe(c.fields);
    }
}

class SingleGates : public ::testing::TestWithParam<GateCase> {};
TEST_P(SingleGates, SingleAddressParser) { RunThroughJynMain(kSingleAddressParser, GetParam()); }
INSTANTIATE_TEST_SUITE_P(Gates, SingleGates, ::testing::ValuesIn(SingleCases()));

class BlockGates : public ::testing::TestWithParam<GateCase> {};
TEST_P(BlockGates, BlockAddressParser) { RunThroughJynMain(kBlockAddressParser, GetParam()); }
INSTANTIATE_TEST_SUITE_P(Gates, BlockGates, ::testing::ValuesIn(BlockCases()));

TEST(AddressParsers, NullTextIsRefusedLikeAnEmptyOne) {
    for (const uint32_t function : {kSingleAddressParser, kBlockAddressParser}) {
        LogRecorder log;
        GateDefinition gate{};
        gate.addressText = nullptr;
        gate.gateType = 1;
        CallBlock block{nullptr, function, 1, 0, &gate};
        EXPECT_EQ(JynMain(&block), kGateFailure) << function;
        EXPECT_EQ(log.Lines(),
                  (std::vector<LogLine>{{kE, "JYNMB> Parse(), Illegal Plc Address, ''"}}));
    }
}

}  // namespace
}  // namespace jyn::testing
