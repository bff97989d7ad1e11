// TRACE = path in the station file: the frames, the bytes thrown away and one
// line per transaction, in a file that turns over at its size.
#include "interface/trace.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#endif
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/case_name.h"
#include "tests/support/fake_device.h"
#include "tests/support/frames.h"
#include "tests/support/in_directory.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

namespace fs = std::filesystem;

// Each test runs in a directory of its own (ctest runs them side by side).
constexpr uint32_t kInstance = 1717;
const char kStationFile[] = "JYNMB1717.INT";
const char kTraceFile[] = "trace1717.trc";

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A record without its time stamp, after checking the stamp's form.
std::string Unstamped(const std::string& line) {
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z )");
    if (!std::regex_search(line, stamp)) return "no time stamp: " + line;
    return line.substr(28);
}

class Traced : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFake();
        Fake().onWrite = [this](FakeDevice& line, const Bytes& written) {
            if (written.empty() || written[0] != '\x05' || replies.empty()) return;
            if (!replies.front().empty()) line.Arrive(replies.front(), 5);
            replies.pop_front();
        };
    }
    int32_t Start(Instance& host, const std::string& stationFile, const char* port = "COM1") {
        std::ofstream(kStationFile) << stationFile;
        ColdStartParams params = MakeColdStart(port, true, 10);
        return host.Call(kColdStart, &params, kInstance);
    }
    // Enough reads to turn a 1K trace over twice.
    void ReadMany(Instance& host) {
        for (int i = 0; i < 40; ++i) {
            replies = {DataReply("01FF1234")};
            ASSERT_EQ(Read(host), kOk) << log.Dump();
        }
    }
    int32_t Read(Instance& host) {
        request = GateRequest{};
        request.addressText = "01WD100";
        request.gateAddress = {1, 'D', 100, -1, 16};
        request.count = 1;
        request.data = value;
        return host.Call(kSingleRead, &request);
    }

    InDirectory directory;
    LogRecorder log;
    GateRequest request{};
    unsigned char value[8] = {};
    std::deque<std::string> replies;
};

TEST_F(Traced, FramesDrainsAndTransactionsOneLineEach) {
    Instance host;
    ASSERT_EQ(Start(host, "TRACE = trace1717.trc\n"), kOk) << log.Dump();
    Fake().Arrive("zz");  // stale input, thrown away by the first purge
    replies = {Nak("01FF", "02"), DataReply("01FF1234")};
    ASSERT_EQ(Read(host), kOk);
    host.Call(kCloseCom);

    const std::vector<std::string> lines = Lines(kTraceFile);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "# JYNMB " JYN_VERSION
                        " trace, instance 1717, port COM1: 9600 baud, 8 data bits, "
                        "no parity, 1 stop bit; reply time-out 100 ms");
    std::vector<std::string> records;
    for (std::size_t i = 1; i < lines.size(); ++i) records.push_back(Unstamped(lines[i]));
    const std::string sent = "<ENQ>01FFWR0D0100012C";
    const std::vector<std::string> expected = {
        "PORT COM1 opened", "DRAIN purge 2 zz", "TX " + sent,
        "RX <NAK>01FF02",   "TX " + sent,       "RX <STX>01FF1234<ETX>" + SumCheck("01FF1234\x03"),
        "TX <ACK>01FF",
    };
    ASSERT_GE(records.size(), expected.size() + 2) << ::testing::PrintToString(records);
    EXPECT_EQ(std::vector<std::string>(records.begin(), records.begin() + 7), expected);
    EXPECT_TRUE(std::regex_match(
        records[7], std::regex(R"(TXN st 01 pc FF SingleRead '01WD100' attempts 2 result 0 ms )"
                               R"(\d+\.\d timeouts 0 naks 02 settles 0 out 39 in 19)")))
        << records[7];
    EXPECT_EQ(records[8], "PORT closed");
}

