// The driver's trace read back as jynmb trace reads it: transactions and
// their answer times, statistics per station, what the filters take, the
// picture's points and marks, and any bytes at all in a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "host/jynmb/trace/trace_file.h"
#include "host/jynmb/trace/trace_picture.h"
#include "host/jynmb/trace/trace_report.h"
#include "host/jynmb/trace/trace_stats.h"

namespace {

using jynmb::trace::Micros;
using jynmb::trace::StationStats;
using jynmb::trace::TraceData;
using jynmb::trace::Transaction;

const char kHeader[] =
    "# JYNMB 1.0.0 trace, instance 1, port COM1: 9600 baud, 8 data bits, no parity, 1 stop "
    "bit; reply time-out 100 ms\n";

// Five transactions: a read retried after NAK 02h, a station that never
// answers, a write settled after another station's ACK, a gate text with a
// quote and a garbled NAK, and a gate of a resting station.
const char kSample[] =
    "2026-12-09T12:00:00.000000Z PORT COM1 opened\n"
    "2026-12-09T12:00:01.000000Z DRAIN purge 2 zz\n"
    "2026-12-09T12:00:01.001000Z TX <ENQ>01FFWR0D0100012C\n"
    "2026-12-09T12:00:01.004000Z RX <NAK>01FF02\n"
    "2026-12-09T12:00:01.005000Z TX <ENQ>01FFWR0D0100012C\n"
    "2026-12-09T12:00:01.008500Z RX <STX>01FF1234<ETX>BA\n"
    "2026-12-09T12:00:01.009000Z TX <ACK>01FF\n"
    "2026-12-09T12:00:01.009100Z TXN st 01 pc FF SingleRead '01WD100' attempts 2 result 0 ms "
    "9.1 timeouts 0 naks 02 settles 0 out 39 in 19\n"
    "2026-12-09T12:00:02.000000Z TX <ENQ>02FFWR0D0001012D\n"
    "2026-12-09T12:00:02.100000Z TIMEOUT 100 ms\n"
    "2026-12-09T12:00:02.100100Z TX <ENQ>02FFWR0D0001012D\n"
    "2026-12-09T12:00:02.200100Z TIMEOUT 100 ms\n"
    "2026-12-09T12:00:02.200200Z TXN st 02 pc FF SingleRead '02WD1' attempts 2 result 2 ms "
    "200.2 timeouts 2 naks - settles 0 out 34 in 0\n"
    "2026-12-09T12:00:03.000000Z TX <ENQ>01FFWW0D0100011234FB\n"
    "2026-12-09T12:00:03.010000Z RX <ACK>01FE\n"
    "2026-12-09T12:00:03.110000Z SETTLE full 100 ms 0 bytes\n"
    "2026-12-09T12:00:03.110100Z TX <ENQ>01FFWW0D0100011234FB\n"
    "2026-12-09T12:00:03.115100Z RX <ACK>01FF\n"
    "2026-12-09T12:00:03.115200Z TXN st 01 pc FF SingleWrite '01WD100' attempts 2 result 0 ms "
    "115.2 timeouts 0 naks - settles 1 out 42 in 10\n"
    "2026-12-09T12:00:03.997000Z TX <ENQ>01FFWR0D0001012C\n"
    "2026-12-09T12:00:04.000000Z RX <NAK>01FF<1B>x\n"
    "2026-12-09T12:00:04.000100Z TXN st 01 pc FF SingleRead '01'WD1 x' attempts 1 result 1 ms "
    "3.1 timeouts 0 naks ?? settles 0 out 17 in 7\n"
    "2026-12-09T12:00:05.000000Z TXN st 02 pc FF SingleRead '02WD1' attempts 0 result 2 ms 0.0 "
    "timeouts 0 naks - settles 0 out 0 in 0 resting\n";
constexpr std::size_t kSampleTransactions = 5;

TraceData Read(const std::vector<std::string>& files) {
    jynmb::trace::Reader reader;
    for (std::size_t i = 0; i < files.size(); ++i) {
        jynmb::trace::ReadBytes(files[i], "f" + std::to_string(i), reader);
    }
    return reader.Finish();
}

std::vector<const Transaction*> All(const TraceData& data) {
    return jynmb::trace::Select(data, {});
}

// Everything a station's statistics say, as one line to compare.
std::string Describe(const StationStats& s) {
    std::string text = s.station + " " + s.pc + ": txns " + std::to_string(s.transactions) +
                       " good " + std::to_string(s.good) + " failed " + std::to_string(s.failed) +
                       " attempts " + std::to_string(s.attempts) + " timeouts " +
                       std::to_string(s.timeouts) + " settles " + std::to_string(s.settles) +
                       " out " + std::to_string(s.bytesOut) + " in " + std::to_string(s.bytesIn) +
                       " naks";
    for (const auto& [code, count] : s.naks) text += " " + code + "x" + std::to_string(count);
    char answers[96];
    std::snprintf(answers, sizeof answers, " answers %zu p50 %.1f p95 %.1f max %.1f",
                  static_cast<std::size_t>(s.answers.Count()), s.answers.Percentile(0.5),
                  s.answers.Percentile(0.95), s.answers.MaxMs());
    return text + answers;
}

std::vector<std::string> Describe(const TraceData& data) {
    std::vector<std::string> lines;
    for (const StationStats& s : jynmb::trace::Statistics(All(data))) lines.push_back(Describe(s));
    return lines;
}

const std::vector<std::string> kSampleStations = {
    "01 FF: txns 3 good 2 failed 1 attempts 5 timeouts 0 settles 1 out 98 in 36 naks 02x1 ??x1 "
    "answers 5 p50 3.5 p95 10.0 max 10.0",
    "02 FF: txns 2 good 0 failed 2 attempts 2 timeouts 2 settles 0 out 34 in 0 naks answers 0 "
    "p50 0.0 p95 0.0 max 0.0",
};

TEST(TraceFile, TransactionsWithTheirAnswerTimesAndFailedFrames) {
    const TraceData data = Read({std::string(kHeader) + kSample});
    EXPECT_EQ(Describe(data), kSampleStations);
    ASSERT_EQ(data.transactions.size(), kSampleTransactions);
    EXPECT_EQ(data.unreadLines, 0u);
    EXPECT_EQ(data.unfinished, 0u);
    const Transaction& odd = data.transactions[3];
    EXPECT_EQ(odd.gate, "01'WD1 x");
    EXPECT_EQ(odd.records.size(), 2u) << "a failed transaction keeps its frames";
    EXPECT_EQ(odd.where, "f0:23");
    EXPECT_TRUE(data.transactions[0].records.empty()) << "a good one does not";
    EXPECT_EQ(jynmb::trace::FormatStamp(data.transactions[0].start), "2026-12-09T12:00:01.000000Z");
    EXPECT_EQ(data.transactions[4].note, "resting");
    EXPECT_EQ(data.transactions[4].start, data.transactions[4].end);
}

// A trace turns over between any two lines, and the new file begins with
// the header: the two read in order are the same trace. A header later in
// a file is another run, and a transaction it cuts is no transaction.
TEST(TraceFile, APairThatTurnedOverReadsAsOneTrace) {
    const std::string sample = kSample;
    for (std::size_t cut = sample.find('\n') + 1; cut < sample.size();
         cut = sample.find('\n', cut) + 1) {
        SCOPED_TRACE(cut);
        const TraceData data =
            Read({kHeader + sample.substr(0, cut), kHeader + sample.substr(cut)});
        EXPECT_EQ(Describe(data), kSampleStations);
        EXPECT_EQ(data.unfinished, 0u);
    }
    const std::string cutByRun =
        sample.substr(0, sample.rfind('\n', sample.find("TXN")) + 1) + kHeader;
    const TraceData data = Read({cutByRun + sample});
    EXPECT_EQ(data.unfinished, 6u);  // the first transaction's records before its TXN line
    EXPECT_EQ(data.transactions.size(), kSampleTransactions);
}

struct OrderCase {
    std::vector<std::string> given;
    std::vector<std::string> read;
};

TEST(TraceFile, OlderPartFirst) {
    const OrderCase cases[] = {
        {{"x.trc", "x.trc.1"}, {"x.trc.1", "x.trc"}},
        {{"x.trc.1", "x.trc"}, {"x.trc.1", "x.trc"}},
        {{"a.trc", "x.trc", "a.trc.1", "a.trc"}, {"a.trc.1", "a.trc", "x.trc"}},
        {{"x.1"}, {"x.1"}},
        {{"x.trc.1"}, {"x.trc.1"}},
    };
    for (const OrderCase& c : cases) {
        EXPECT_EQ(jynmb::trace::ReadingOrder(c.given), c.read) << ::testing::PrintToString(c.given);
    }
}

struct BrokenCase {
    std::string line;
    bool counted;  // as a line not understood
};

// Lines a copied, cut or mangled file may hold, each put between two
// transactions: none may cost a good transaction or crash the reader.
const BrokenCase kBrokenCases[] = {
    {"", false},
    {"# a header of another kind", false},
    {"garbage", true},
    {"#no blank", true},
    {"2026-12-09T12:00:01.000000Z", true},
    {"2026-12-09T12:00:01.000000Z ", true},
    {"2026-13-09T12:00:01.000000Z TX x", true},
    {"2026-02-29T12:00:01.000000Z TX x", true},
    {"2026-12-09T24:00:01.000000Z TX x", true},
    {"2026-12-09T12:00:01.00000xZ TX x", true},
    {"2026-12-09 12:00:01.000000Z TX x", true},
    {"2026-12-09T12:00:01.000000Z tx lower case", true},
    {"2026-12-09T12:00:01.000000Z TOOLONGAKINDWORDX x", true},
    {"2026-12-09T12:00:01.000000Z TXN st 01", true},
    {"2026-12-09T12:00:01.000000Z TXN st 01 pc FF SingleRead '01WD1' attempts x result 0 ms 1.0 "
     "timeouts 0 naks - settles 0 out 1 in 1",
     true},
    {"2026-12-09T12:00:01.000000Z TXN st 01 pc FF SingleRead '01WD1' attempts "
     "99999999999999999999999 result 0 ms 1.0 timeouts 0 naks - settles 0 out 1 in 1",
     true},
    {"2026-12-09T12:00:01.000000Z TXN st 01 pc FF SingleRead '01WD1 attempts 1 result 0 ms 1.0 "
     "timeouts 0 naks - settles 0 out 1 in 1",
     true},
    {"2026-12-09T12:00:01.000000Z TXN st 01 pc FF  '01WD1' attempts 1 result 0 ms 1.0 timeouts "
     "0 naks - settles 0 out 1 in 1",
     true},
    {"2026-12-09T12:00:01.000000Z TXN st 01 pc FF SingleRead '01WD1' attempts 1 result 0 ms 1 "
     "timeouts 0 naks 2 settles 0 out 1 in 1",
     true},
    {"2026-12-09T12:00:01.000000Z TXN st 01 pc FF SingleRead '01WD1' attempts 1 result 0 ms 1.0 "
     "timeouts 0 naks 02, settles 0 out 1 in 1",
     true},
    {"2026-12-09T12:00:01.000000Z TXN st 0x pc FF SingleRead '01WD1' attempts 1 result 0 ms 1.0 "
     "timeouts 0 naks - settles 0 out 1 in 1",
     true},
    {std::string("\0\x01\xff\x80<ENQ>\r", 10), true},
    {std::string(70000, 'A'), true},
    {"2026-12-09T12:00:01.000000Z TX " + std::string(70000, '0'), true},
};

TEST(TraceFile, BrokenLinesAreCountedAndCostNothingElse) {
    const std::string sample = kSample;
    const std::size_t between = sample.find("TXN");
    const std::size_t at = sample.find('\n', between) + 1;
    for (const BrokenCase& c : kBrokenCases) {
        SCOPED_TRACE(jynmb::trace::Printable(c.line.substr(0, 80)));
        const TraceData data =
            Read({kHeader + sample.substr(0, at) + c.line + "\n" + sample.substr(at)});
        EXPECT_EQ(Describe(data), kSampleStations);
        EXPECT_EQ(data.unreadLines, c.counted ? 1u : 0u);
        if (c.counted) {
            ASSERT_EQ(data.unread.size(), 1u);
            EXPECT_EQ(data.unread[0].where, "f0:10");
        }
    }
}

// Any bytes at all: cut, spliced and flipped copies of the sample.
TEST(TraceFile, AnyBytesGiveAnAnswer) {
    const std::string sample = std::string(kHeader) + kSample;
    std::mt19937 random(17);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = sample;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % bytes.size();
            switch (random() % 3) {
                case 0: bytes[at] = static_cast<char>(random()); break;
                case 1: bytes.erase(at, random() % 40); break;
                default: bytes.insert(at, sample.substr(random() % sample.size(), random() % 60));
            }
            if (bytes.empty()) bytes = "x";
        }
        const TraceData data = Read({bytes});
        const auto lines = static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        EXPECT_TRUE(data.lines == lines || data.lines == lines + 1) << round;
        std::size_t txnLines = 0;
        for (std::size_t p = bytes.find(" TXN "); p != std::string::npos;
             p = bytes.find(" TXN ", p + 1)) {
            ++txnLines;
        }
        EXPECT_LE(data.transactions.size(), txnLines) << round;
        for (const StationStats& s : jynmb::trace::Statistics(All(data))) {
            EXPECT_EQ(s.good + s.failed, s.transactions);
        }
    }
}

