// jyn_bench: the driver library, loaded as a host loads it, against the PLC
// simulator on a pseudo-terminal in this process. Prints transactions per
// second against the line's physical limit (paced line), the driver's CPU
// time per transaction (unpaced line), the accuracy of the reply time-out,
// what each fault class costs, goodput through bit errors, and a scan with
// a station switched off. See docs/performance.md.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/gates.h"
#include "bench/line_runs.h"
#include "bench/parts.h"
#include "bench/report.h"
#include "harness/options.h"
#include "host/client/driver_library.h"

namespace jynbench {
namespace {

constexpr uint32_t kTransferTimeoutUnits = 100;  // 1 s: never reached on a good line
constexpr uint32_t kSilentTimeoutUnits = 5;      // 50 ms
constexpr int kAttempts = 10;

struct Options : RunOptions {
    std::vector<uint32_t> bauds = {9600, 19200, 115200};
    int turnaroundUs = 0;
    bool paced = true;
    bool unpaced = true;
    bool timeout = true;
    bool faults = true;
    bool noise = true;
    bool scan = true;  // minutes: never in a smoke run
    bool readAhead = true;
    bool lines = false;      // only when asked for: several lines at once
    bool bothBauds = false;  // --bauds given: also the lines' speeds
    LinesOptions several;
    std::string trace;  // the driver's trace for a second run of every case
};

const char kUsage[] =
    "usage: jyn_bench [--seconds S] [--repeat N] [--bauds 9600,19200,115200]\n"
    "                 [--turnaround-us N] [--only PART] [--no-reference]\n"
    "                 [--trace FILE] [--driver PATH] [--smoke]\n"
    "       jyn_bench --lines-list 1,2,4,8 [--bauds 9600,115200,0] [--seconds S]\n"
    "                 [--repeat N] [--no-reference] [--driver PATH] [--smoke]\n"
    "  --seconds S        timed seconds of each run (default 2)\n"
    "  --repeat N         runs of each case, in rounds; the median is shown (default 5)\n"
    "  --bauds LIST       line speeds the simulator paces (default 9600,19200,115200)\n"
    "  --turnaround-us N  the station's turnaround before it answers (default 0)\n"
    "  --only PART        one part only: paced, unpaced, timeout, faults, noise, scan,\n"
    "                     readahead (the last four at 9600 and 115200 baud), lines\n"
    "  --lines-list LIST  several lines at once, these many (default 1,2,4,8), each\n"
    "                     at every speed of --bauds (default 9600,115200,0; 0: unpaced)\n"
    "                     instead of the other parts; the same as --only lines\n"
    "  --driver PATH      the driver library (default: the one beside this program)\n"
    "  --no-reference     skip the reference host's runs\n"
    "  --trace FILE       run every paced and unpaced case again right after itself\n"
    "                     with the driver's trace on (TRACE = FILE in the station file\n"
    "                     of the bench's instance), and compare the two\n"
    "  --smoke            a few transactions of every case, one run, no goals shown\n";

// --only PART: that part alone.
bool OnlyPart(const std::string& part, Options& options) {
    options.paced = part == "paced";
    options.unpaced = part == "unpaced";
    options.timeout = part == "timeout";
    options.faults = part == "faults";
    options.noise = part == "noise";
    options.scan = part == "scan";
    options.readAhead = part == "readahead";
    options.lines = part == "lines";
    return options.paced || options.unpaced || options.timeout || options.faults || options.noise ||
           options.scan || options.readAhead || options.lines;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    using namespace jynharness;
    LinesOptions& several = options.several;
    several.driver = jynhost::DriverBesideExecutable();
    const OptionTable table = {
        Smoke(options.smoke),
        Flag("--no-reference", options.reference, false),
        Seconds(options.seconds, 600),
        {"--repeat", true,
         [&options](const char* text) {
             double value = 0;
             if (!Number(text, 1, 100, value)) return false;
             options.repeat = static_cast<int>(value);
             return true;
         }},
        {"--bauds", true,
         [&options](const char* text) {
             options.bothBauds = true;
             return NumberList(text, 0, 4000000, options.bauds);
         }},
        {"--lines-list", true,
         [&options](const char* text) {
             return OnlyPart("lines", options) && NumberList(text, 1, 16, options.several.lines);
         }},
        Driver(several.driver),
        Text("--trace", options.trace),
        Whole("--turnaround-us", options.turnaroundUs, 0, 1000000),
        {"--only", true, [&options](const char* part) { return OnlyPart(part, options); }},
    };
    if (!jynharness::ParseOptions(argc, argv, table)) return false;
    static_cast<RunOptions&>(several) = options;
    if (options.lines && options.bothBauds) several.bauds = options.bauds;
    // Only the lines know an unpaced speed among theirs.
    return options.lines ||
           std::find(options.bauds.begin(), options.bauds.end(), 0u) == options.bauds.end();
}

// The driver's run, then the reference host's on the same line with the
// frames the driver sent; the driver waits on the null device meanwhile, so
// that the line has one host at a time.
bool RunCase(DriverHost& host, BenchLine& line, Gate& gate, const Options& options,
             std::vector<RunFigures>& runs, std::vector<RunFigures>& references) {
    std::string error;
    const RunPlan plan = PlanOf(options);
    if (!line.Attach(host, kTransferTimeoutUnits, error)) return BenchFail(error);
    runs.push_back(RunTransactions(host, line.Line().Sim(), gate, plan));
    if (!options.reference) return true;
    jynsim::Exchange exchange;
    if (!jynsim::CaptureExchange(line.Line().Sim(), exchange, error) ||
        !StartDriver(host, "NUL", 9600, kTransferTimeoutUnits, error)) {
        return BenchFail(error);
    }
    references.push_back(RunReference(line.Line(), exchange, plan));
    return true;
}

// With the trace asked for, the same case once more at once with the trace
// on, so that both runs see the same load on the machine.
template <typename Row>
bool RunTraced(DriverHost& host, BenchLine& line, Gate& gate, Options options, TraceSwitch* trace,
               Row& row) {
    if (trace == nullptr) return true;
    std::string error;
    if (!trace->On(error)) return BenchFail(error);
    options.reference = false;
    const bool ran = RunCase(host, line, gate, options, row.runs, row.reference);
    trace->Off();
    return ran;
}

// Every case on every line, round after round, so that a passing burst of
// load on the machine spreads over the cases instead of spoiling one.
bool RunRounds(DriverHost& host, std::vector<Gate>& gates, const Options& options,
               const std::vector<uint32_t>& bauds, TraceSwitch* trace, std::vector<CaseRow>& rows,
               std::vector<CaseRow>& traced) {
    const auto turnaround = std::chrono::microseconds(bauds[0] > 0 ? options.turnaroundUs : 0);
    std::vector<std::unique_ptr<BenchLine>> lines;
    std::string error;
    for (uint32_t baud : bauds) {
        lines.push_back(std::make_unique<BenchLine>(baud, turnaround));
        if (!lines.back()->Start(error)) return BenchFail(error);
        for (const Gate& gate : gates) rows.push_back({&gate.Case(), baud, {}, {}});
    }
    traced = rows;
    const int rounds = options.smoke ? 1 : options.repeat;
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "%s line: round %d of %d\n", bauds[0] > 0 ? "paced" : "unpaced",
                     round + 1, rounds);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            BenchLine& line = *lines[i / gates.size()];
            Gate& gate = gates[i % gates.size()];
            if (!RunCase(host, line, gate, options, rows[i].runs, rows[i].reference) ||
                !RunTraced(host, line, gate, options, trace, traced[i])) {
                return false;
            }
        }
    }
    return true;
}

