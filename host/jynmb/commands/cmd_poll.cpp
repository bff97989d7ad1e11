// jynmb poll: a list of gates read again and again, as a host scans them.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/commands/poll_view.h"
#include "host/jynmb/commands/session.h"
#include "host/jynmb/commands/traced_start.h"
#include "host/jynmb/platform/platform.h"
#include "host/jynmb/trace/trace_report.h"
#include "sim/config_files.h"

namespace jynmb {

namespace {

const char kPollHelp[] =
    "usage: jynmb poll --port NAME [OPTIONS] GATEFILE\n\n"
    "Reads the gates listed in GATEFILE (one GATE a line as for 'jynmb read',\n"
    "'#' starts a comment) round after round. On a terminal one table is kept up\n"
    "to date: value, status, last error, good and failed reads. Otherwise each\n"
    "read gives one line: date and time, round, gate, status, value or error.\n"
    "Ctrl-C stops after the read under way (a station that does not answer holds\n"
    "it up to ten reply time-outs); a second Ctrl-C stops at once.\n"
    "Exit code 0 when every read of every round succeeded, 1 when a gate failed\n"
    "or was refused, 2 when the driver, the port or the link failed.\n\n"
    "Options:\n"
    "  --interval MS      from the start of one round to the next (default 1000)\n"
    "  --count N          rounds to run (default 0: until Ctrl-C)\n"
    "  --json             one JSON object per gate per round (JSON Lines), for scripts\n"
    "With --trace and READAHEAD in the station file, the end says how many reads\n"
    "the driver's read-ahead blocks served.\n";

constexpr unsigned long kDefaultInterval = 1000;
constexpr std::chrono::milliseconds kStopCheck{20};
constexpr std::size_t kTableExtraLines = 3;  // heading, column names, status line

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_reading = 0;  // a read is under way
// Said at once when Ctrl-C comes during a read; made before the handler is
// set, since the handler may only write it out.
char g_notice[512];
std::size_t g_noticeLength = 0;
bool g_noticeOnStdout = false;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
    if (g_reading) WriteNow(g_noticeOnStdout, g_notice, g_noticeLength);
    // A second Ctrl-C stops at once, even inside a long transaction.
    std::signal(SIGINT, SIG_DFL);
}

struct PollPlan {
    PortOptions port;
    std::string driver;
    std::string trace;
    std::string file;
    unsigned long interval = kDefaultInterval;
    unsigned long count = 0;
    bool json = false;
};

// Counts and intervals up to a day's worth of milliseconds: the wait
// between rounds must stay a time the clock can hold.
constexpr unsigned long kLargestCount = 86400000ul;

bool ReadCount(Args& args, const char* name, unsigned long& value, std::string& error) {
    std::string text;
    if (!args.Option(name, text)) return args.Error().empty();
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' ||
        errno != 0 || value > kLargestCount) {
        error = std::string(name) + " wants a number from 0 to " + std::to_string(kLargestCount) +
                ", not '" + text + "'";
        return false;
    }
    return true;
}

bool ReadPlan(Args& args, PollPlan& plan, std::string& error) {
    args.Option("--driver", plan.driver);
    plan.driver = AbsolutePath(plan.driver);
    plan.json = args.Flag("--json");
    if (!ReadTraceOption(args, plan.trace, error) ||
        !ReadCount(args, "--interval", plan.interval, error) ||
        !ReadCount(args, "--count", plan.count, error) ||
        !ReadPortOptions(args, plan.port, error)) {
        if (error.empty()) error = args.Error();
        return false;
    }
    error = args.Leftover(true);
    if (!error.empty()) return false;
    if (args.Rest().size() != 1) {
        error = args.Rest().empty() ? "no GATEFILE given" : "one GATEFILE, not several";
        return false;
    }
    plan.file = args.Rest().front();
    return true;
}

bool ReadGates(const std::string& path, std::vector<PolledGate>& gates, std::string& error) {
    std::string text;
    if (!jynsim::ReadTextFile(path, text)) {
        error = "cannot read the gate file '" + path + "'";
        return false;
    }
    std::vector<GateArg> args;
    if (!ParseGateList(text, args, error)) {
        error = path + ": " + error;
        return false;
    }
    for (const GateArg& arg : args) {
        gates.emplace_back();
        gates.back().outcome.arg = arg;
    }
    return true;
}

}  // namespace