struct PercentileCase {
    std::vector<Micros> answers;
    double share;
    double expectedMs;
};

// Exact to the microsecond below 2 ms, within 0.1 % above, the longest
// exact: in the same memory for a million answers as for ten.
TEST(TraceStats, PercentileIsTheNearestRank) {
    std::vector<Micros> hundred, wide;
    for (Micros i = 1; i <= 100; ++i) hundred.push_back(i * 1000);
    for (Micros i = 0; i < 1000000; ++i) wide.push_back(i * 997 % 4000000);
    const PercentileCase cases[] = {
        {{}, 0.5, 0},
        {{7}, 0.95, 0.007},
        {{1000, 2000}, 0.5, 1},
        {{1000, 2000}, 0.95, 2},
        {{1999, 1, 1998}, 0.5, 1.998},
        {hundred, 0.5, 50},
        {hundred, 0.95, 95},
        {hundred, 1.0, 100},
        {{123456789}, 1.0, 123456.789},
        {wide, 0.5, 2000},
        {wide, 0.95, 3800},
    };
    for (const PercentileCase& c : cases) {
        jynmb::trace::Answers answers;
        for (const Micros micros : c.answers) answers.Add(micros);
        EXPECT_NEAR(answers.Percentile(c.share), c.expectedMs, c.expectedMs * 0.001 + 1e-9)
            << c.share << " of " << c.answers.size() << " answers";
    }
}

