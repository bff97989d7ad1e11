#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "bench/line_runs.h"
#include "bench/parts.h"
#include "bench/report.h"
#include "harness/thread_messages.h"
#include "harness/work_directory.h"

namespace jynbench {

namespace {

constexpr uint32_t kFirstInstance = 7400;  // no station file of these lies anywhere
constexpr uint32_t kTimeoutUnits = 100;    // 1 s: never reached on a good line

// The lines share one library and its one message route; the driver is
// ended once, at the end, from the first line: the others' contexts stay.
jynharness::HostSettings HostOf(uint32_t instance) {
    jynharness::HostSettings settings = BenchHost(instance, 0);
    settings.keepContextUntilExit = true;
    return settings;
}

// One ACPU station 01 on a paced line, answering at once, the driver
// instance started on it and its word read configured.
struct LineUnderTest {
    LineUnderTest(const jynhost::DriverLibrary& library, uint32_t baud, uint32_t instance)
        : line(baud, std::chrono::microseconds(0)), host(library, HostOf(instance)) {}
    BenchLine line;
    DriverHost host;
    Gate gate;
};
using Lines = std::vector<std::unique_ptr<LineUnderTest>>;
// All lines of one run side by side, one figure each.
using LinesRun = std::vector<RunFigures>;

struct BenchCase {
    uint32_t baud;
    uint32_t lines;
    std::vector<LinesRun> driver;
    std::vector<LinesRun> reference;  // the same rounds, right after the driver's
};

struct MemoryFigures {
    uint32_t lines = 0;
    double driverHeapPerLine = 0;  // bytes the driver allocated at ColdStart
    uint32_t contextSize = 0;      // the host's context, per line
    double rssPerLine = 0;         // the process, simulated line and threads included
};

// `run(i)` for the first `count` lines at once, each from a thread of its own.
template <typename Run>
void OnEachLine(std::size_t count, Run run) {
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i) threads.emplace_back(run, i);
    for (std::thread& thread : threads) thread.join();
}

LinesRun RunDriver(Lines& lines, std::size_t count, const RunPlan& plan) {
    LinesRun run(count);
    StartLine start(count);
    OnEachLine(count, [&](std::size_t i) {
        LineUnderTest& l = *lines[i];
        run[i] = RunTransactions(l.host, l.line.Line().Sim(), l.gate, plan, &start);
    });
    return run;
}

// The bare host on the same lines with the frames the driver just sent;
// the driver lets go of each port meanwhile and takes it back after.
LinesRun RunReferences(Lines& lines, std::size_t count, const RunPlan& plan) {
    LinesRun run(count);
    std::vector<jynsim::Exchange> exchanges(count);
    for (std::size_t i = 0; i < count; ++i) {
        lines[i]->host.Call(jyn::kCloseCom);
        jynsim::CaptureExchange(lines[i]->line.Line().Sim(), exchanges[i], run[i].problem);
    }
    StartLine start(count);
    OnEachLine(count, [&](std::size_t i) {
        if (run[i].problem.empty()) {
            run[i] = RunReference(lines[i]->line.Line(), exchanges[i], plan, &start);
        } else {
            start.Arrive();
        }
    });
    for (std::size_t i = 0; i < count; ++i) {
        if (lines[i]->host.Call(jyn::kReOpenCom) != jyn::kOk) run[i].problem = "ReOpenCom failed";
    }
    return run;
}

double RssBytes() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            double kib = 0;
            status >> kib;
            return kib * 1024;
        }
    }
    return 0;
}

double HeapInUse() { return static_cast<double>(mallinfo2().uordblks); }