// The path holds from the start: a host that changes its directory later
// still turns the same file over.
TEST_F(Traced, TurnsOverAtItsSizeIntoOneOlderFile) {
    Instance host;
    ASSERT_EQ(Start(host, "TRACE = trace1717.trc, 1K\n"), kOk);
    fs::create_directory("elsewhere");
    fs::current_path("elsewhere");
    ReadMany(host);
    EXPECT_TRUE(fs::is_empty(".")) << "the trace followed the host's directory";
    fs::current_path("..");
    ASSERT_TRUE(fs::exists("trace1717.trc.1"));
    EXPECT_FALSE(fs::exists("trace1717.trc.2"));
    for (const char* name : {kTraceFile, "trace1717.trc.1"}) {
        EXPECT_LE(fs::file_size(name), 1024u) << name;
        EXPECT_EQ(Lines(name).front().rfind("# JYNMB ", 0), 0u) << name;
    }
}

// A trace the driver cannot write costs the instance its trace and nothing
// else: one message, and the values as without it.
TEST_F(Traced, OneMessageWhenTheFileCannotBeWritten) {
    struct Case {
        const char* what;
        const char* file;
        std::string message;
    };
    const Case cases[] = {
        {"no such folder", "TRACE = no-such-folder/x.trc\n",
         "JYNMB> ColdStart() trace 'no-such-folder/x.trc' cannot be opened, no trace"},
        {"written by another instance", "TRACE = trace1717.trc\n",
         "JYNMB> ColdStart() trace 'trace1717.trc' is written by another instance, no trace"},
        {"the same file by another name", "TRACE = ./trace1717.trc\n",
         "JYNMB> ColdStart() trace './trace1717.trc' is written by another instance, no trace"},
    };
    Instance first;
    ASSERT_EQ(Start(first, "TRACE = trace1717.trc\n"), kOk);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Instance host;
        log.Clear();
        ASSERT_EQ(Start(host, c.file, "COM2"), kOk);
        std::size_t errors = 0;
        for (const LogLine& line : log.Lines()) errors += line.level == kLevelError ? 1 : 0;
        EXPECT_TRUE(log.Has(kLevelError, c.message)) << log.Dump();
        EXPECT_EQ(errors, 2u) << log.Dump();  // and "port COM1 opened", at that level
        replies = {DataReply("01FF4321")};
        EXPECT_EQ(Read(host), kOk);
        EXPECT_EQ(value[2] | value[3] << 8, 0x4321);
        host.Call(kCloseCom);
    }
}

// Each header says the reply time-out the port runs: at least 1 ms, and no
// wrap-around for a time-out longer than 32 bits of milliseconds.
TEST_F(Traced, TheHeaderShowsTheTimeOutThePortRuns) {
    Instance host;
    std::ofstream(kStationFile) << "TRACE = trace1717.trc\n";
    ColdStartParams start = MakeColdStart("COM1", true, 0);
    ASSERT_EQ(host.Call(kColdStart, &start, kInstance), kOk) << log.Dump();
    PortChangeParams change{};
    SetName(change.portName, "COM2");
    change.replyTimeout = 0x7FFFFFFF;
    ASSERT_EQ(host.Call(kChangeJynParams, &change), kOk);
    host.Call(kCloseCom);
    std::vector<std::string> timeouts;
    for (const std::string& line : Lines(kTraceFile)) {
        if (line.rfind("# ", 0) == 0) timeouts.push_back(line.substr(line.rfind("; ") + 2));
    }
    EXPECT_EQ(timeouts,
              (std::vector<std::string>{"reply time-out 1 ms", "reply time-out 4294967294 ms"}));
}

std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Entry {
    bool exists;
    fs::file_type type;
    std::string content;  // of a regular file
    bool operator==(const Entry& other) const {
        return exists == other.exists && type == other.type && content == other.content;
    }
};

Entry Look(const std::string& path) {
    std::error_code failed;
    const fs::file_status status = fs::symlink_status(path, failed);
    const bool regular = fs::is_regular_file(status);
    return {fs::exists(status), status.type(), regular ? Content(path) : ""};
}

struct NoTraceCase {
    const char* what;
    std::string path;
    std::function<void()> make;
};