struct MomentCase {
    const char* text;
    bool ok;
    bool timeOfDay;
    const char* stamp;  // on the sample's first day
};

TEST(TraceStats, MomentsAsAPersonWritesThem) {
    const MomentCase cases[] = {
        {"2026-12-09T12:49:34.057805Z", true, false, "2026-12-09T12:49:34.057805Z"},
        {"2026-12-09 12:49", true, false, "2026-12-09T12:49:00.000000Z"},
        {"2026-12-10", true, false, "2026-12-10T00:00:00.000000Z"},
        {"2028-02-29T00:00:01.5", true, false, "2028-02-29T00:00:01.500000Z"},
        {"12:49", true, true, "2026-12-09T12:49:00.000000Z"},
        {"7:05:09.25", true, true, "2026-12-09T07:05:09.250000Z"},
        {"2026-02-30", false, false, ""},
        {"2026-12-09T", false, false, ""},
        {"2026-12-09T12:49:34.1234567", false, false, ""},
        {"2026-12-09X", false, false, ""},
        {"25:00", false, false, ""},
        {"12:60", false, false, ""},
        {"12", false, false, ""},
        {"12:5", false, false, ""},
        {"", false, false, ""},
    };
    Micros first = 0;
    ASSERT_TRUE(jyn::ReadTraceTime("2026-12-09T23:59:59.999999Z", first));
    for (const MomentCase& c : cases) {
        SCOPED_TRACE(c.text);
        jynmb::trace::Moment moment;
        ASSERT_EQ(jynmb::trace::ParseMoment(c.text, moment), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(moment.timeOfDay, c.timeOfDay);
        EXPECT_EQ(jynmb::trace::FormatStamp(moment.On(first)), c.stamp);
    }
}

struct SelectCase {
    std::vector<const char*> stations;
    const char* since;  // empty: none
    const char* until;
    std::vector<std::string> gates;  // of the transactions taken
};

TEST(TraceStats, SelectionByStationAndTime) {
    const SelectCase cases[] = {
        {{"1"}, "", "", {"01WD100", "01WD100", "01'WD1 x"}},
        {{"02:ff"}, "", "", {"02WD1", "02WD1"}},
        {{"02:FE"}, "", "", {}},
        {{"2", "01:FF"}, "", "", {"01WD100", "02WD1", "01WD100", "01'WD1 x", "02WD1"}},
        {{}, "12:00:02", "", {"02WD1", "01WD100", "01'WD1 x", "02WD1"}},
        {{}, "", "2026-12-09T12:00:03Z", {"01WD100", "02WD1"}},
        {{}, "12:00:03.997", "12:00:05", {"01'WD1 x"}},
        {{"02"}, "2026-12-09 12:00:02.5", "", {"02WD1"}},
    };
    const TraceData data = Read({std::string(kHeader) + kSample});
    for (const SelectCase& c : cases) {
        jynmb::trace::Selection selection;
        for (const char* station : c.stations) {
            selection.stations.emplace_back();
            ASSERT_TRUE(jynmb::trace::ParseStationChoice(station, selection.stations.back()));
        }
        jynmb::trace::Moment moment;
        if (*c.since != '\0' && jynmb::trace::ParseMoment(c.since, moment))
            selection.since = moment;
        if (*c.until != '\0' && jynmb::trace::ParseMoment(c.until, moment))
            selection.until = moment;
        std::vector<std::string> gates;
        for (const Transaction* txn : jynmb::trace::Select(data, selection)) {
            gates.push_back(txn->gate);
        }
        EXPECT_EQ(gates, c.gates) << c.since << " " << c.until;
    }
    for (const char* bad : {"100", "01:", ":FF", "zz", ""}) {
        jynmb::trace::StationChoice choice;
        EXPECT_FALSE(jynmb::trace::ParseStationChoice(bad, choice)) << bad;
    }
}

// Each station's row of the text report is a line of its own, however many
// NAK codes it lists.
TEST(TraceReport, EveryStationRowIsALineOfItsOwn) {
    std::string trace = kHeader;
    for (int code = 0; code < 64; ++code) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "2026-12-09T12:00:00.%06dZ TXN st 01 pc FF SingleRead '01WD1' attempts 1 "
                      "result 1 ms 1.0 timeouts 0 naks %02X settles 0 out 17 in 7\n",
                      code, code);
        trace += line;
    }
    trace +=
        "2026-12-09T12:00:01.000000Z TXN st 02 pc FF SingleRead '02WD1' attempts 1 result 0 ms "
        "1.0 timeouts 0 naks - settles 0 out 17 in 19\n";
    const TraceData data = Read({trace});
    const std::string report = jynmb::trace::TextReport(data, All(data));
    EXPECT_NE(report.find("\n01  FF      64 "), std::string::npos) << report;
    EXPECT_NE(report.find("\n02  FF       1 "), std::string::npos) << report;
    EXPECT_NE(report.find(", 3Fh x1\n"), std::string::npos) << report;
}

