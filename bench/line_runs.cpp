#include "bench/line_runs.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "harness/thread_messages.h"
#include "harness/work_directory.h"
#include "interface/station_file_names.h"

namespace jynbench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSettleWait = std::chrono::milliseconds(3000);
constexpr auto kStartWait = std::chrono::seconds(30);
// Between transfers, so that one's late bytes cannot be charged to the next.
constexpr auto kQuiet = std::chrono::milliseconds(20);

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

struct ThreadCpu {
    double user = 0;
    double system = 0;
};

// The calling thread alone: the simulator serves the line from its own thread.
ThreadCpu ThisThreadCpu() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return {Seconds(usage.ru_utime), Seconds(usage.ru_stime)};
}

// Characters and turnaround of the last `n` records; the confirmations'
// characters come from the byte counter, since a record only says that one
// came: whatever the host sent beyond its requests.
void Account(const std::vector<jynsim::RequestRecord>& records, const jynsim::LineCounters& before,
             const jynsim::LineCounters& after, std::size_t n, RunFigures& figures) {
    uint64_t requestAll = 0, replyAll = 0, confirmedAll = 0;
    for (const auto& record : records) {
        requestAll += record.request_chars;
        replyAll += record.reply.size();
        if (record.confirmation != jynsim::Confirmation::kNone) ++confirmedAll;
    }
    const uint64_t in = after.bytes_in - before.bytes_in;
    const uint64_t out = after.bytes_out - before.bytes_out;
    const uint64_t confirmChars = in >= requestAll ? in - requestAll : 0;
    figures.accounted = out == replyAll && in >= requestAll &&
                        (confirmedAll == 0 ? confirmChars == 0 : confirmChars % confirmedAll == 0);
    if (!figures.accounted && figures.problem.empty()) {
        figures.problem = "the byte counters do not match the request records";
    }
    const double perConfirm =
        confirmedAll > 0 ? static_cast<double>(confirmChars) / confirmedAll : 0;
    double request = 0, reply = 0, confirm = 0, turnaround = 0;
    for (std::size_t i = records.size() - n; i < records.size(); ++i) {
        const auto& record = records[i];
        request += static_cast<double>(record.request_chars);
        reply += static_cast<double>(record.reply.size());
        if (record.confirmation != jynsim::Confirmation::kNone) confirm += perConfirm;
        turnaround += static_cast<double>((record.reply_start - record.time).count()) / 1e6;
    }
    figures.requestChars = request / n;
    figures.replyChars = reply / n;
    figures.confirmChars = confirm / n;
    figures.turnaroundSeconds = turnaround / n;
}

bool TimedLoop(const Transfer& transfer, const RunPlan& plan, RunFigures& figures) {
    const auto budget = std::chrono::duration<double>(plan.seconds);
    const ThreadCpu cpuStart = ThisThreadCpu();
    const auto start = Clock::now();
    auto now = start;
    while (figures.transactions < plan.maxTransactions &&
           (figures.transactions < plan.minTransactions || now - start < budget)) {
        if (!transfer()) ++figures.failures;
        ++figures.transactions;
        now = Clock::now();
    }
    const ThreadCpu cpuEnd = ThisThreadCpu();
    figures.seconds = std::chrono::duration<double>(now - start).count();
    figures.userSeconds = cpuEnd.user - cpuStart.user;
    figures.systemSeconds = cpuEnd.system - cpuStart.system;
    return figures.failures == 0;
}

}  // namespace

BenchLine::BenchLine(uint32_t baud, std::chrono::microseconds turnaround, bool queueLate,
                     int stations) {
    timing_.baud = baud;
    timing_.bits_per_char = kBitsPerChar;
    timing_.turnaround = turnaround;
    jynsim::LineConfig config;
    for (int number = 1; number <= stations; ++number) {
        jynsim::StationConfig station;
        station.station = number;
        config.stations.push_back(station);
    }
    config.timing = timing_;
    config.queue_behind_late_answer = queueLate;
    line_ = std::make_unique<jynsim::SimulatedLine>(config);
}

BenchLine::~BenchLine() {
    line_->Stop();
    jynsim::DumpTrafficIfAsked(line_->Sim().Traffic(), "bench-" + std::to_string(timing_.baud));
}

bool BenchLine::Attach(DriverHost& host, uint32_t timeoutUnits, std::string& error) {
    // The driver takes names under /dev/: "pts/N".
    const std::string port = line_->Port().substr(5);
    return StartDriver(host, port, jynharness::DriverBaudFor(timing_.baud), timeoutUnits, error);
}

RunPlan PlanOf(const RunOptions& options) {
    RunPlan plan;
    plan.seconds = options.smoke ? 0 : options.seconds;
    plan.minTransactions = options.smoke ? 3 : 5;
    plan.warmup = options.smoke ? 1 : 3;
    return plan;
}

void StartLine::Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (waiting_ > 0 && --waiting_ == 0) all_.notify_all();
    all_.wait_for(lock, kStartWait, [this] { return waiting_ == 0; });
}

