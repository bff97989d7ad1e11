// The driver's trace as an integrator takes one: jynmb read, write and poll
// with --trace against simulated stations, then jynmb trace on the file,
// whose counts must be what the simulator saw on the line.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "sim/pty_server.h"
#include "tests/jynmb/child_process.h"
#include "tests/jynmb/plant.h"

namespace {

using jynmbtest::ChildOptions;
using jynmbtest::ChildRun;
using jynmbtest::Describe;
using jynmbtest::TempDir;

// Answering stations get a reply time-out with time to spare on a loaded
// machine; the station that is not there costs ten short ones.
const std::string kTimeout = "--timeout=50";
const std::string kSilentTimeout = "--timeout=5";
constexpr auto kSlowReply = std::chrono::milliseconds(1200);

ChildRun Jynmb(const std::vector<std::string>& args, const ChildOptions& options = {}) {
    return jynmbtest::RunChild(JYNMB_PATH, args, options);
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class TracedLine : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(line_.Start(error)) << error;
        options_.directory = work_.Path();
        options_.env = {{"TMPDIR", temp_.Path()}};
    }
    // The command with the simulated port and a time-out after its name.
    ChildRun Run(std::vector<std::string> args, const std::string& timeout = kTimeout) {
        args.insert(args.begin() + 1, {"-q", "--port", line_.Port(), timeout});
        return Jynmb(args, options_);
    }
    jynsim::Simulator& Sim() { return line_.Sim(); }

    jynsim::SimulatedLine line_{jynmbtest::TwoCpuPlant()};
    TempDir work_;  // where jynmb is started
    TempDir temp_;  // its temporary directory
    ChildOptions options_;
};

struct TracedCase {
    const char* what;
    const char* stationFile;  // its name and text in the user's directory
    const char* stationText;
    std::vector<std::string> args;  // after the command's name; TRACE for the trace's path
    const char* txn;                // the TXN line's beginning in the trace
};

// The station file the driver would find in the user's directory applies,
// whatever name it has and whatever TRACE line it holds already.
const TracedCase kTracedCases[] = {
    {"read",
     "JYNMB01.INT",
     "02 = 05, FF, AnACPU",
     {"read", "--trace", "TRACE", "02WD1500"},
     "TXN st 05 pc FF SingleRead '02WD1500' attempts 1 result 0 "},
    {"write",
     "JYNMB01.INT",
     "* plant\n02 = 05, FF, AnACPU\n",
     {"write", "--trace", "TRACE", "02WD1500=7"},
     "TXN st 05 pc FF SingleWrite '02WD1500' attempts 1 result 0 "},
    {"poll",
     "JYNMB01.INT",
     "02 = 05, FF, AnACPU\n",
     {"poll", "--trace", "TRACE", "--count", "1", "GATES"},
     "TXN st 05 pc FF BlockRead '02WD1500' attempts 1 result 0 "},
    {"the shared file of instance 3",
     "JYNMB.INT",
     "03 = 05, FF, AnACPU\n",
     {"read", "--instance", "3", "--trace", "TRACE", "03WD1500"},
     "TXN st 05 pc FF SingleRead '03WD1500' attempts 1 result 0 "},
    {"a TRACE line of its own",
     "JYNMB01.INT",
     "TRACE = other.trc\n02 = 05, FF, AnACPU\n",
     {"read", "--trace", "TRACE", "02WD1500"},
     "TXN st 05 pc FF SingleRead '02WD1500' attempts 1 result 0 "},
};