// A line with READAHEAD: its block reads and the reads they served, as the
// driver marks them, counted per station; a trace without them shows none.
TEST(TraceReport, ReadAheadBlocksAndTheReadsTheyServed) {
    const std::string trace =
        std::string(kHeader) +
        "2026-12-09T12:00:01.000000Z TXN st 01 pc FF BlockRead '01 D0100+8' attempts 1 result 0 "
        "ms 40.1 timeouts 0 naks - settles 0 out 22 in 40 readahead block\n"
        "2026-12-09T12:00:01.000100Z TXN st 01 pc FF SingleRead '01WD100' attempts 0 result 0 ms "
        "0.0 timeouts 0 naks - settles 0 out 0 in 0 readahead served 01 D0100+8 age 0\n"
        "2026-12-09T12:00:01.000200Z TXN st 01 pc FF SingleRead '01WD101' attempts 0 result 0 ms "
        "0.0 timeouts 0 naks - settles 0 out 0 in 0 readahead served 01 D0100+8 age 1\n";
    const TraceData data = Read({trace});
    const std::string report = jynmb::trace::TextReport(data, All(data));
    EXPECT_NE(report.find("\nread-ahead  st 01 pc FF: 1 blocks served 2 reads, 2.0 a block\n"),
              std::string::npos)
        << report;
    const std::string json = jynmb::trace::JsonReport(data, All(data));
    EXPECT_NE(json.find("\"readAhead\": {\"blocks\": 1, \"served\": 2}"), std::string::npos)
        << json;
    const TraceData plain = Read({std::string(kHeader) + kSample});
    EXPECT_EQ(jynmb::trace::TextReport(plain, All(plain)).find("read-ahead"), std::string::npos);
}