// Every baud's lines, as many as the most lines of any case, with the
// driver started on each. The first baud's start is measured: the process's
// memory per line, and what the driver allocates per line at ColdStart.
bool SetUp(const jynhost::DriverLibrary& library, const LinesOptions& options,
           std::vector<Lines>& byBaud, MemoryFigures& memory, std::string& error) {
    const uint32_t most = *std::max_element(options.lines.begin(), options.lines.end());
    uint32_t instance = kFirstInstance;
    for (uint32_t baud : options.bauds) {
        const double rss = RssBytes();
        Lines lines;
        for (uint32_t i = 0; i < most; ++i) {
            lines.push_back(std::make_unique<LineUnderTest>(library, baud, instance++));
            if (!lines.back()->line.Start(error) || !lines.back()->host.Allocate(error))
                return false;
        }
        const double heap = HeapInUse();
        for (auto& l : lines) {
            if (!l->line.Attach(l->host, kTimeoutUnits, error)) return false;
        }
        if (byBaud.empty()) {
            memory.lines = most;
            memory.driverHeapPerLine = (HeapInUse() - heap) / most;
            memory.rssPerLine = (RssBytes() - rss) / most;
        }
        for (auto& l : lines) {
            if (!l->gate.Configure(l->host, kGateCases[0], error)) return false;
        }
        byBaud.push_back(std::move(lines));
    }
    return true;
}

// Every case once a round, round after round, so that a burst of load on
// the machine spreads over the cases instead of spoiling one.
std::vector<BenchCase> RunRounds(std::vector<Lines>& byBaud, const LinesOptions& options) {
    std::vector<BenchCase> cases;
    for (uint32_t baud : options.bauds) {
        for (uint32_t count : options.lines) cases.push_back({baud, count, {}, {}});
    }
    const RunPlan plan = PlanOf(options);
    const int rounds = options.smoke ? 1 : options.repeat;
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "several lines: round %d of %d\n", round + 1, rounds);
        for (std::size_t i = 0; i < cases.size(); ++i) {
            Lines& lines = byBaud[i / options.lines.size()];
            cases[i].driver.push_back(RunDriver(lines, cases[i].lines, plan));
            if (options.reference)
                cases[i].reference.push_back(RunReferences(lines, cases[i].lines, plan));
        }
    }
    return cases;
}

// --- the report: medians of the rounds with the lowest and highest ---

double WorstRatio(const LinesRun& run, uint32_t baud) {
    double worst = run.empty() ? 0 : Ratio(run.front(), baud);
    for (const RunFigures& line : run) worst = std::min(worst, Ratio(line, baud));
    return worst;
}

double MeanRatio(const LinesRun& run, uint32_t baud) {
    double sum = 0;
    for (const RunFigures& line : run) sum += Ratio(line, baud);
    return run.empty() ? 0 : sum / run.size();
}

double TotalRate(const LinesRun& run) {
    double sum = 0;
    for (const RunFigures& line : run) sum += line.PerSecond();
    return sum;
}

double CpuPerTransaction(const LinesRun& run) {
    double cpu = 0, transactions = 0;
    for (const RunFigures& line : run) {
        cpu += line.userSeconds + line.systemSeconds;
        transactions += static_cast<double>(line.transactions);
    }
    return transactions > 0 ? cpu / transactions : 0;
}

std::string Problem(const LinesRun& run) {
    for (std::size_t i = 0; i < run.size(); ++i) {
        const std::string trouble = Trouble(run[i]);
        if (!trouble.empty()) return "line " + std::to_string(i) + ": " + trouble;
    }
    return "";
}

Spread WorstRatio(const BenchCase& c) {
    return SpreadOf(c.driver, [&c](const LinesRun& run) { return WorstRatio(run, c.baud); });
}

Spread Total(const BenchCase& c) { return SpreadOf(c.driver, TotalRate); }

Spread Cpu(const std::vector<LinesRun>& runs) { return SpreadOf(runs, CpuPerTransaction); }

double WorstAgainst(const LinesRun& run, const LinesRun& reference, uint32_t baud) {
    double worst = 0;
    for (std::size_t i = 0; i < run.size() && i < reference.size(); ++i) {
        const double against = Ratio(run[i], baud) / Ratio(reference[i], baud);
        worst = i == 0 ? against : std::min(worst, against);
    }
    return worst;
}

