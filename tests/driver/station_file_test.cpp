// The station configuration file JYNMB<n>.INT, read from the current
// directory: each test runs in a directory of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "driver/handlers.h"
#include "driver/lines.h"
#include "interface/host_abi.h"
#include "tests/support/case_name.h"
#include "tests/support/in_directory.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

constexpr int kE = kLevelError;
constexpr int kI = kLevelInfo;
const std::string kNoFile = "JYNMB> ColdStart() Info, no initfile found";

using Files = std::vector<std::pair<std::string, std::string>>;
using Entries = std::vector<std::pair<int, StationEntry>>;

LogLine Station(const std::string& logical, const std::string& station, const std::string& pc) {
    return {kI, "JYNMB> ReadIntFile() " + logical + "h= station " + station + "h, PC " + pc + "h"};
}
LogLine IllegalLine(unsigned line, const std::string& file = "JYNMB01.INT") {
    return {kE, "JYNMB> ReadIntFile() illegal line " + std::to_string(line) + " in '" + file + "'"};
}
LogLine IllegalCpu(unsigned line, const std::string& file = "JYNMB01.INT") {
    return {kE, "JYNMB> ReadInitFile() illegal CPU on line " + std::to_string(line) + " in '" +
                    file + "'"};
}

void FillDefaults(DriverContext& context) {
    for (std::size_t i = 0; i < kStationCount; ++i) {
        context.stationTable[i] = {static_cast<uint8_t>(i), 0xFF, kCpuA};
    }
}

// The whole table: the entries named, defaults everywhere else.
void ExpectTable(const DriverContext& context, const Entries& changed) {
    DriverContext expected{};
    FillDefaults(expected);
    for (const auto& [index, entry] : changed) expected.stationTable[index] = entry;
    for (std::size_t i = 0; i < kStationCount; ++i) {
        const StationEntry& got = context.stationTable[i];
        const StationEntry& want = expected.stationTable[i];
        EXPECT_TRUE(got.stationNumber == want.stationNumber && got.pcNumber == want.pcNumber &&
                    got.cpuType == want.cpuType)
            << "entry " << i << ": got " << int{got.stationNumber} << "/" << int{got.pcNumber}
            << "/" << int{got.cpuType} << ", want " << int{want.stationNumber} << "/"
            << int{want.pcNumber} << "/" << int{want.cpuType};
    }
}

struct FileCase {
    std::string label;
    Files files;
    uint32_t instance;
    std::vector<LogLine> log;
    Entries entries;
};

void PrintTo(const FileCase& c, std::ostream* out) { *out << c.label; }

StationFileOptions RunReadInitFile(const Files& files, uint32_t instance,
                                   const std::vector<LogLine>& log, const Entries& entries) {
    InDirectory dir;
    for (const auto& [name, content] : files) {
        // A name ending in '/' is made a directory.
        if (!name.empty() && name.back() == '/') {
            EXPECT_TRUE(dir.MakeDirectory(name)) << name;
        } else {
            EXPECT_TRUE(dir.Write(name, content)) << name;
        }
    }
    DriverContext context{};
    FillDefaults(context);
    CallBlock block{&context, kColdStart, instance, 0, nullptr};
    LogRecorder recorder;
    StationFileOptions options;
    ReadInitFile(block, options);
    EXPECT_EQ(recorder.Lines(), log) << recorder.Dump();
    ExpectTable(context, entries);
    return options;
}

// Which of the three names is read.
std::vector<FileCase> NameCases() {
    const std::string one = "01 = 02, 03\n";
    const std::string two = "01 = 04, 05\n";
    const std::string three = "01 = 06, 07\n";
    const StationEntry a{2, 3, kCpuA};
    const StationEntry b{4, 5, kCpuA};
    const StationEntry c{6, 7, kCpuA};
    return {
        {"NoFile", {}, 1, {{kI, kNoFile}}, {}},
        {"OtherInstanceOnly", {{"JYNMB02.INT", one}}, 1, {{kI, kNoFile}}, {}},
        {"TwoDigitsFirst",
         {{"JYNMB01.INT", one}, {"JYNMB1.INT", two}, {"JYNMB.INT", three}},
         1,
         {Station("01", "02", "03")},
         {{1, a}}},
        {"TwoDigitsBeforeShared",
         {{"JYNMB01.INT", one}, {"JYNMB.INT", three}},
         1,
         {Station("01", "02", "03")},
         {{1, a}}},
        {"OneDigitBeforeShared",
         {{"JYNMB1.INT", two}, {"JYNMB.INT", three}},
         1,
         {Station("01", "04", "05")},
         {{1, b}}},
        {"DirectoryBearingTheNameIsNoFile",
         {{"JYNMB01.INT/", ""}, {"JYNMB1.INT", two}},
         1,
         {Station("01", "04", "05")},
         {{1, b}}},
        {"SharedLast",
         {{"JYNMB02.INT", one}, {"JYNMB.INT", three}},
         1,
         {Station("01", "06", "07")},
         {{1, c}}},
        {"InstanceTwelve",
         {{"JYNMB12.INT", two}, {"JYNMB.INT", three}},
         12,
         {Station("01", "04", "05")},
         {{1, b}}},
        {"InstanceZero",
         {{"JYNMB00.INT", one}, {"JYNMB0.INT", two}},
         0,
         {Station("01", "02", "03")},
         {{1, a}}},
    };
}