RunFigures RunTimed(jynsim::Simulator& sim, const Transfer& transfer, const RunPlan& plan,
                    StartLine* start) {
    RunFigures figures;
    sim.ClearRecords();
    const jynsim::LineCounters before = sim.Counters();
    if (start != nullptr) start->Arrive();
    // The warm-up leads straight into the timed loop, so that the timed
    // window begins and ends at the same point of a transaction: each ends
    // just after the host has handed over its last frame.
    std::size_t warm = 0;
    for (; warm < plan.warmup; ++warm) {
        if (!transfer()) {
            figures.problem = "the warm-up transfer failed";
            return figures;
        }
    }
    if (!TimedLoop(transfer, plan, figures)) figures.problem = "transfers failed";
    // The station has seen the end of every transaction: the confirmation
    // of a read, the request of a write.
    const std::size_t expected = warm + figures.transactions;
    const uint64_t ends = before.confirm_acks + before.acks + expected;
    const bool settled = sim.WaitUntil(
        [ends](const jynsim::LineCounters& c) { return c.confirm_acks + c.acks >= ends; },
        kSettleWait);
    if (!settled && figures.problem.empty())
        figures.problem = "the station did not see every frame";
    const auto records = sim.Records();
    figures.extraRequests = records.size() > expected ? records.size() - expected : 0;
    if (records.size() < figures.transactions || figures.transactions == 0) {
        if (figures.problem.empty()) figures.problem = "requests missing from the records";
        return figures;
    }
    Account(records, before, sim.Counters(), figures.transactions, figures);
    return figures;
}

RunFigures RunTransactions(DriverHost& host, jynsim::Simulator& sim, Gate& gate,
                           const RunPlan& plan, StartLine* start) {
    std::string problem;
    gate.Prepare(sim);
    jynharness::ThreadMessages said;
    if (host.KeepsMessages()) host.Take();
    RunFigures figures = RunTimed(
        sim, [&host, &gate] { return gate.Transfer(host) == jyn::kOk; }, plan, start);
    figures.messages = host.KeepsMessages() ? host.Count() : said.Kept().size();
    figures.valuesOk = gate.Verify(sim, problem);
    if (figures.problem.empty()) figures.problem = problem;
    return figures;
}

RunFigures RunReference(jynsim::SimulatedLine& line, const jynsim::Exchange& exchange,
                        const RunPlan& plan, StartLine* start) {
    jynsim::ReferenceHost host;
    RunFigures figures;
    if (!host.Open(line.Port(), figures.problem)) {
        if (start != nullptr) start->Arrive();
        return figures;
    }
    figures = RunTimed(
        line.Sim(), [&host, &exchange] { return host.Transact(exchange); }, plan, start);
    figures.valuesOk = figures.failures == 0;
    return figures;
}

TimeoutFigures RunSilentRead(DriverHost& host, BenchLine& line, Gate& gate, int attempts) {
    TimeoutFigures figures;
    jynsim::Simulator& sim = line.Line().Sim();
    const uint64_t before = sim.Counters().unaddressed;
    host.Take();
    const auto start = Clock::now();
    figures.result = gate.Transfer(host);
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.messages = host.Count();
    // The last request left a time-out ago; on a loaded machine the
    // simulator's thread may still be on its way to it.
    const uint64_t target = before + static_cast<uint64_t>(attempts);
    sim.WaitUntil([target](const jynsim::LineCounters& c) { return c.unaddressed >= target; },
                  kSettleWait);
    figures.requestsSeen = sim.Counters().unaddressed - before;
    return figures;
}

Spread SpreadOf(std::vector<double> values) {
    Spread spread;
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    spread.median = values[values.size() / 2];
    spread.low = values.front();
    spread.high = values.back();
    return spread;
}

TransferTime TimedTransfer(DriverHost& host, jynsim::Simulator& sim, Gate& gate) {
    TransferTime transfer;
    std::string error;
    gate.Prepare(sim);
    const auto start = Clock::now();
    const int32_t result = gate.Transfer(host);
    transfer.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (result != jyn::kOk) {
        transfer.problem = std::string(gate.Case().name) + ": result " + std::to_string(result);
    } else if (!gate.Verify(sim, error)) {
        transfer.problem = error;
    }
    std::this_thread::sleep_for(kQuiet);
    return transfer;
}

void Timings::Add(const TransferTime& transfer) {
    seconds_.push_back(transfer.seconds);
    if (problem_.empty()) problem_ = transfer.problem;
}

void Timings::PrintProblem(const char* what) const {
    if (!problem_.empty()) std::printf("   ! %s: %s\n", what, problem_.c_str());
}

bool BenchFail(const std::string& error) {
    std::fprintf(stderr, "jyn_bench: %s\n", error.c_str());
    return false;
}

int BenchRefuse(const std::string& error) {
    BenchFail(error);
    return 2;
}

int ExitStatus(bool clean) {
    if (!clean) std::printf("\nsome runs were not clean: see the lines marked '!'\n");
    return clean ? 0 : 1;
}

bool AttachWithStationFile(DriverHost& host, BenchLine& line, uint32_t timeoutUnits,
                           const std::string& contents, std::string& error) {
    const jynharness::WorkDirectory folder("jyn-bench-station");
    if (!folder.Ok()) {
        error = "no folder for the station file";
        return false;
    }
    // The file every instance reads when it has none of its own.
    std::ofstream(jyn::station_file::NamesFor(host.Instance()).name[2]) << contents;
    return line.Attach(host, timeoutUnits, error);
}

bool TraceSwitch::On(std::string& error) {
    if (written_) return true;
    std::error_code failed;
    if (std::filesystem::exists(stationFile_, failed)) {
        error = "a station file " + stationFile_ +
                " is in the current directory already; the bench writes its own for --trace";
        return false;
    }
    std::ofstream(stationFile_) << "TRACE = " << tracePath_ << "\n";
    written_ = std::filesystem::exists(stationFile_, failed);
    if (!written_) error = "cannot write " + stationFile_;
    return written_;
}

void TraceSwitch::Off() {
    if (!written_) return;
    std::remove(stationFile_.c_str());
    written_ = false;
}

}  // namespace jynbench
