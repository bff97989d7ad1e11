#include "multiline/bench_timed.h"

#include <sys/resource.h>

#include <chrono>

#include "harness/thread_messages.h"

namespace jynmulti {
using jynharness::ThreadMessages;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStartWait = std::chrono::seconds(30);
constexpr auto kSettleWait = std::chrono::milliseconds(3000);

double ThreadCpu() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Characters and turnaround per transaction over the last `n` records. The
// confirmations' characters come from the byte counter (whatever the host
// sent beyond its requests), so the counters must agree with the records.
bool Account(const std::vector<jynsim::RequestRecord>& records, const jynsim::LineCounters& before,
             const jynsim::LineCounters& after, std::size_t n, LineFigures& figures) {
    uint64_t requestAll = 0, replyAll = 0, confirmedAll = 0;
    for (const auto& record : records) {
        requestAll += record.request_chars;
        replyAll += record.reply.size();
        confirmedAll += record.confirmation != jynsim::Confirmation::kNone ? 1 : 0;
    }
    const uint64_t in = after.bytes_in - before.bytes_in;
    const uint64_t out = after.bytes_out - before.bytes_out;
    const uint64_t confirmChars = in >= requestAll ? in - requestAll : 0;
    if (out != replyAll || in < requestAll ||
        (confirmedAll == 0 ? confirmChars != 0 : confirmChars % confirmedAll != 0)) {
        return false;
    }
    const double perConfirm = confirmedAll > 0 ? double(confirmChars) / confirmedAll : 0;
    double chars = 0, turnaround = 0;
    for (std::size_t i = records.size() - n; i < records.size(); ++i) {
        const auto& record = records[i];
        chars += double(record.request_chars + record.reply.size());
        chars += record.confirmation != jynsim::Confirmation::kNone ? perConfirm : 0;
        turnaround += double((record.reply_start - record.time).count()) / 1e6;
    }
    figures.chars = chars / n;
    figures.turnaround = turnaround / n;
    return true;
}

}  // namespace

void StartLine::Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (waiting_ > 0 && --waiting_ == 0) all_.notify_all();
    all_.wait_for(lock, kStartWait, [this] { return waiting_ == 0; });
}

LineFigures TimedTransfers(jynsim::Simulator& sim, const Transfer& transfer, const TimedPlan& plan,
                           StartLine& start) {
    LineFigures figures;
    ThreadMessages messages;
    sim.ClearRecords();
    const jynsim::LineCounters before = sim.Counters();
    start.Arrive();
    std::size_t failures = 0;
    for (std::size_t i = 0; i < plan.warmup; ++i) failures += transfer() ? 0 : 1;
    const double cpuStart = ThreadCpu();
    const auto begin = Clock::now();
    auto now = begin;
    const auto budget = std::chrono::duration<double>(plan.seconds);
    while (figures.transactions < plan.minTransactions || now - begin < budget) {
        failures += transfer() ? 0 : 1;
        ++figures.transactions;
        now = Clock::now();
    }
    figures.cpuSeconds = ThreadCpu() - cpuStart;
    figures.seconds = std::chrono::duration<double>(now - begin).count();
    const uint64_t done = plan.warmup + figures.transactions;
    const uint64_t ends = before.confirm_acks + before.acks + done;
    sim.WaitUntil([ends](const jynsim::LineCounters& c) { return c.confirm_acks + c.acks >= ends; },
                  kSettleWait);
    const auto records = sim.Records();
    if (failures != 0) {
        figures.problem = std::to_string(failures) + " transfers failed";
    } else if (!messages.Kept().empty()) {
        figures.problem = "the driver said: " + messages.Kept().front().text;
    } else if (records.size() != done) {
        figures.problem = std::to_string(records.size()) + " requests for " + std::to_string(done) +
                          " transactions";
    } else if (!Account(records, before, sim.Counters(), figures.transactions, figures)) {
        figures.problem = "the byte counters do not match the request records";
    }
    return figures;
}

}  // namespace jynmulti
