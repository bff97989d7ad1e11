// Point limits per command and the device ranges of each family, at the
// boundary and one past it.
#include <gtest/gtest.h>

#include "tests/sim/sim_test_util.h"

namespace {

using jynsim::CpuFamily;
using namespace simtest;

struct LimitCase {
    CpuFamily family;
    const char* command;
    const char* field;
    int points;
    bool accepted;
};

// Write data of the right length for the command and point count.
std::string DataFor(const std::string& command, const std::string& field, int points) {
    if (command == "TT") return std::string(static_cast<std::size_t>(points), 'A');
    if (command[1] != 'W') return "";
    if (command[0] == 'B' || command[0] == 'J')
        return std::string(static_cast<std::size_t>(points), '1');
    (void)field;
    std::string data;
    for (int i = 0; i < points; ++i) data += "00FF";
    return data;
}

constexpr CpuFamily A = CpuFamily::kAcpu;
constexpr CpuFamily AnA = CpuFamily::kAnAcpu;

const LimitCase kLimitCases[] = {
    // Points per command ("00" is 256 for the bit reads only).
    {A, "BR", "M0000", 256, true},
    {A, "BR", "X0700", 256, true},
    {A, "BR", "X0701", 256, false},
    {AnA, "JR", "M000000", 256, true},
    {A, "BW", "M0000", 160, true},
    {A, "BW", "M0000", 161, false},
    {A, "BW", "M0000", 0, false},
    {A, "WR", "M0000", 32, true},
    {A, "WR", "M0000", 33, false},
    {A, "WR", "D0000", 64, true},
    {A, "WR", "D0000", 65, false},
    {A, "WW", "Y0000", 10, true},
    {A, "WW", "Y0000", 11, false},
    {A, "WW", "R0000", 64, true},
    {A, "WW", "R0000", 65, false},
    {AnA, "QW", "W000000", 64, true},
    {AnA, "QW", "B000000", 11, false},
    {A, "TT", "", 254, true},
    {A, "TT", "", 255, false},
    // Ranges of an A3N-class ACPU.
    {A, "WR", "D1023", 1, true},
    {A, "WR", "D1023", 2, false},
    {A, "WR", "D9255", 1, true},
    {A, "WR", "D9254", 3, false},
    {A, "BR", "M2047", 1, true},
    {A, "BR", "M2048", 1, false},
    {A, "BR", "M9255", 1, true},
    {A, "BR", "M8999", 2, false},
    {A, "BR", "X07FF", 1, true},
    {A, "BR", "Y0800", 1, false},
    {A, "WR", "B03F0", 1, true},
    {A, "WR", "B0400", 1, false},
    {A, "WR", "W03FF", 1, true},
    {A, "WR", "W0400", 1, false},
    {A, "BR", "F0255", 1, true},
    {A, "BR", "F0256", 1, false},
    {A, "WR", "TN255", 1, true},
    {A, "WR", "TN256", 1, false},
    {A, "BR", "CS255", 1, true},
    {A, "BR", "CC256", 1, false},
    {A, "WR", "R8191", 1, true},
    {A, "WR", "R8192", 1, false},
    // Ranges of an A3A-class AnACPU.
    {AnA, "QR", "D008191", 1, true},
    {AnA, "QR", "D008192", 1, false},
    {AnA, "QR", "D009000", 64, true},
    {AnA, "JR", "M008191", 1, true},
    {AnA, "JR", "L008192", 1, false},
    {AnA, "QR", "B000FF0", 1, true},
    {AnA, "QR", "B001000", 1, false},
    {AnA, "JR", "F002047", 1, true},
    {AnA, "JR", "F002048", 1, false},
    {AnA, "QR", "TN02047", 1, true},
    {AnA, "QR", "TN02048", 1, false},
    {AnA, "QR", "CN01023", 1, true},
    {AnA, "QR", "CN01024", 1, false},
    {AnA, "QR", "X0007F0", 1, true},
    {AnA, "QR", "X000800", 1, false},
    // Word access to bit devices starts on a 16-point boundary.
    {A, "WR", "M9008", 1, true},
    {A, "WR", "M9000", 1, false},
    {A, "WW", "X0010", 1, true},
    {A, "WW", "X0011", 1, false},
};

void PrintTo(const LimitCase& c, std::ostream* out) {
    *out << (c.family == A ? "A_" : "AnA_") << c.command << '_' << c.field << '_' << c.points;
}

class SimLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(SimLimits, AcceptedOrCharacterAreaError) {
    const LimitCase& c = GetParam();
    Line line(OneStation(1, c.family));
    const std::string body = std::string("01FF") + c.command + "0" + c.field +
                             Hex2(static_cast<unsigned>(c.points)) +
                             DataFor(c.command, c.field, c.points);
    const std::string reply = line.Exchange(Request(body));
    ASSERT_FALSE(reply.empty());
    if (c.accepted) {
        EXPECT_NE(reply[0], '\x15') << reply;
        EXPECT_TRUE(line.engine.Records().back().carried_out);
    } else {
        EXPECT_EQ(reply, Nak("01FF", "06"));
        EXPECT_FALSE(line.engine.Records().back().carried_out);
    }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, SimLimits, ::testing::ValuesIn(kLimitCases));

TEST(SimBitRead, FullReadCarriesEveryPoint) {
    Line line(OneStation(1, A));
    line.StationNo(1).Memory().SetBit({jynsim::Device::kX, 0x7FF}, true);
    const std::string reply = line.Exchange(Request("01FFBR0X070000"));
    // 256 data characters, the last one X7FF.
    ASSERT_EQ(reply.size(), 1 + 4 + 256 + 1 + 2u);
    EXPECT_EQ(reply[4 + 256], '1');
    EXPECT_EQ(reply.substr(5, 255), std::string(255, '0'));
}

}  // namespace