TEST_F(TracedLine, TracesWithTheUsersStationFileAndLeavesItAsItWas) {
    for (const TracedCase& c : kTracedCases) {
        SCOPED_TRACE(c.what);
        TempDir user;
        user.Write(c.stationFile, c.stationText);
        user.Write("plant.gates", "02WD1500*2\n");
        options_.directory = user.Path();
        std::vector<std::string> args;
        for (const std::string& arg : c.args) {
            // Relative: the directory jynmb was started in.
            args.push_back(arg == "TRACE" ? "line.trc" : arg == "GATES" ? "plant.gates" : arg);
        }
        const ChildRun run = Run(args);
        EXPECT_EQ(run.exitCode, 0) << Describe(run);
        const std::string trace = FileText(user.Path() + "/line.trc");
        EXPECT_EQ(trace.rfind("# JYNMB ", 0), 0u) << trace;
        EXPECT_NE(trace.find(c.txn), std::string::npos) << trace;
        EXPECT_EQ(FileText(user.Path() + "/" + c.stationFile), c.stationText);
        std::vector<std::string> entries = user.Entries();
        std::sort(entries.begin(), entries.end());
        std::vector<std::string> expected = {c.stationFile, "line.trc", "plant.gates"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(entries, expected);
        EXPECT_TRUE(temp_.Entries().empty()) << "the private directory is removed";
    }
}

// poll --trace on a line with READAHEAD counts what the blocks served in its
// own run: the driver appends to a trace that holds earlier runs.
TEST_F(TracedLine, PollCountsTheReadAheadOfItsOwnRunOnly) {
    TempDir user;
    user.Write("JYNMB01.INT", "02 = 05, FF, AnACPU\nREADAHEAD = 60000\n");
    user.Write("plant.gates", "02WD1500\n02WD1501\n02WD1502\n");
    options_.directory = user.Path();
    std::string first;
    for (int run = 0; run < 2; ++run) {
        const ChildRun poll =
            Run({"poll", "--trace", "line.trc", "--count", "3", "--interval", "10", "plant.gates"});
        ASSERT_EQ(poll.exitCode, 0) << Describe(poll);
        const std::size_t at = poll.out.find("read-ahead  st 05 pc FF:");
        ASSERT_NE(at, std::string::npos) << poll.out;
        const std::string count = poll.out.substr(at, poll.out.find('\n', at) - at);
        if (run == 0) first = count;
        EXPECT_EQ(count, first) << "the second run counts only its own reads";
    }
}

// A trace path that is no trace is refused before the line is touched, and
// left as it was; a FIFO neither holds jynmb up nor kills it. A trace the
// driver had to end (the file could grow no more) fails the run.
TEST_F(TracedLine, WhatIsNoTraceIsRefusedAndAFailedTraceFailsTheRun) {
    struct Case {
        const char* what;
        std::string path;
        const char* make;  // a shell command run in the user's directory first
    };
    const Case cases[] = {
        {"a user's file", "recipe.csv", "echo 'a;b' >recipe.csv"},
        {"a directory", "folder", "mkdir folder"},
        {"a FIFO", "pipe", "mkfifo pipe"},
        {"a device", "/dev/null", ":"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir user;
        user.Write("JYNMB01.INT", "02 = 05, FF, AnACPU\n");
        options_.directory = user.Path();
        ASSERT_EQ(jynmbtest::RunChild("/bin/sh", {"-c", c.make}, options_).exitCode, 0);
        const std::string before = FileText(user.Path() + "/recipe.csv");
        const ChildRun run = Run({"read", "--trace", c.path, "02WD1500"});
        EXPECT_EQ(run.exitCode, 2) << Describe(run);
        EXPECT_NE(run.err.find("cannot write the trace"), std::string::npos) << run.err;
        EXPECT_EQ(FileText(user.Path() + "/recipe.csv"), before);
        EXPECT_EQ(Sim().Records().size(), 0u) << "the line was not touched";
    }
    // A file limit of 512 bytes: the header and a transaction or two.
    options_.directory = work_.Path();
    const ChildRun limited =
        jynmbtest::RunChild("/bin/sh",
                            {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", JYNMB_PATH,
                             "read", "-q", "--port", line_.Port(), kTimeout, "--trace", "line.trc",
                             "01WD100", "01WD101", "01WD102", "01WD103", "01WD104"},
                            options_);
    EXPECT_EQ(limited.exitCode, 2) << Describe(limited);
    EXPECT_NE(limited.err.find("the trace " + work_.Path() + "/line.trc ended early"),
              std::string::npos)
        << limited.err;
}

// jynmb explain, run where the plant's station file is, simulates the gate's
// transaction: its frames must not go into the plant's trace.
TEST(Explain, LeavesThePlantsTraceAlone) {
    TempDir plant;
    plant.Write("JYNMB01.INT", "01 = 01, FF\nTRACE = plant.trc, 1K\n");
    plant.Write("plant.trc", "");
    ChildOptions options;
    options.directory = plant.Path();
    const ChildRun run = Jynmb({"explain", "01WD100"}, options);
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(FileText(plant.Path() + "/plant.trc"), "");
}

// jynmb trace reads regular files only: a FIFO without a writer, a device
// that never ends and a folder are refused at once. The picture never takes
// the place of a trace: one of those read, or one left out of the list.
TEST(JynmbTrace, ReadsTracesOnlyAndNeverDrawsOverOne) {
    TempDir dir;
    const std::string trace =
        "# JYNMB 1.0.0 trace, instance 1, port COM1: 9600 baud, 8 data bits, no parity, 1 stop "
        "bit; reply time-out 100 ms\n"
        "2026-12-09T12:00:01.000000Z TXN st 01 pc FF SingleRead '01WD1' attempts 1 result 0 ms "
        "1.0 timeouts 0 naks - settles 0 out 17 in 19\n";
    dir.Write("a.trc", trace);
    dir.Write("b.trc", trace);
    ChildOptions options;
    options.directory = dir.Path();
    ASSERT_EQ(
        jynmbtest::RunChild("/bin/sh", {"-c", "mkfifo pipe && mkdir folder"}, options).exitCode, 0);
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{"trace", "pipe"}, "cannot read the trace 'pipe': not a regular file"},
        {{"trace", "folder"}, "cannot read the trace 'folder': not a regular file"},
        {{"trace", "/dev/zero"}, "cannot read the trace '/dev/zero': not a regular file"},
        {{"trace", "--svg", "a.trc", "a.trc"}, "--svg a.trc is one of the traces read"},
        {{"trace", "--svg", "./a.trc", "b.trc", "a.trc"},
         "--svg ./a.trc is one of the traces read"},
        {{"trace", "--svg", "b.trc", "a.trc"}, "--svg b.trc is a trace"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const ChildRun run = Jynmb(c.args, options);
        EXPECT_EQ(run.exitCode, 2) << Describe(run);
        EXPECT_NE(run.err.find(c.error), std::string::npos) << Describe(run);
        EXPECT_EQ(FileText(dir.Path() + "/a.trc"), trace);
        EXPECT_EQ(FileText(dir.Path() + "/b.trc"), trace);
    }
    const ChildRun drawn = Jynmb({"trace", "--svg", "a.svg", "a.trc"}, options);
    EXPECT_EQ(drawn.exitCode, 0) << Describe(drawn);
    EXPECT_EQ(FileText(dir.Path() + "/a.svg").rfind("<?xml", 0), 0u);
}

// What jynmb trace --json says of one station.
struct Counted {
    uint64_t transactions = 0;
    uint64_t failed = 0;
    uint64_t attempts = 0;
    uint64_t timeouts = 0;
    std::map<std::string, uint64_t> naks;

    std::string Text() const {
        std::string text = "txns " + std::to_string(transactions) + " failed " +
                           std::to_string(failed) + " attempts " + std::to_string(attempts) +
                           " time-outs " + std::to_string(timeouts) + " NAKs";
        for (const auto& [code, count] : naks) text += " " + code + "x" + std::to_string(count);
        return text;
    }
};

std::map<std::string, Counted> StationsOf(const std::string& json) {
    const std::regex station(
        R"re(\{"station": "(..)", "pc": "(..)", "transactions": (\d+), "good": \d+, )re"
        R"re("failed": (\d+), "attempts": (\d+), "timeouts": (\d+), [^{]*"naks": \{([^}]*)\})re");
    const std::regex nak(R"re("(..)": (\d+))re");
    std::map<std::string, Counted> stations;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), station);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        Counted& c = stations[m.str(1) + " " + m.str(2)];
        c.transactions = std::stoull(m.str(3));
        c.failed = std::stoull(m.str(4));
        c.attempts = std::stoull(m.str(5));
        c.timeouts = std::stoull(m.str(6));
        const std::string naks = m.str(7);
        for (auto n = std::sregex_iterator(naks.begin(), naks.end(), nak);
             n != std::sregex_iterator(); ++n) {
            c.naks[n->str(1)] = std::stoull(n->str(2));
        }
    }
    return stations;
}