class StationFileNames : public ::testing::TestWithParam<FileCase> {};
TEST_P(StationFileNames, ReadInitFile) {
    const FileCase& c = GetParam();
    RunReadInitFile(c.files, c.instance, c.log, c.entries);
}
INSTANTIATE_TEST_SUITE_P(Files, StationFileNames, ::testing::ValuesIn(NameCases()));

// One line in JYNMB01.INT: what it sets and what it says.
struct LineCase {
    std::string line;
    std::vector<LogLine> log;
    Entries entries;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << TextName(c.line); }

std::vector<LineCase> LineCases() {
    const std::string longWord(200, 'A');
    return {
        {"01=02,03\n", {Station("01", "02", "03")}, {{1, {2, 3, kCpuA}}}},
        {"1 = 2, 3, anacpu\n", {Station("01", "02", "03")}, {{1, {2, 3, kCpuAn}}}},
        {"0a = ff, 1e, Acpu\n", {Station("0A", "FF", "1E")}, {{10, {0xFF, 0x1E, kCpuA}}}},
        {"\t0B\t=\t0C,\t0D ,AnAcPu\n", {Station("0B", "0C", "0D")}, {{11, {0x0C, 0x0D, kCpuA}}}},
        {"\t0B\t=\t0C,\t0D,\tAnAcPu\n", {Station("0B", "0C", "0D")}, {{11, {0x0C, 0x0D, kCpuAn}}}},
        {"  0B =0C,0D,ANACPU  \n", {Station("0B", "0C", "0D")}, {{11, {0x0C, 0x0D, kCpuAn}}}},
        {"ff = 00, 00, ACPU", {Station("FF", "00", "00")}, {{255, {0, 0, kCpuA}}}},
        {"08 = 09, 0A\r\n", {Station("08", "09", "0A")}, {{8, {9, 0x0A, kCpuA}}}},
        {"01 = 02, 03, QCPU\n", {IllegalCpu(1), Station("01", "02", "03")}, {{1, {2, 3, kCpuA}}}},
        {"01 = 02, 03, ANACPUX\n",
         {IllegalCpu(1), Station("01", "02", "03")},
         {{1, {2, 3, kCpuA}}}},
        {"01 = 02, 03, " + longWord + "\n",
         {IllegalCpu(1), Station("01", "02", "03")},
         {{1, {2, 3, kCpuA}}}},
        {"01 = 02\n", {IllegalLine(1)}, {}},
        {"   \n", {IllegalLine(1)}, {}},
        {"\t\n", {IllegalLine(1)}, {}},
        {"\n", {}, {}},
        {"\r\n", {}, {}},
        {"* 01 = 02, 03\n", {}, {}},
        {"*\n", {}, {}},
        {" * indented comment\n", {IllegalLine(1)}, {}},
        {"01 = 02 , 03\n", {IllegalLine(1)}, {}},
        {"001 = 02, 03\n", {IllegalLine(1)}, {}},
        {"01 = 123, 03\n", {IllegalLine(1)}, {}},
        {"01 = -2, 03\n", {IllegalLine(1)}, {}},
        {"01 = 0x2, 03\n", {IllegalLine(1)}, {}},
        {"01 02, 03\n", {IllegalLine(1)}, {}},
        // Past the fields nothing is looked at: a word without its comma is
        // not a CPU word, and a remark after the CPU word is ignored.
        {"01 = 02, 03 ANACPU\n", {Station("01", "02", "03")}, {{1, {2, 3, kCpuA}}}},
        {"01 = 02, 03, ANACPU extra\n", {Station("01", "02", "03")}, {{1, {2, 3, kCpuAn}}}},
        {"01 = 02, 03,\n", {Station("01", "02", "03")}, {{1, {2, 3, kCpuA}}}},
        {"01 = 02, 03; line 2\n", {Station("01", "02", "03")}, {{1, {2, 3, kCpuA}}}},
    };
}