// Answers a station owed to earlier requests, heard while the driver
// resynchronised: counted per station, with the reply time-out that would
// have caught the latest; a station without any gets no line.
TEST(TraceReport, LateAnswersSayWhatTimeOutWouldHaveCaughtThem) {
    std::string trace =
        std::string(kHeader) +
        "2026-12-09T12:00:00.100000Z LATE st 01 pc FF 130 ms\n"
        "2026-12-09T12:00:00.200000Z LATE st 01 pc FF 412 ms\n"
        "2026-12-09T12:00:00.300000Z TXN st 01 pc FF SingleRead '01WD1' attempts 2 result 0 ms "
        "300.0 timeouts 0 naks - settles 1 out 40 in 50\n"
        "2026-12-09T12:00:01.000000Z TXN st 02 pc FF SingleRead '02WD1' attempts 1 result 0 ms "
        "1.0 timeouts 0 naks - settles 0 out 17 in 19\n";
    const TraceData data = Read({trace});
    const std::string report = jynmb::trace::TextReport(data, All(data));
    EXPECT_NE(
        report.find("\n01 FF: 2, p50 130.0 ms, max 412.0 ms; a reply time-out of 43 (x 10 ms) "
                    "would have caught them\n"),
        std::string::npos)
        << report;
    EXPECT_EQ(report.find("\n02 FF: "), std::string::npos) << report;
    const std::string json = jynmb::trace::JsonReport(data, All(data));
    EXPECT_NE(json.find("\"lateMs\": {\"count\": 2, \"p50\": 130."), std::string::npos) << json;
    EXPECT_NE(json.find("\"max\": 412.000, \"catchingTimeout\": 43}"), std::string::npos) << json;
}