// Each round's driver run against the reference host's right after it.
Spread AgainstReference(const BenchCase& c) {
    if (c.reference.size() != c.driver.size()) return Spread{};
    std::vector<double> worst;
    for (std::size_t r = 0; r < c.driver.size(); ++r)
        worst.push_back(WorstAgainst(c.driver[r], c.reference[r], c.baud));
    return SpreadOf(std::move(worst));
}

const BenchCase* Find(const std::vector<BenchCase>& cases, uint32_t baud, uint32_t lines) {
    for (const BenchCase& c : cases) {
        if (c.baud == baud && c.lines == lines) return &c;
    }
    return nullptr;
}

// The first problem of the driver's runs and of the reference's; false
// when there was one.
bool PrintProblems(const BenchCase& c) {
    bool clean = true;
    for (const auto* runs : {&c.driver, &c.reference}) {
        for (const LinesRun& run : *runs) {
            const std::string problem = Problem(run);
            if (problem.empty()) continue;
            std::printf("   ! %u baud, %u lines, %s: %s\n", c.baud, c.lines,
                        runs == &c.driver ? "driver" : "reference", problem.c_str());
            clean = false;
            break;
        }
    }
    return clean;
}

// The paced line's columns: each line against its limit and against the
// reference host. An unpaced line has no limit.
void PrintRatios(const BenchCase& c) {
    if (c.baud == 0) {
        std::printf(" %20s %6s %8s %20s", "-", "-", "-", "-");
        return;
    }
    const Spread worst = WorstRatio(c);
    // Like the other columns, the median over the rounds.
    const double mean =
        SpreadOf(c.driver, [&c](const LinesRun& run) { return MeanRatio(run, c.baud); }).median;
    std::printf(" %6.3f (%.3f..%.3f) %6.3f", worst.median, worst.low, worst.high, mean);
    if (c.reference.empty()) {
        std::printf(" %8s %20s", "-", "-");
        return;
    }
    const Spread ref =
        SpreadOf(c.reference, [&c](const LinesRun& run) { return WorstRatio(run, c.baud); });
    const Spread against = AgainstReference(c);
    std::printf(" %8.3f %6.3f (%.3f..%.3f)", ref.median, against.median, against.low, against.high);
}

bool PrintRow(const BenchCase& c, const std::vector<BenchCase>& cases) {
    const std::string baud = c.baud == 0 ? "unpaced" : std::to_string(c.baud);
    std::printf("%7s %5u", baud.c_str(), c.lines);
    PrintRatios(c);
    const Spread total = Total(c), cpu = Cpu(c.driver);
    const BenchCase* one = Find(cases, c.baud, 1);
    std::printf(" %11.1f %7.2fx %6.1f us (%.1f..%.1f) %7.2fx", total.median,
                one ? total.median / Total(*one).median : 0, cpu.median * 1e6, cpu.low * 1e6,
                cpu.high * 1e6, one ? cpu.median / Cpu(one->driver).median : 0);
    std::printf(" %7.1f us\n", c.reference.empty() ? 0 : Cpu(c.reference).median * 1e6);
    return PrintProblems(c);
}

bool PrintCases(const std::vector<BenchCase>& cases, const LinesOptions& options,
                const std::string& address) {
    std::printf(
        "\n== Several lines at once: a word read (%s) on each line, one driver instance and"
        " one host thread a line; 10 bits a character, station turnaround 0\n"
        "   ratio: each line's limit / its measured time per transaction; worst: the line"
        " furthest from its limit\n"
        "   reference: a bare host replaying the driver's frames on as many lines at once;"
        " drv/ref: the worst line's ratio against the reference's on that line\n"
        "   CPU/txn: the host threads' CPU over all lines / all transactions; on a paced line the"
        " simulator's pacing decides how many reads a reply takes\n"
        "   medians of %d rounds (lowest..highest)\n",
        address.c_str(), options.smoke ? 1 : options.repeat);
    std::printf("%7s %5s %20s %6s %8s %20s %11s %8s %24s %8s %10s\n", "baud", "lines",
                "worst ratio", "mean", "ref", "drv/ref", "total txn/s", "x 1 line", "CPU/txn",
                "x 1 line", "ref CPU");
    bool clean = true;
    for (const BenchCase& c : cases) clean = PrintRow(c, cases) && clean;
    return clean;
}