class StationFileLines : public ::testing::TestWithParam<LineCase> {};
TEST_P(StationFileLines, ReadInitFile) {
    const LineCase& c = GetParam();
    RunReadInitFile({{"JYNMB01.INT", c.line}}, 1, c.log, c.entries);
}
INSTANTIATE_TEST_SUITE_P(Lines, StationFileLines, ::testing::ValuesIn(LineCases()));

// Keyword lines: the name in any case, blanks optional around '='; a value
// the driver cannot take is reported and leaves the setting off.
struct KeywordCase {
    std::string line;
    std::vector<LogLine> log;
    uint32_t offlineSeconds;
    std::string tracePath = {};  // empty: no trace
    uint64_t traceBytes = 0;
    uint32_t readAheadMs = 0;
    uint32_t readAheadGap = 8;
};
void PrintTo(const KeywordCase& c, std::ostream* out) { *out << TextName(c.line); }

LogLine Offline(unsigned seconds) {
    return {kI, "JYNMB> ReadInitFile() OFFLINE " + std::to_string(seconds) + " s"};
}
LogLine IllegalOffline(unsigned line) {
    return {kE, "JYNMB> ReadInitFile() illegal OFFLINE on line " + std::to_string(line) +
                    " in 'JYNMB01.INT'"};
}
LogLine IllegalTrace(unsigned line) {
    return {kE, "JYNMB> ReadInitFile() illegal TRACE on line " + std::to_string(line) +
                    " in 'JYNMB01.INT'"};
}
LogLine ReadAhead(unsigned ms, unsigned gap) {
    return {kI, "JYNMB> ReadInitFile() READAHEAD " + std::to_string(ms) + " ms, gap " +
                    std::to_string(gap)};
}
LogLine IllegalReadAhead(unsigned line) {
    return {kE, "JYNMB> ReadInitFile() illegal READAHEAD on line " + std::to_string(line) +
                    " in 'JYNMB01.INT'"};
}
constexpr uint64_t kMiB = 1 << 20;

const KeywordCase kKeywordCases[] = {
    {"OFFLINE = 30\n", {Offline(30)}, 30},
    {"offline=5\r\n", {Offline(5)}, 5},
    {"  Offline\t=  86400  \n", {Offline(86400)}, 86400},
    {"OFFLINE = 0\n", {Offline(0)}, 0},
    {"OFFLINE = 86401\n", {IllegalOffline(1)}, 0},
    {"OFFLINE = -1\n", {IllegalOffline(1)}, 0},
    {"OFFLINE = 30s\n", {IllegalOffline(1)}, 0},
    {"OFFLINE =\n", {IllegalOffline(1)}, 0},
    {"OFFLINE 30\n", {IllegalLine(1)}, 0},
    {"OFFLINES = 30\n", {IllegalLine(1)}, 0},
    // The path as written, not upper-cased; the size in MiB, or KiB with K.
    {"TRACE = JYNMB01.TRC\n", {}, 0, "JYNMB01.TRC", 10 * kMiB},
    {"trace=C:\\logs\\Line1.trc, 20\r\n", {}, 0, "C:\\logs\\Line1.trc", 20 * kMiB},
    {"Trace = /var/log/plc line.trc ,512K\n", {}, 0, "/var/log/plc line.trc", 512 * 1024},
    {"TRACE = a.trc, 0\n", {IllegalTrace(1)}, 0},
    {"TRACE = a.trc, 20M\n", {IllegalTrace(1)}, 0},
    {"TRACE = a.trc, 2048\n", {IllegalTrace(1)}, 0},
    {"TRACE = , 20\n", {IllegalTrace(1)}, 0},
    {"TRACE =\n", {IllegalTrace(1)}, 0},
    // The age in ms, 1 to a minute; the gap in device points, 8 unless given.
    {"READAHEAD = 500\n", {ReadAhead(500, 8)}, 0, {}, 0, 500, 8},
    {"readahead=60000, 0\r\n", {ReadAhead(60000, 0)}, 0, {}, 0, 60000, 0},
    {"ReadAhead = 1 , 256\n", {ReadAhead(1, 256)}, 0, {}, 0, 1, 256},
    {"READAHEAD = 0\n", {IllegalReadAhead(1)}, 0},
    {"READAHEAD = 60001\n", {IllegalReadAhead(1)}, 0},
    {"READAHEAD = 500, 257\n", {IllegalReadAhead(1)}, 0},
    {"READAHEAD = 500,\n", {IllegalReadAhead(1)}, 0},
    {"READAHEAD = 500 ms\n", {IllegalReadAhead(1)}, 0},
    {"READAHEAD =\n", {IllegalReadAhead(1)}, 0},
};

