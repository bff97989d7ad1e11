// Timed runs of one gate's transfers through the driver against a simulated
// line, and what the simulator saw of them: the characters that actually
// crossed the line and the station's turnaround, from its request records.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/gates.h"
#include "sim/pty_server.h"
#include "sim/reference_host.h"

namespace jynbench {

// Characters on a bench line: 8 data bits, no parity, 1 stop bit.
inline constexpr int kBitsPerChar = 10;

// One simulated line (station 01, ACPU, or more) with the driver started on it.
class BenchLine {
public:
    // `baud` 0: the pseudo-terminal at full speed, no pacing. `queueLate`:
    // the station answers retries right after a late answer (the worst case).
    // `stations`: stations 1 to this many on the line, all ACPU.
    BenchLine(uint32_t baud, std::chrono::microseconds turnaround, bool queueLate = false,
              int stations = 1);
    ~BenchLine();
    BenchLine(const BenchLine&) = delete;
    BenchLine& operator=(const BenchLine&) = delete;
    // Starts the simulator's thread on its pseudo-terminal.
    bool Start(std::string& error) { return line_->Start(error); }
    // ColdStart of the driver on this line's port; the line the driver was
    // on before is closed by that ColdStart.
    bool Attach(DriverHost& host, uint32_t timeoutUnits, std::string& error);
    jynsim::SimulatedLine& Line() { return *line_; }
    const jynsim::LineTiming& Timing() const { return timing_; }

private:
    jynsim::LineTiming timing_;
    std::unique_ptr<jynsim::SimulatedLine> line_;
};

// The host threads of a run of several lines begin their transfers together.
class StartLine {
public:
    explicit StartLine(std::size_t count) : waiting_(count) {}
    void Arrive();

private:
    std::mutex mutex_;
    std::condition_variable all_;
    std::size_t waiting_;
};

struct RunPlan {
    double seconds = 2.0;             // timed for about this long ...
    std::size_t minTransactions = 5;  // ... but at least this many
    std::size_t maxTransactions = 50000;
    std::size_t warmup = 3;
};

// What every part of the bench runs with.
struct RunOptions {
    double seconds = 2.0;  // timed seconds of each run
    int repeat = 5;        // rounds, every case once a round; the median is shown
    bool smoke = false;    // a few transactions, one round, no verdicts
    bool reference = true;
};

// A smoke run: a few transactions after one of warm-up, the time not counted.
RunPlan PlanOf(const RunOptions& options);

struct RunFigures {
    std::size_t transactions = 0;
    std::size_t failures = 0;       // results other than 0
    std::size_t messages = 0;       // messages the driver logged while timed
    std::size_t extraRequests = 0;  // requests beyond one a transaction: retries
    double seconds = 0;             // wall time
    double userSeconds = 0;         // CPU of the thread that calls JynMain
    double systemSeconds = 0;
    // Per transaction, from the simulator's records and byte counters.
    double requestChars = 0;
    double replyChars = 0;
    double confirmChars = 0;
    double turnaroundSeconds = 0;
    bool accounted = false;  // the records and byte counters agree
    bool valuesOk = false;
    std::string problem;  // the first thing that went wrong

    double PerSecond() const { return seconds > 0 ? transactions / seconds : 0; }
    double Chars() const { return requestChars + replyChars + confirmChars; }
    double CpuPerTransaction() const {
        return transactions > 0 ? (userSeconds + systemSeconds) / transactions : 0;
    }
    bool Clean() const {
        return failures == 0 && messages == 0 && extraRequests == 0 && accounted && valuesOk;
    }
};

// One transaction of some host; false when it failed.
using Transfer = std::function<bool()>;

// Timed transfers on the line, with the simulator's account of them. With
// `start`, the warm-up waits there for the other lines' threads.
RunFigures RunTimed(jynsim::Simulator& sim, const Transfer& transfer, const RunPlan& plan,
                    StartLine* start = nullptr);
// The same through the driver, for one gate, with its values checked. A
// host that keeps no messages of its own has them counted on this thread.
RunFigures RunTransactions(DriverHost& host, jynsim::Simulator& sim, Gate& gate,
                           const RunPlan& plan, StartLine* start = nullptr);
// The bare host of sim/reference_host.h replaying `exchange` on the line,
// timed as the driver is.
RunFigures RunReference(jynsim::SimulatedLine& line, const jynsim::Exchange& exchange,
                        const RunPlan& plan, StartLine* start = nullptr);

// One read of a station that is not on the line: every attempt waits the
// whole reply time-out.
struct TimeoutFigures {
    double seconds = 0;
    int32_t result = -1;
    uint64_t requestsSeen = 0;  // attempts that reached the line
    std::size_t messages = 0;
};

TimeoutFigures RunSilentRead(DriverHost& host, BenchLine& line, Gate& gate, int attempts);

// The median of some figure over repeated runs, with the lowest and highest.
struct Spread {
    double median = 0;
    double low = 0;
    double high = 0;
};

Spread SpreadOf(std::vector<double> values);
template <typename T, typename Key>
Spread SpreadOf(const std::vector<T>& runs, Key key) {
    std::vector<double> values;
    for (const T& run : runs) values.push_back(key(run));
    return SpreadOf(std::move(values));
}

// What the fault, noise and scan runs share: one timed transfer checked
// against the simulated station, and the times of many.
struct TransferTime {
    double seconds = 0;
    std::string problem;  // empty: result 0 and the values arrived
};

// One transfer of `gate`, its values put in place before and checked after,
// then a short quiet on the line before the next.
TransferTime TimedTransfer(DriverHost& host, jynsim::Simulator& sim, Gate& gate);

class Timings {
public:
    void Add(const TransferTime& transfer);
    double Median() const { return SpreadOf(seconds_).median; }
    double Low() const { return SpreadOf(seconds_).low; }
    double High() const { return SpreadOf(seconds_).high; }
    bool Clean() const { return problem_.empty() && !seconds_.empty(); }
    // The first problem, marked '!' as the other parts of the bench do.
    void PrintProblem(const char* what) const;

private:
    std::vector<double> seconds_;
    std::string problem_;
};

bool BenchFail(const std::string& error);
// The exit status when the runs could not be set up: 2.
int BenchRefuse(const std::string& error);
// The exit status after the runs: 0 when every one was clean, 1 (and a
// pointer to the rows marked '!') when one was not.
int ExitStatus(bool clean);

// ColdStart on `line` in a folder of its own whose station file (JYNMB.INT,
// which the driver reads when its instance has none) holds `contents`.
bool AttachWithStationFile(DriverHost& host, BenchLine& line, uint32_t timeoutUnits,
                           const std::string& contents, std::string& error);

// The station file of the bench's instance in the current directory, with
// only a TRACE line: each ColdStart reads it, so the trace is on for the
// runs started while it is there.
class TraceSwitch {
public:
    TraceSwitch(std::string stationFile, std::string tracePath)
        : stationFile_(std::move(stationFile)), tracePath_(std::move(tracePath)) {}
    ~TraceSwitch() { Off(); }
    TraceSwitch(const TraceSwitch&) = delete;
    TraceSwitch& operator=(const TraceSwitch&) = delete;

    // False with `error` when the file cannot be written, or is there
    // already and not the bench's own.
    bool On(std::string& error);
    void Off();
    const std::string& TracePath() const { return tracePath_; }

private:
    std::string stationFile_;
    std::string tracePath_;
    bool written_ = false;
};

}  // namespace jynbench