struct FaultRun {
    jynsim::Fault fault;
    bool write;
};

// Every fault of one reply the simulator has, on a read unless it needs a
// write, and the NAKs that end a transaction at once.
std::vector<FaultRun> FaultRuns() {
    using jynsim::FaultKind;
    std::vector<FaultRun> runs;
    for (std::size_t kind = 0; kind < jynsim::kReplyFaultKindCount; ++kind) {
        FaultRun run{{}, false};
        run.fault.kind = static_cast<FaultKind>(kind);
        if (run.fault.kind == FaultKind::kNak) run.fault.param = 0x02;
        if (run.fault.kind == FaultKind::kSlowReply) run.fault.delay = kSlowReply;
        run.write = run.fault.kind == FaultKind::kExtraAfterAck;
        runs.push_back(run);
    }
    const auto nak = [](int code, bool write) {
        FaultRun run{{}, write};
        run.fault.kind = jynsim::FaultKind::kNak;
        run.fault.param = code;
        return run;
    };
    runs.push_back(nak(0x06, false));  // stops: 1
    runs.push_back(nak(0x08, true));   // stops: 2
    FaultRun lostAck{{}, true};        // a write carried out, its ACK lost
    runs.push_back(lostAck);
    return runs;
}

// The simulator's own account of station 01: every request it received is
// an attempt; one it sent nothing to, answered after the time-out, or
// answered only under another station or PC number (wrong digits, lower
// case), is a time-out: the driver waits out its time-out for its own.
Counted SimulatorsAccount(const jynsim::Simulator& sim, uint64_t transactions, uint64_t failed) {
    Counted counted;
    counted.transactions = transactions;
    counted.failed = failed;
    for (const jynsim::RequestRecord& record : sim.Records()) {
        EXPECT_EQ(record.station, 1);
        ++counted.attempts;
        const std::optional<jynsim::FaultKind> fault = record.fault;
        const bool late = fault == jynsim::FaultKind::kSlowReply;
        const bool foreign = fault == jynsim::FaultKind::kWrongStation ||
                             fault == jynsim::FaultKind::kWrongPc ||
                             fault == jynsim::FaultKind::kLowerCase;
        counted.timeouts += record.reply.empty() || late || foreign ? 1 : 0;
    }
    for (const auto& [code, count] : sim.Counters().naks_by_code) {
        char text[3];
        std::snprintf(text, sizeof text, "%02X", code);
        counted.naks[text] = count;
    }
    return counted;
}