bool RowsClean(const std::vector<CaseRow>& rows) {
    const auto clean = [](const RunFigures& run) { return run.Clean(); };
    return std::all_of(rows.begin(), rows.end(), [&clean](const CaseRow& row) {
        return std::all_of(row.runs.begin(), row.runs.end(), clean) &&
               std::all_of(row.reference.begin(), row.reference.end(), clean);
    });
}

// The paced lines at every speed asked for, or the unpaced line.
bool RunLineRows(DriverHost& host, std::vector<Gate>& gates, const Options& options,
                 const Goals& goals, TraceSwitch* trace, bool paced) {
    std::vector<CaseRow> rows, traced;
    const std::vector<uint32_t> bauds = paced ? options.bauds : std::vector<uint32_t>{0};
    if (!RunRounds(host, gates, options, bauds, trace, rows, traced)) return false;
    if (paced) {
        PrintPacedHeader(static_cast<double>(options.turnaroundUs));
    } else {
        PrintUnpacedHeader();
    }
    for (const CaseRow& row : rows) (paced ? PrintPaced : PrintUnpaced)(row, goals);
    if (trace == nullptr) return RowsClean(rows);
    (paced ? PrintPacedTraceCost : PrintUnpacedTraceCost)(rows, traced, goals);
    return RowsClean(rows) && RowsClean(traced);
}