// jynmb trace reads a file twice (counting, then printing the failures)
// and holds one transaction at a time: the same report as from memory, also
// when the file grew in between.
TEST(TraceReport, TwoReadingsOfAFileReportWhatOneInMemoryDoes) {
    const std::string path = ::testing::TempDir() + "jynmb-trace-twice.trc";
    const std::string sample = std::string(kHeader) + kSample;
    std::ofstream(path, std::ios::binary) << sample;
    TraceData data;
    jynmb::trace::Tally tally;
    std::string error;
    ASSERT_TRUE(jynmb::trace::ReadFiles({path}, data, error, [&tally](Transaction& txn) {
        tally.Add(txn);
    })) << error;
    EXPECT_TRUE(data.transactions.empty());
    std::ofstream(path, std::ios::binary | std::ios::app) << kSample;
    std::string streamed = jynmb::trace::TextHead(data, tally);
    ASSERT_TRUE(jynmb::trace::ReadAgain(data, error, [&streamed](Transaction& txn) {
        if (txn.result != 0) streamed += jynmb::trace::TextFailed(txn);
    })) << error;
    std::remove(path.c_str());
    jynmb::trace::Reader reader;
    jynmb::trace::ReadBytes(sample, path, reader);
    TraceData memory = reader.Finish();
    memory.files = {path};
    EXPECT_EQ(streamed, jynmb::trace::TextReport(memory, All(memory)));
}