#ifdef _WIN32
// Windows opens a device by its bare name, in any folder, with any
// extension.
std::vector<NoTraceCase> DeviceCases(int&) {
    return {{"the null device", "NUL", [] {}},
            {"the null device with an extension", "nul.trc", [] {}},
            {"a COM port", "COM1", [] {}},
            {"the console in a folder", "folder2\\con.log", [] {}}};
}
#else
// The memory devices (major 1) /dev/null (3) and /dev/full (7), made here;
// a regular file of the same name where mknod is not allowed (not root),
// which the driver refuses as well, as a file that is no trace.
void MakeDevice(const char* name, unsigned minor) {
    if (mknod(name, S_IFCHR | 0666, makedev(1, minor)) != 0) std::ofstream(name) << "not root\n";
}

std::vector<NoTraceCase> DeviceCases(int& reader) {
    return {
        // Device nodes of the test's own: a driver that failed here would
        // rename them, which the system's /dev/null must never risk.
        {"a device", "null", [] { MakeDevice("null", 3); }},
        {"a full device", "full", [] { MakeDevice("full", 7); }},
        {"a FIFO without a reader", "pipe", [] { ASSERT_EQ(mkfifo("pipe", 0600), 0); }},
        {"a FIFO whose reader leaves", "piped",
         [&reader] {
             ASSERT_EQ(mkfifo("piped", 0600), 0);
             reader = open("piped", O_RDONLY | O_NONBLOCK);
             ASSERT_GE(reader, 0);
         }},
    };
}
#endif

// What a trace path may name by mistake: each is refused at ColdStart with
// the one message and is, like the file beside it that a turn-over would
// take, as it was after enough reads to turn a trace over twice. None may
// hold up the start (a FIFO without a reader) or kill the host (a FIFO whose
// reader leaves).
TEST_F(Traced, WhatIsNoTraceIsRefusedAndLeftAsItWas) {
    int reader = -1;
    std::vector<NoTraceCase> cases = {
        {"a user's file", "recipe.csv",
         [] {
             std::ofstream("recipe.csv") << "a;b\n";
             std::ofstream("recipe.csv.1") << "c;d\n";
         }},
        {"a file that only looks like a trace", "look.trc",
         [] { std::ofstream("look.trc") << "# JYNMB notes\n"; }},
        {"a directory", "folder", [] { fs::create_directory("folder"); }},
    };
    for (NoTraceCase& c : DeviceCases(reader)) cases.push_back(std::move(c));
    for (const NoTraceCase& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        const Entry before = Look(c.path), olderBefore = Look(c.path + ".1");
        Instance host;
        log.Clear();
        ASSERT_EQ(Start(host, "TRACE = " + c.path + ", 1K\n"), kOk);
        EXPECT_TRUE(log.Has(kLevelError,
                            "JYNMB> ColdStart() trace '" + c.path + "' cannot be opened, no trace"))
            << log.Dump();
#ifndef _WIN32
        if (reader >= 0) close(reader);
#endif
        reader = -1;
        ReadMany(host);
        host.Call(kCloseCom);
        EXPECT_EQ(Look(c.path), before);
        EXPECT_EQ(Look(c.path + ".1"), olderBefore);
    }
}

struct EndCase {
    const char* what;
    std::function<void()> before;
    const char* why;  // $ for the trace's path
};

#ifdef _WIN32
std::vector<EndCase> FullFileCases() { return {}; }
void LiftFileLimit() {}
#else
rlimit g_fileLimit{};

// A file limit of 2000 bytes: the writes beyond it fail (EFBIG) as on a full
// disk, with the signal that would end the process ignored.
std::vector<EndCase> FullFileCases() {
    return {{"a file that may grow no more",
             [] {
                 ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &g_fileLimit), 0);
                 std::signal(SIGXFSZ, SIG_IGN);
                 const rlimit small{2000, g_fileLimit.rlim_max};
                 ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
             },
             "File too large"}};
}

void LiftFileLimit() {
    if (g_fileLimit.rlim_max != 0) {
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &g_fileLimit), 0);
    }
}
#endif