TEST_F(TracedLine, EveryFaultClassCountsInTheTraceAsTheSimulatorSawIt) {
    const std::string trace = work_.Path() + "/line.trc";
    const std::vector<FaultRun> runs = FaultRuns();
    uint64_t failed = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        jynsim::Fault fault = runs[i].fault;
        fault.station = 1;
        fault.command = runs[i].write ? "WW" : "WR";
        Sim().AddFault(fault);
        const std::string gate = runs[i].write ? "01WD100=" + std::to_string(i) : "01WD100";
        const ChildRun run = Run({runs[i].write ? "write" : "read", "--trace", trace, gate});
        SCOPED_TRACE(jynsim::FaultName(fault.kind) + std::string(" ") + Describe(run));
        ASSERT_GE(run.exitCode, 0);
        failed += run.exitCode != 0 ? 1 : 0;
        EXPECT_EQ(Sim().PendingFaults(), 0u);
    }
    EXPECT_EQ(failed, 2u) << "NAK 06h and NAK 08h end their transactions";
    // A station that is not on the line: ten attempts, ten time-outs.
    EXPECT_EQ(Run({"read", "--trace", trace, "03WD100"}, kSilentTimeout).exitCode, 2);

    const ChildRun report = Jynmb({"trace", "--json", trace});
    EXPECT_EQ(report.exitCode, 1) << Describe(report);
    const std::map<std::string, Counted> stations = StationsOf(report.out);
    ASSERT_EQ(stations.size(), 2u) << report.out;
    EXPECT_EQ(stations.at("01 FF").Text(), SimulatorsAccount(Sim(), runs.size(), failed).Text());
    const uint64_t unaddressed = Sim().Counters().unaddressed;
    EXPECT_EQ(unaddressed, 10u);
    Counted missing;
    missing.transactions = missing.failed = 1;
    missing.attempts = missing.timeouts = unaddressed;
    EXPECT_EQ(stations.at("03 FF").Text(), missing.Text());
    const jynsim::LineCounters counters = Sim().Counters();
    for (std::size_t kind = 0; kind < jynsim::kReplyFaultKindCount; ++kind) {
        EXPECT_GE(counters.faults[kind], 1u)
            << jynsim::FaultName(static_cast<jynsim::FaultKind>(kind));
    }
}

}  // namespace