// The elements of one class in the picture: station, PC number, how many
// each stands for, and the text of its title.
struct Mark {
    std::string station;
    std::string pc;
    int count;
    double y;
    std::string title;
};

std::vector<Mark> Marks(const std::string& svg, const std::string& cls) {
    const std::regex element(
        "<(circle|path) class=\"" + cls +
        R"re(" data-st="([^"]*)" data-pc="([^"]*)" data-n="(\d+)"( cx="\d+" cy="(\d+)")?)re"
        R"re([^>]*><title>([^<]*)</title>)re");
    std::vector<Mark> marks;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), element);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        marks.push_back({m[2], m[3], std::stoi(m[4]), m[6].matched ? std::stod(m[6]) : 0, m[7]});
    }
    return marks;
}

int Total(const std::vector<Mark>& marks, const std::string& station) {
    int total = 0;
    for (const Mark& mark : marks) total += mark.station == station ? mark.count : 0;
    return total;
}

TEST(TracePicture, OneRowPerStationWithItsAnswersFailuresAndRetries) {
    const TraceData data = Read({std::string(kHeader) + kSample});
    const std::string svg = jynmb::trace::Picture(All(data));
    ASSERT_EQ(svg.rfind("<?xml", 0), 0u);
    const std::vector<Mark> answers = Marks(svg, "rt");
    const std::vector<Mark> failures = Marks(svg, "fail");
    const std::vector<Mark> retries = Marks(svg, "retry");
    EXPECT_EQ(Total(answers, "01"), 5);
    EXPECT_EQ(Total(answers, "02"), 0);
    EXPECT_EQ(Total(failures, "01"), 1);
    EXPECT_EQ(Total(failures, "02"), 2);
    EXPECT_EQ(Total(retries, "01"), 2);
    EXPECT_EQ(Total(retries, "02"), 0);
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_NE(failures[0].title.find("SingleRead &apos;01&apos;WD1 x&apos; result 1"),
              std::string::npos)
        << failures[0].title;
    // The slowest answer, 10 ms, is the highest point of its row.
    const auto highest = std::min_element(answers.begin(), answers.end(),
                                          [](const Mark& a, const Mark& b) { return a.y < b.y; });
    EXPECT_NE(highest->title.find(" 10.0 ms"), std::string::npos) << highest->title;
    // No transactions: a picture that says so.
    EXPECT_NE(jynmb::trace::Picture({}).find("no transactions"), std::string::npos);
}

// Answers that fall on one spot are drawn once and counted in it.
TEST(TracePicture, AnswersOnOneSpotAreDrawnOnce) {
    std::string trace = kHeader;
    for (int i = 0; i < 50; ++i) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "2026-12-09T12:00:00.%06dZ TX <ENQ>01FFWR0D0100012C\n"
                      "2026-12-09T12:00:00.%06dZ RX <STX>01FF1234<ETX>BA\n"
                      "2026-12-09T12:00:00.%06dZ TXN st 01 pc FF SingleRead '01WD100' attempts 1 "
                      "result 0 ms 3.0 timeouts 0 naks - settles 0 out 22 in 12\n",
                      i * 10, i * 10 + 3, i * 10 + 4);
        trace += line;
    }
    trace +=
        "2026-12-09T12:01:00.000000Z TXN st 01 pc FF SingleRead '01WD100' attempts 0 result "
        "2 ms 0.0 timeouts 0 naks - settles 0 out 0 in 0 resting\n";
    const TraceData data = Read({trace});
    const std::vector<Mark> answers = Marks(jynmb::trace::Picture(All(data)), "rt");
    EXPECT_EQ(answers.size(), 1u);
    EXPECT_EQ(Total(answers, "01"), 50);
}

}  // namespace