// A trace that cannot go on (the file may grow no more, or the older file
// is the user's) ends with one message naming the file and why; what it
// wrote stays, and the values come as without it.
TEST_F(Traced, ATraceThatCannotGoOnEndsWithOneMessage) {
    std::vector<EndCase> cases = FullFileCases();
    cases.push_back({"a user's file where the older part goes",
                     [] { std::ofstream("trace1717.trc.1", std::ios::binary) << "mine\n"; },
                     "cannot turn over into '$.1': not a trace"});
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove("trace1717.trc");
        c.before();
        {
            Instance host;
            log.Clear();
            ASSERT_EQ(Start(host, "TRACE = trace1717.trc, 4K\n"), kOk);
            ReadMany(host);
            host.Call(kCloseCom);
        }
        LiftFileLimit();
        const std::string path = (fs::current_path() / kTraceFile).string();
        std::string why = c.why;
        if (why.find('$') != std::string::npos) why.replace(why.find('$'), 1, path);
        EXPECT_EQ(log.Count("JYNMB> trace '" + path + "' ended: " + why), 1u) << log.Dump();
        EXPECT_EQ(Lines(kTraceFile).front().rfind("# JYNMB ", 0), 0u) << "its history kept";
    }
    EXPECT_EQ(Content("trace1717.trc.1"), "mine\n");
}

struct TimeCase {
    TraceStamp stamp;
    const char* text;
};

TEST(TraceText, TimesAndBytesAsAPersonReadsThem) {
    const TimeCase times[] = {
        {0, "1970-01-01T00:00:00.000000Z"},
        {951782400123456, "2000-02-29T00:00:00.123456Z"},
        {1796815320000001, "2026-12-09T11:22:00.000001Z"},
        {-1, "1969-12-31T23:59:59.999999Z"},
    };
    for (const TimeCase& t : times) EXPECT_EQ(TraceTime(t.stamp), t.text) << t.stamp;
    const unsigned char bytes[] = {0x05, '0', 0x02, '<', 0x7F, 0x80, 0x0C, 0x15, 0x03, 0x06, 0x00};
    EXPECT_EQ(TraceText(bytes, sizeof bytes), "<ENQ>0<STX><3C><7F><80><CL><NAK><ETX><ACK><NUL>");
}

// What the driver writes, jynmb trace reads: every kind written by its own
// writer and read back as the same record, and lines whose kind's fields
// are spoilt read as no record of that kind.
struct RoundTripCase {
    RecordKind kind;
    std::string text;
    std::string fields;  // what the reader makes of the text
};

std::string Fields(const TraceRecord& r) {
    if (r.kind == RecordKind::kTxn) {
        const TxnFields& t = r.txn;
        return std::string(t.station) + "|" + std::string(t.pc) + "|" + std::string(t.service) +
               "|" + std::string(t.gate) + "|" + std::to_string(t.attempts) + "|" +
               std::to_string(t.result) + "|" + std::to_string(t.tenthsMs) + "|" +
               std::to_string(t.timeouts) + "|" + std::string(t.naks) + "|" +
               std::to_string(t.settles) + "|" + std::to_string(t.bytesOut) + "|" +
               std::to_string(t.bytesIn) + "|" + std::string(t.note);
    }
    if (r.kind == RecordKind::kLate || r.kind == RecordKind::kDebt) {
        return std::string(r.figure.station) + "|" + std::string(r.figure.pc) + "|" +
               std::to_string(r.figure.value);
    }
    return r.request ? "request" : "";
}