class StationFileKeywords : public ::testing::TestWithParam<KeywordCase> {};
TEST_P(StationFileKeywords, ReadInitFile) {
    const KeywordCase& c = GetParam();
    const StationFileOptions options = RunReadInitFile({{"JYNMB01.INT", c.line}}, 1, c.log, {});
    EXPECT_EQ(options.offlineSeconds, c.offlineSeconds);
    EXPECT_EQ(options.traced, !c.tracePath.empty());
    EXPECT_EQ(options.trace.path, c.tracePath);
    if (options.traced) {
        EXPECT_EQ(options.trace.limitBytes, c.traceBytes);
    }
    EXPECT_EQ(options.readAhead.ageMs, c.readAheadMs);
    EXPECT_EQ(options.readAhead.gap, c.readAheadGap);
}
INSTANTIATE_TEST_SUITE_P(Keywords, StationFileKeywords, ::testing::ValuesIn(kKeywordCases));

TEST(StationFile, LaterLinesOverrideEarlierOnesAndEveryLineIsCounted) {
    const std::string file =
        "* plant line 2\n"
        "\n"
        "01 = 02, 03, ANACPU\n"
        "01 = 04, 05\n"
        "02 = 03\n"
        "03 = 04, 05, ACPU\n";
    RunReadInitFile({{"JYNMB01.INT", file}}, 1,
                    {Station("01", "02", "03"), Station("01", "04", "05"), IllegalLine(5),
                     Station("03", "04", "05")},
                    {{1, {4, 5, kCpuA}}, {3, {4, 5, kCpuA}}});
}

// A line longer than the 255 characters of one read is handled in pieces,
// and each piece counts as a line of its own.
TEST(StationFile, A600CharacterLineIsThreePieces) {
    const std::string file = "*" + std::string(599, 'x') + "\n" + "02 = 03, 04, ZCPU\n";
    RunReadInitFile({{"JYNMB01.INT", file}}, 1,
                    {IllegalLine(2), IllegalLine(3), IllegalCpu(4), Station("02", "03", "04")},
                    {{2, {3, 4, kCpuA}}});
}

TEST(StationFile, A255CharacterLineLeavesItsLineEndAsAnEmptyPiece) {
    const std::string file = "*" + std::string(254, 'x') + "\n" + "01 = 02\n";
    RunReadInitFile({{"JYNMB01.INT", file}}, 1, {IllegalLine(3)}, {});
}

// A file longer than any line number the messages can show is still read
// to its end: the station lines after the 65536th line take effect.
TEST(StationFile, LinesPastTheLineNumbersStillCount) {
    const std::string file = std::string(70000, '\n') + "01 = 21, 03, ANACPU\n";
    RunReadInitFile({{"JYNMB1.INT", file}}, 1, {Station("01", "21", "03")},
                    {{1, {0x21, 3, kCpuAn}}});
}

// ColdStart reads the file after the defaults are in place.
TEST(StationFile, ColdStartReadsIt) {
    InDirectory dir;
    dir.Write("JYNMB07.INT", "07 = 21, 03, ANACPU\n");
    DriverContext context{};
    ColdStartParams params{};
    std::snprintf(params.portName, kPortNameSize, "NUL");
    params.openNow = 0;
    params.replyTimeout = 10;
    params.baudRate = 9600;
    params.dataBits = 8;
    CallBlock block{&context, kColdStart, 7, 0, &params};
    LogRecorder log;
    const int32_t result = JynMain(&block);
    ReleaseLine(context);
    ASSERT_EQ(result, kOk) << log.Dump();
    EXPECT_TRUE(log.Has(kI, "JYNMB> ReadIntFile() 07h= station 21h, PC 03h")) << log.Dump();
    EXPECT_FALSE(log.Has(kI, kNoFile)) << log.Dump();
    ExpectTable(context, {{7, {0x21, 3, kCpuAn}}});
}

}  // namespace
}  // namespace jyn::testing