void PrintGoals(const std::vector<BenchCase>& cases) {
    std::printf("\n== Goals\n");
    if (const BenchCase* c = Find(cases, 9600, 8)) {
        const double worst = WorstRatio(*c).median;
        std::printf("each line's ratio to its limit, 8 lines at 9600: %.3f  >= 0.97 %s\n", worst,
                    GoalVerdict(worst >= 0.97, true));
    }
    if (const BenchCase* c = Find(cases, 115200, 4); c && !c->reference.empty()) {
        const double against = AgainstReference(*c).median;
        std::printf("each line against the reference host, 4 lines at 115200: %.3f  >= 0.97 %s\n",
                    against, GoalVerdict(against >= 0.97, true));
    }
    const BenchCase* one = Find(cases, 9600, 1);
    const BenchCase* eight = Find(cases, 9600, 8);
    if (one && eight) {
        const double scale = Total(*eight).median / Total(*one).median;
        std::printf("total transactions/s, 8 lines against 1 at 9600: %.2fx  >= 7.6x %s\n", scale,
                    GoalVerdict(scale >= 7.6, true));
    }
    const BenchCase* single = Find(cases, 0, 1);
    if (const BenchCase* c = Find(cases, 0, 8); c && single) {
        const Spread many = Cpu(c->driver), few = Cpu(single->driver);
        const double change = many.median / few.median - 1;
        std::printf(
            "CPU per transaction, 8 lines against 1, unpaced: %.1f us (%.1f..%.1f) against"
            " %.1f us (%.1f..%.1f), %+.1f%%  within 25%% %s\n",
            many.median * 1e6, many.low * 1e6, many.high * 1e6, few.median * 1e6, few.low * 1e6,
            few.high * 1e6, 100 * change, GoalVerdict(change <= 0.25 && change >= -0.25, true));
    }
}

void PrintMemory(const MemoryFigures& memory) {
    std::printf(
        "\n== Memory per line (%u lines started)\n"
        "driver's heap per line, allocated at ColdStart: %.0f bytes\n"
        "host's context per line (GetJynInfo):          %u bytes\n"
        "process resident memory per line:               %.0f KiB (the simulated line and its"
        " thread included)\n",
        memory.lines, memory.driverHeapPerLine, memory.contextSize, memory.rssPerLine / 1024);
}

}  // namespace

int RunLines(const LinesOptions& options) {
    // A folder of its own as the current directory: no station file there.
    jynharness::WorkDirectory folder("jyn-multibench");
    jynharness::MessageSorter sorter;
    jynhost::DriverLibrary library;
    std::vector<Lines> byBaud;
    MemoryFigures memory;
    std::string error;
    if (!folder.Ok()) return BenchRefuse("no folder");
    if (!library.Load(options.driver, error)) return BenchRefuse(error);
    if (!jynharness::MessagesArrive(library)) return BenchRefuse(jynharness::kMessagesLost);
    if (!SetUp(library, options, byBaud, memory, error)) return BenchRefuse(error);
    jyn::DriverInfo info{};
    library.Call(nullptr, jyn::kGetJynInfo, &info, kFirstInstance);
    memory.contextSize = info.contextSize;
    const std::vector<BenchCase> cases = RunRounds(byBaud, options);
    const bool clean = PrintCases(cases, options, byBaud[0][0]->gate.Text());
    if (!options.smoke) PrintGoals(cases);
    PrintMemory(memory);
    byBaud[0][0]->host.Call(jyn::kEndJyn);  // once, at the end, for every line
    return ExitStatus(clean);
}

}  // namespace jynbench
