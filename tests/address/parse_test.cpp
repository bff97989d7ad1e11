// The address texts users write into the host, through Parse: what each
// becomes, or the one message that refuses it.
#include "address/parse.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <string>
#include <vector>

#include "address/gate_kind.h"
#include "tests/address/host_text.h"

namespace jyn::testing {
namespace {

using address::kCC, address::kCN, address::kCS, address::kTC, address::kTN, address::kTS;

constexpr int32_t kWord = 1;  // one of the 16-bit analog types
constexpr int kE = kLevelError;
constexpr int kI = kLevelInfo;

GateCase Ok(const std::string& text, int32_t type, const GateAddress& fields) {
    return {text, type, 1, kOk, fields, {}};
}
// Accepted, with the note that names the characters the address does not use.
GateCase Noted(const std::string& text, int32_t type, const GateAddress& fields,
               const std::string& unread, const std::string& quoted) {
    return {
        text,   type,
        1,      kOk,
        fields, {{kI, "JYNMB> Parse() characters '" + unread + "' not read, '" + quoted + "'"}}};
}
GateCase No(const std::string& text, int32_t type, int level, const std::string& message) {
    return {text, type, 1, kGateFailure, {}, {{level, message}}};
}
GateAddress Word(int32_t station, int32_t memType, int32_t address) {
    return Fields(station, memType, address, -1, 16);
}
GateAddress Bit(int32_t station, int32_t memType, int32_t group, int32_t bit) {
    return Fields(station, memType, group, bit, 8);
}

const std::string k31 = "00WD100" + std::string(24, ' ');
const std::string k32 = "00WD100" + std::string(25, ' ');
const std::string kLower31 = "00wd1" + std::string(26, 'a');
const std::string kString31 = "00WS0100L20" + std::string(20, 'x');

std::vector<GateCase> StationAndKindCases() {
    return {
        Ok("01WD100", kWord, Word(1, 'D', 100)),
        Ok("FFWD1", kWord, Word(255, 'D', 1)),
        Ok(" 1WD100", kWord, Word(1, 'D', 100)),
        Ok("00wd100", kWord, Word(0, 'D', 100)),
        No("", kWord, kE, "JYNMB> Parse(), Illegal Plc Address, ''"),
        No("GGWD100", kWord, kE, "JYNMB> Parse(), Illegal Plc Address, 'GGWD100'"),
        No("-1WD100", kWord, kE, "JYNMB> Parse(), Illegal Plc Address, '-1WD100'"),
        No("+1WD100", kWord, kE, "JYNMB> Parse(), Illegal Plc Address, '+1WD100'"),
        No("0", kWord, kE, "JYNMB> Parse(), 3rd char should be 'B'it or 'W'ord, '0'"),
        No("00", kWord, kE, "JYNMB> Parse(), 3rd char should be 'B'it or 'W'ord, '00'"),
        No("00XD100", kWord, kE, "JYNMB> Parse(), 3rd char should be 'B'it or 'W'ord, '00XD100'"),
        No("100WD1", kWord, kE, "JYNMB> Parse(), 3rd char should be 'B'it or 'W'ord, '100WD1'"),
        No("00WQ100", kWord, kI, "JYNMB> Parse() unknown memtype 'Q', '00WQ100'"),
        No("00wq1", kWord, kI, "JYNMB> Parse() unknown memtype 'Q', '00WQ1'"),
        No("00W", kWord, kI, "JYNMB> Parse() unknown memtype ' ', '00W'"),
        No(k31, kWord, kE, "JYNMB> Parse() Illegal tag address length (" + k31 + ")"),
        No(kLower31, kWord, kE,
           "JYNMB> Parse() Illegal tag address length (00WD1" + std::string(26, 'A') + ")"),
        No(k32, kWord, kE, "JYNMB> Tag address string too long"),
        No(std::string(40, 'x'), kWord, kE, "JYNMB> Tag address string too long"),
    };
}

std::vector<GateCase> DecimalAndHexCases() {
    return {
        Ok("00BM100", kGateDigital, Bit(0, 'M', 6, 4)),
        Ok("00BL15", kGateDigital, Bit(0, 'L', 0, 15)),
        Ok("00bf16", kGateDigital, Bit(0, 'F', 1, 0)),
        Ok("00WF9999", kWord, Word(0, 'F', 9999)),
        Ok("00WD 12", kWord, Word(0, 'D', 12)),
        Noted("00WD12AB", kWord, Word(0, 'D', 12), "AB", "00WD12AB"),
        Ok("00W1100", 3, Word(0, '1', 100)),
        Ok("00WZ101", 3, Word(0, 'Z', 101)),
        No("00BD100", kGateDigital, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BD100'"),
        No("00WD12345", kWord, kE, "JYNMB> Parse() Illegal tag address length (00WD12345)"),
        No("00wd1234567890123", kWord, kE,
           "JYNMB> Parse() Illegal tag address length (00WD1234567890123)"),
        No("00WD", kWord, kE, "JYNMB> Parse() illegal decimal address, '00WD'"),
        No("00WDX", kWord, kE, "JYNMB> Parse() illegal decimal address, '00WDX'"),
        No("00WD-1", kWord, kE, "JYNMB> Parse() illegal decimal address, '00WD-1'"),
        No("00WM+1", kWord, kE, "JYNMB> Parse() illegal decimal address, '00WM+1'"),
        Ok("0aBx1f", kGateDigital, Bit(10, 'X', 1, 15)),
        Ok("00WX1F", kWord, Word(0, 'X', 0x1F)),
        Ok("00BY0", kGateDigital, Bit(0, 'Y', 0, 0)),
        Ok("00BBFFFF", kGateDigital, Bit(0, 'B', 0xFFF, 15)),
        Noted("00by1g", kGateDigital, Bit(0, 'Y', 0, 1), "G", "00BY1G"),
        Ok("00W2010", 3, Word(0, '2', 0x10)),
        No("00WX12345", kWord, kE, "JYNMB> Parse() tag adress length (00WX12345)"),
        No("00WX", kWord, kE, "JYNMB> Parse() illegal hex address, '00WX'"),
        No("00WXG1", kWord, kE, "JYNMB> Parse() illegal hex address, '00WXG1'"),
        No("00BX-1", kGateDigital, kE, "JYNMB> Parse() illegal hex address, '00BX-1'"),
        No("00WX0x1F", kWord, kE, "JYNMB> Parse() illegal hex address, '00WX0X1F'"),
        No("00BY 0X1", kGateDigital, kE, "JYNMB> Parse() illegal hex address, '00BY 0X1'"),
        No("00WW0x10", kWord, kE, "JYNMB> Parse() illegal hex address, '00WW0X10'"),
        No("00W20X10", 3, kE, "JYNMB> Parse() illegal hex address, '00W20X10'"),
        // Decimal: the number ends at the 'X'.
        Noted("00WD0X10", kWord, Word(0, 'D', 0), "X10", "00WD0X10"),
        No("00B1100", kGateDigital, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00B1100'"),
        No("00b2010", kGateDigital, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00B2010'"),
        No("00BZ100", kGateDigital, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BZ100'"),
    };
}

std::vector<GateCase> TimerCounterCases() {
    return {
        Ok("00BTS10", kGateDigital, Bit(0, kTS, 0, 10)),
        Ok("00WTC17", kWord, Word(0, kTC, 17)),
        Ok("00btc33", kGateDigital, Bit(0, kTC, 2, 1)),
        Ok("00WTN12", kWord, Word(0, kTN, 12)),
        Ok("00WCN7", kWord, Word(0, kCN, 7)),
        Ok("00BCS31", kGateDigital, Bit(0, kCS, 1, 15)),
        Ok("00wcc1234", kWord, Word(0, kCC, 1234)),
        Noted("00WTN123l", kWord, Word(0, kTN, 123), "L", "00WTN123L"),
        No("00BTN10", kGateDigital, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BTN10'"),
        No("00BCN7", kGateDigital, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BCN7'"),
        No("00WTQ10", kWord, kE, "JYNMB> Parse() illegal timer/counter memory type, '00WTQ10'"),
        No("00WT", kWord, kE, "JYNMB> Parse() illegal timer/counter memory type, '00WT'"),
        No("00WTN", kWord, kE, "JYNMB> Parse() illegal timer/counter address, '00WTN'"),
        No("00WTN-5", kWord, kE, "JYNMB> Parse() illegal timer/counter address, '00WTN-5'"),
        No("00WTN123L", kWord, kE, "JYNMB> Parse() illegal timer/counter address, '00WTN123L'"),
        No("00WTN12345", kWord, kE, "JYNMB> Parse() tag adress length (00WTN12345)"),
        No("00WTQ12345", kWord, kE, "JYNMB> Parse() tag adress length (00WTQ12345)"),
    };
}

std::vector<GateCase> RegisterCases() {
    return {
        No("00WR100", kWord, kE, "JYNMB> Parse() Illegal tag address length (00WR100)"),
        Ok("00WR0100", kWord, Word(0, 'R', 100)),
        No("00WR01234", kWord, kE, "JYNMB> Parse() Illegal tag address length (00WR01234)"),
        No("00WR", kWord, kE, "JYNMB> Parse() illegal decimal address, '00WR'"),
        No("00BR0100", kGateDigital, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BR0100'"),
        Ok("00WW100", kWord, Word(0, 'W', 0x100)),
        Ok("00WW0100", kWord, Word(0, 'W', 0x100)),
        No("00WW10", kWord, kE, "JYNMB> Parse() Illegal tag address length (00WW10)"),
        No("00WW01234", kWord, kE, "JYNMB> Parse() Illegal tag address length (00WW01234)"),
        No("00BW0123456789", kGateDigital, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BW0123456789'"),
        No("00BW", kGateDigital, kE, "JYNMB> Parse() illegal hex address, '00BW'"),
    };
}

std::vector<GateCase> StringCases() {
    return {
        Ok("00WS0100L20", kGateString, Word(0, 'S', 100)),
        Ok("00ws0100L20", kGateString, Word(0, 'S', 100)),
        Ok("00WS0100L64", kGateString, Word(0, 'S', 100)),
        Ok("00WS0100L0", kGateString, Word(0, 'S', 100)),
        Ok("00WS9999L1", kGateString, Word(0, 'S', 9999)),
        Ok("00WR0100L20", kGateString, Word(0, 'R', 100)),
        Ok("00WW01AFL10", kGateString, Word(0, 'W', 0x1AF)),
        Ok("00wwffffL64", kGateString, Word(0, 'W', 0xFFFF)),
        No("00WS0100L20", kWord, kE, "JYNMB: Tag 00WS0100L20 must be type 'String'"),
        No("00ws0100L20", 0, kE, "JYNMB: Tag 00ws0100L20 must be type 'String'"),
        No("00WR0100L20", kWord, kE, "JYNMB: Tag 00WR0100L20 must be type 'String'"),
        No("00WS0100L65", kGateString, kE, "JYNMB> Parse() String Length > 64, '00WS0100L65'"),
        No("00WS0100L99", kGateString, kE, "JYNMB> Parse() String Length > 64, '00WS0100L99'"),
        No("00WS0100L", kGateString, kE, "JYNMB> Parse() illegal String gate, '00WS0100L'"),
        No("00WS0100L 5", kGateString, kE, "JYNMB> Parse() illegal String gate, '00WS0100L 5'"),
        No("00WS0100L-1", kGateString, kE, "JYNMB> Parse() illegal String gate, '00WS0100L-1'"),
        No("00WS0100l20", kGateString, kE, "JYNMB> Parse() illegal String gate, '00WS0100l20'"),
        No("00WR0100l20", kGateString, kE, "JYNMB> Parse() illegal String gate, '00WR0100l20'"),
        No("00WS0100X20", kGateString, kE, "JYNMB> Parse() illegal String gate, '00WS0100X20'"),
        No("00WS0100", kGateString, kE, "JYNMB> Parse() illegal String gate, '00WS0100'"),
        No("00WS0100L100", kGateString, kE,
           "JYNMB> Parse() Gate Adress String '00WS0100L100'too long "),
        No(kString31, kGateString, kE,
           "JYNMB> Parse() Gate Adress String '" + kString31 + "'too long "),
        No("00WS01AFL10", kGateString, kE, "JYNMB> Parse() illegal decimal address, '00WS01AFL10'"),
        No("00ws01afL10", kGateString, kE, "JYNMB> Parse() illegal decimal address, '00ws01afL10'"),
        No("00WS 100L20", kGateString, kE, "JYNMB> Parse() illegal decimal address, '00WS 100L20'"),
        No("00WS01", kGateString, kE, "JYNMB> Parse() illegal decimal address, '00WS01'"),
        No("00WS", kGateString, kE, "JYNMB> Parse() illegal decimal address, '00WS'"),
        No("00BR0100L20", kGateString, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BR0100L20'"),
        No("00BS0100L20", kGateString, kI,
           "JYNMB> Parse(), only word gate allowed for mem type, '00BS0100L20'"),
    };
}

void RunParseCase(const GateCase& c) {
    LogRecorder log;
    const HostText text(c.text);
    GateDefinition gate{};
    gate.addressText = text.get();
    gate.gateType = c.gateType;
    EXPECT_EQ(address::Parse(gate), c.result);
    EXPECT_EQ(log.Lines(), c.log) << log.Dump();
    if (c.result == kOk) {
        EXPECT_TRUE(SameFields(gate.gateAddress, c.fields))
            << "got " << Describe(gate.gateAddress) << ", want " << Describe(c.fields);
    }
}

// One suite; each group of address forms is a table of its own.
class ParseText : public ::testing::TestWithParam<GateCase> {};
TEST_P(ParseText, Parse) { RunParseCase(GetParam()); }
INSTANTIATE_TEST_SUITE_P(StationAndKind, ParseText, ::testing::ValuesIn(StationAndKindCases()));
INSTANTIATE_TEST_SUITE_P(DecimalAndHex, ParseText, ::testing::ValuesIn(DecimalAndHexCases()));
INSTANTIATE_TEST_SUITE_P(TimerCounter, ParseText, ::testing::ValuesIn(TimerCounterCases()));
INSTANTIATE_TEST_SUITE_P(Registers, ParseText, ::testing::ValuesIn(RegisterCases()));
INSTANTIATE_TEST_SUITE_P(Strings, ParseText, ::testing::ValuesIn(StringCases()));

TEST(Parse, NullTextIsRefusedLikeAnEmptyOne) {
    LogRecorder log;
    GateDefinition gate{};
    gate.addressText = nullptr;
    gate.gateType = kWord;
    EXPECT_EQ(address::Parse(gate), kGateFailure);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kE, "JYNMB> Parse(), Illegal Plc Address, ''"}}));
}

// A run of digits longer than any device number stops at the largest
// address instead of wrapping round to one that looks valid.
TEST(Parse, OverlongNumbersSaturate) {
    for (const char* text : {"00WD99999999999999", "00BWFFFFFFFFFFFF"}) {
        LogRecorder log;
        const HostText host(text);
        GateDefinition gate{};
        gate.addressText = host.get();
        gate.gateType = kWord;
        EXPECT_EQ(address::Parse(gate), kGateFailure) << text;
        EXPECT_EQ(gate.gateAddress.address, INT32_MAX) << text;
        EXPECT_EQ(log.Lines().size(), 1u) << log.Dump();
    }
}

// Every letter in either case: the host text is never the one being tested
// for case, only the working copy.
TEST(Parse, EveryMemoryLetterInLowerCaseReadsLikeUpperCase) {
    const char* const texts[] = {"00wx1f",  "00wy1f",  "00wb1f",  "00wm100",  "00wl100",
                                 "00wf100", "00wd100", "00ww100", "00wr0100", "00wtn10",
                                 "00wcn10", "00w1100", "00w2100", "00wz100",  "00wts10",
                                 "00wtc10", "00wcs10", "00wcc10", "01bm17",   "01btc17"};
    for (const char* lower : texts) {
        std::string upper(lower);
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        LogRecorder log;
        const HostText a(lower);
        const HostText b(upper);
        GateDefinition lowerGate{};
        GateDefinition upperGate{};
        lowerGate.addressText = a.get();
        upperGate.addressText = b.get();
        ASSERT_EQ(address::Parse(lowerGate), kOk) << lower << log.Dump();
        ASSERT_EQ(address::Parse(upperGate), kOk) << upper << log.Dump();
        EXPECT_TRUE(SameFields(lowerGate.gateAddress, upperGate.gateAddress)) << lower;
    }
}

// What the address does not use, as a tool shows it to the person who typed
// the text: a caret under each such character. Parse notes the same
// characters when it accepts the text; ReadingOf never logs.
struct ReadingCase {
    std::string text;
    int32_t gateType;
    bool accepted;
    std::string carets;
};

const ReadingCase kReadingCases[] = {
    {"01WD100", kWord, true, ""},           {"01WD1O0", kWord, true, "     ^^"},
    {"01WD100x", kWord, true, "       ^"},  {"01WD1,00", kWord, true, "     ^^^"},
    {"01WD100 ", kWord, true, "       ^"},  {"01BY1G", kGateDigital, true, "     ^"},
    {"00WD 12", kWord, true, ""},           {" 1WD100", kWord, true, ""},
    {"1 WD100", kWord, true, " ^"},         {"00WTN1 x", kWord, true, "      ^^"},
    {"00WR01O0", kWord, true, "      ^^"},  {"00WW1O0", kWord, true, "     ^^"},
    {"00WS0100L20", kGateString, true, ""}, {"00WS0100L2X", kGateString, true, "          ^"},
    {"00WQ100", kWord, false, ""},          {"00WS0100L20", kWord, false, ""},
};

std::string Carets(const address::TextReading& reading) {
    std::string carets;
    for (std::size_t i = 0; i < reading.length; ++i) carets += reading.unread[i] ? '^' : ' ';
    return carets.substr(0, carets.find_last_not_of(' ') + 1);
}

TEST(ReadingOf, MarksWhatTheAddressDoesNotUseAndParseNotesIt) {
    for (const ReadingCase& c : kReadingCases) {
        SCOPED_TRACE("'" + c.text + "'");
        LogRecorder log;
        const HostText text(c.text);
        const address::TextReading reading = address::ReadingOf(text.get(), c.gateType);
        EXPECT_EQ(reading.accepted, c.accepted);
        EXPECT_EQ(Carets(reading), c.carets);
        EXPECT_EQ(reading.AnyUnread(), !c.carets.empty());
        EXPECT_TRUE(log.Lines().empty()) << log.Dump();

        GateDefinition gate{};
        gate.addressText = text.get();
        gate.gateType = c.gateType;
        EXPECT_EQ(address::Parse(gate) == kOk, c.accepted);
        if (!c.accepted) continue;
        std::string unread, upper;
        for (std::size_t i = 0; i < c.text.size(); ++i) {
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c.text[i])));
            if (i < c.carets.size() && c.carets[i] == '^') unread += upper.back();
        }
        const std::vector<LogLine> note = {
            {kI, "JYNMB> Parse() characters '" + unread + "' not read, '" + upper + "'"}};
        EXPECT_EQ(log.Lines(), c.carets.empty() ? std::vector<LogLine>{} : note) << log.Dump();
    }
}

}  // namespace
}  // namespace jyn::testing