bool RunTimeout(DriverHost& host, const Options& options, const Goals& goals) {
    BenchLine line(0, std::chrono::microseconds(0));
    std::string error;
    if (!line.Start(error) || !line.Attach(host, kSilentTimeoutUnits, error))
        return BenchFail(error);
    Gate gate;
    if (!gate.Configure(host, kSilentGate, error)) return BenchFail(error);
    TimeoutRow row{kSilentTimeoutUnits * 0.01, kAttempts, {}};
    const int runs = options.smoke ? 1 : options.repeat;
    bool clean = true;
    for (int i = 0; i < runs; ++i) {
        row.runs.push_back(RunSilentRead(host, line, gate, kAttempts));
        const TimeoutFigures& run = row.runs.back();
        // Every attempt went out and none was answered: the driver gives up
        // with 2 after the last one.
        clean = clean && run.result == jyn::kDriverFailure &&
                run.requestsSeen == static_cast<uint64_t>(kAttempts);
    }
    PrintTimeout(row, goals);
    return clean;
}

}  // namespace
}  // namespace jynbench

int main(int argc, char** argv) {
    using namespace jynbench;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options.lines) return RunLines(options.several);
    DriverHost host(BenchHost());
    std::string error;
    std::vector<Gate> gates;
    if (!host.Load(options.several.driver, error)) return BenchRefuse(error);
    Goals goals;
    goals.shown = !options.smoke;
    PrintLoad("at start");
    bool clean = true;
    // The gates are configured once, as a host does at start-up; the
    // address parsers need no line.
    if (!StartDriver(host, "NUL", 9600, kTransferTimeoutUnits, error) ||
        !Gate::ConfigureAll(host, kGateCases, gates, error)) {
        return BenchRefuse(error);
    }
    std::unique_ptr<TraceSwitch> trace;
    if (!options.trace.empty()) {
        trace = std::make_unique<TraceSwitch>(StationFile(),
                                              std::filesystem::absolute(options.trace).string());
    }
    for (const bool paced : {true, false}) {
        if (paced ? options.paced : options.unpaced)
            clean = RunLineRows(host, gates, options, goals, trace.get(), paced) && clean;
    }
    if (trace) PrintTraceFile(trace->TracePath());
    if (options.timeout) clean = RunTimeout(host, options, goals) && clean;
    FaultBenchOptions faulty;
    static_cast<RunOptions&>(faulty) = options;
    if (options.faults) clean = RunFaultCosts(host, gates, faulty) && clean;
    if (options.noise) clean = RunNoise(host, gates, faulty) && clean;
    if (options.scan && !options.smoke) clean = RunScan(host, faulty) && clean;
    if (options.readAhead) clean = RunReadAhead(host, faulty) && clean;
    PrintLoad("at end");
    host.End();
    return ExitStatus(clean);
}