namespace {

using Clock = std::chrono::steady_clock;

// Waits until `until`, or less when a stop is asked for.
void PauseUntil(Clock::time_point until) {
    for (auto now = Clock::now(); !g_stop && now < until; now = Clock::now()) {
        std::this_thread::sleep_for(std::min<Clock::duration>(kStopCheck, until - now));
    }
}

int ExitCodeOf(const GateOutcome& gate) {
    const int32_t result = gate.parseResult != jyn::kOk ? gate.parseResult : gate.result;
    if (result == jyn::kOk) return kExitOk;
    return result == jyn::kDriverFailure ? kExitUsage : kExitGate;
}

void ReadGate(Session& session, PolledGate& gate) {
    GateOutcome& outcome = gate.outcome;
    if (outcome.parseResult != jyn::kOk) return;
    if (session.Read(outcome) == jyn::kOk) {
        ++gate.good;
        return;
    }
    ++gate.failed;
    gate.lastError = outcome.lastMessage.empty() ? "failed (" + std::to_string(outcome.result) + ")"
                                                 : outcome.lastMessage;
}

int Poll(Session& session, std::vector<PolledGate>& gates, const PollPlan& plan, PollView& view) {
    PollStatus status;
    status.port = plan.port.port;
    status.interval = plan.interval;
    status.count = plan.count;
    int exitCode = kExitOk;
    view.Start(gates, status);
    auto next = Clock::now();
    // Rounds nobody can see (the output cannot be written) are not polled.
    while (!g_stop && !std::ferror(stdout) && (plan.count == 0 || status.round < plan.count)) {
        ++status.round;
        next += std::chrono::milliseconds(plan.interval);
        for (std::size_t i = 0; i < gates.size() && !g_stop; ++i) {
            view.GateStarting(gates, i, status);
            g_reading = 1;
            ReadGate(session, gates[i]);
            g_reading = 0;
            exitCode = std::max(exitCode, ExitCodeOf(gates[i].outcome));
            view.GateDone(gates, i, status);
        }
        if (plan.count != 0 && status.round >= plan.count) break;
        PauseUntil(next);
        // A round that took longer than the interval is followed at once,
        // without a burst of rounds to catch up.
        next = std::max(next, Clock::now());
    }
    status.interrupted = g_stop != 0;
    view.Finish(gates, status);
    return exitCode;
}

// Ten attempts of a reply time-out each, and one more for the line to fall
// quiet after them.
constexpr unsigned long kTimeoutsPerRead = 11;

void PrepareNotice(const PollView& view, const PollPlan& plan, int columns) {
    const unsigned long ms = kTimeoutsPerRead * plan.port.line.replyTimeout * 10;
    std::string text = "stopping after the current read (up to " +
                       std::to_string((ms + 999) / 1000) + " s); Ctrl-C again stops at once";
    // On the table the notice replaces one line, and must not wrap.
    if (view.NoticeOnStdout() && text.size() >= static_cast<std::size_t>(columns)) {
        text.resize(static_cast<std::size_t>(std::max(columns, 2) - 1));
    }
    const std::string notice = view.NoticePrefix() + text + view.NoticeSuffix();
    g_noticeLength = std::min(notice.size(), sizeof g_notice);
    std::copy(notice.begin(), notice.begin() + static_cast<std::ptrdiff_t>(g_noticeLength),
              g_notice);
    g_noticeOnStdout = view.NoticeOnStdout();
}

std::unique_ptr<PollView> MakeView(const PollPlan& plan, std::size_t gates, Verbosity verbosity,
                                   int& columns) {
    // On a terminal the table shows each gate's last error; messages on
    // standard error would scroll it away, unless -v asks for them.
    // The cursor cannot go back above the top of the screen: a table taller
    // than the terminal is printed as plain lines instead.
    const TerminalSize size = StdoutTerminalSize();
    columns = size.columns;
    if (plan.json) return MakeJsonView();
    if (!StdoutIsTerminal() || gates + kTableExtraLines >= static_cast<std::size_t>(size.rows)) {
        return MakePlainView();
    }
    SetEcho(verbosity == Verbosity::kVerbose);
    return MakeTableView(size.columns);
}

// With --trace on a line with READAHEAD: what the blocks served, from the
// driver's own trace, once the polling stops. The trace may hold earlier runs
// (the driver appends) and may have turned over: this run's transactions are
// those that ended since `since`, in the file and its older part.
void PrintReadAhead(const PollPlan& plan, trace::Micros since) {
    if (plan.trace.empty() || plan.json) return;
    std::vector<std::string> files{plan.trace};
    if (std::filesystem::exists(plan.trace + ".1")) files.push_back(plan.trace + ".1");
    trace::TraceData data;
    trace::Tally tally;
    std::string error;
    const bool read =
        trace::ReadFiles(files, data, error, [&tally, since](trace::Transaction& txn) {
            if (txn.end >= since) tally.Add(txn);
        });
    if (read) std::printf("%s", trace::ReadAheadText(tally.Stations()).c_str());
}

trace::Micros WallClockMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int RunPoll(Args& args) {
    if (args.Flag("--help")) {
        std::printf("%s%s%s", kPollHelp, PortOptionsHelp().c_str(), kTraceOptionHelp);
        return kExitOk;
    }
    const Verbosity verbosity = ReadVerbosity(args);
    InstallMessageHandler(verbosity);
    PollPlan plan;
    std::string error;
    if (!ReadPlan(args, plan, error)) return UsageError("poll", error);
    std::vector<PolledGate> gates;
    if (!ReadGates(plan.file, gates, error)) return UsageError("poll", error);
    int columns = 0;
    std::unique_ptr<PollView> view = MakeView(plan, gates.size(), verbosity, columns);
    Session session;
    const trace::Micros since = WallClockMicros();
    if (!StartTracedSession(session, "poll", plan.driver, plan.port, plan.json, plan.trace)) {
        return kExitUsage;
    }
    for (PolledGate& gate : gates) {
        if (!session.Configure(gate.outcome)) gate.lastError = gate.outcome.lastMessage;
    }
    g_stop = 0;
    PrepareNotice(*view, plan, columns);
    std::signal(SIGINT, &OnStopSignal);
    const int exitCode = Poll(session, gates, plan, *view);
    std::signal(SIGINT, SIG_DFL);
    session.End();
    if (TraceFailed(plan.trace)) return kExitUsage;
    PrintReadAhead(plan, since);
    return exitCode;
}

}  // namespace jynmb