TEST(TraceRecord, EachKindReadsBackAsWritten) {
    const unsigned char enq[] = {0x05, '0', '1', 'F', 'F', 'W', 'R', 0x3C, 0x80};
    const unsigned char ack[] = {0x06, '0', '1', 'F', 'F'};
    // clang-format off
    const TxnFields full{"0A", "FF", "BlockWrite", "01'WD1 x", 10, 2, 12345, 3, "02,??", 4, 420, 17,
                         "readahead served 01WD0 64 age 5"};
    const TxnFields bare{"01", "fe", "SingleRead", "", 0, 0, 0, 0, "", 0, 0, 0, ""};
    const TxnFields broken{"01", "FF", "SingleRead", "01WD20\r\n0<", 1, 0, 5, 0, "", 0, 0, 0, ""};
    // clang-format on
    const RoundTripCase cases[] = {
        {RecordKind::kTx, TraceText(enq, sizeof enq), "request"},
        {RecordKind::kTx, TraceText(ack, sizeof ack), ""},
        {RecordKind::kRx, RxText(ack, sizeof ack, "cut short"), ""},
        {RecordKind::kTimeout, TimeoutText(100), ""},
        {RecordKind::kDrain, DrainText("purge", enq, sizeof enq), ""},
        {RecordKind::kPort, "COM1 opened", ""},
        {RecordKind::kTxn, TxnText(full),
         "0A|FF|BlockWrite|01'WD1 x|10|2|12345|3|02,??|4|420|17|readahead served 01WD0 64 age 5"},
        {RecordKind::kTxn, TxnText(bare), "01|fe|SingleRead||0|0|0|0||0|0|0|"},
        {RecordKind::kTxn, TxnText(broken), "01|FF|SingleRead|01WD20<CR><LF>0<3C>|1|0|5|0||0|0|0|"},
        {RecordKind::kLate, LateText({"01", "FF", 412}), "01|FF|412"},
        {RecordKind::kDebt, DebtText({"01", "FF", 3}), "01|FF|3"},
        {RecordKind::kForeign, std::string(NoticeText(RecordKind::kForeign)), ""},
        {RecordKind::kOld, std::string(NoticeText(RecordKind::kOld)), ""},
        {RecordKind::kResync, std::string(NoticeText(RecordKind::kResync)), ""},
    };
    const TraceStamp stamps[] = {951782400123456, -1};
    for (const RoundTripCase& c : cases) {
        for (const TraceStamp stamp : stamps) {
            std::string line;
            AppendTraceLine(line, stamp, c.kind, c.text);
            SCOPED_TRACE(line);
            ASSERT_EQ(line.back(), '\n');
            line.pop_back();
            TraceRecord record;
            ASSERT_EQ(ReadTraceLine(line, record), LineRead::kRecord);
            EXPECT_EQ(record.kind, c.kind);
            EXPECT_EQ(record.word, KindWord(c.kind));
            EXPECT_EQ(record.time, stamp);
            EXPECT_EQ(record.text, c.text);
            EXPECT_EQ(Fields(record), c.fields);
        }
    }
}

struct SpoiltCase {
    std::string line;
    LineRead read;
};

TEST(TraceRecord, SpoiltLinesAreNoRecordOfTheirKind) {
    const std::string stamp = "2026-12-09T12:00:01.000000Z ";
    const SpoiltCase cases[] = {
        {stamp + "LATE st 01 pc FF -5 ms", LineRead::kBadFields},
        {stamp + "LATE st 01 pc FF 412 ms later", LineRead::kBadFields},
        {stamp + "LATE st 01 pc FF 412 us", LineRead::kBadFields},
        {stamp + "LATE st 1 pc FF 412 ms", LineRead::kBadFields},
        {stamp + "DEBT st 01 pc FF owes", LineRead::kBadFields},
        {stamp + "TXN st 01 pc FF SingleRead '01WD1' attempts 1 result 0 ms -3.-4 timeouts 0 "
                 "naks - settles 0 out 1 in 1",
         LineRead::kBadFields},
        {stamp + "TXN st 01 pc FF SingleRead '01WD1' attempts 1 result 0 ms "
                 "999999999999999999.9 timeouts 0 naks - settles 0 out 1 in 1",
         LineRead::kBadFields},
        {stamp + "TXN", LineRead::kBadFields},
        {"# ", LineRead::kHeader},
        {"#", LineRead::kNoStamp},
        {stamp, LineRead::kNoStamp},
        {stamp + " TX", LineRead::kNoKind},
    };
    for (const SpoiltCase& c : cases) {
        TraceRecord record;
        EXPECT_EQ(ReadTraceLine(c.line, record), c.read) << c.line;
    }
}

}  // namespace
}  // namespace jyn::testing
