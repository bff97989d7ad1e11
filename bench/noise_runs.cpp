// Goodput through bit errors: good transfers a second on a noisy line
// against the same on a clean one.
#include <chrono>
#include <cstdio>
#include <thread>

#include "bench/line_runs.h"
#include "bench/parts.h"
#include "bench/report.h"

namespace jynbench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kNoiseTimeoutUnits = 20;  // 200 ms
constexpr uint32_t kSmokeTimeoutUnits = 5;   // 50 ms
constexpr double kRates[] = {0, 1e-4, 1e-3};
constexpr std::size_t kRateCount = sizeof kRates / sizeof kRates[0];
// The word read, the word write and the 64-word block read of kGateCases.
constexpr std::size_t kCases[] = {0, 1, 2};
constexpr double kGoodputGoal = 0.90;  // word read, 9600 baud, 1e-4
constexpr uint64_t kLeastHits = 40;
constexpr double kLongestRun = 150;

struct NoiseFigures {
    std::size_t transactions = 0;
    std::size_t good = 0;       // result 0 with the right values
    std::size_t failed = 0;     // result 1 or 2
    std::size_t wrongGood = 0;  // result 0 with other values
    double seconds = 0;
    jynsim::NoiseCounters noise;  // what the line did meanwhile

    double Goodput() const { return seconds > 0 ? good / seconds : 0; }
};

// How long a run goes on: for `seconds` and `least` transfers at the least,
// and on a noisy line until the noise hit `hits` characters, so that the
// rare costly hits (a request that gets no answer costs two time-outs) are
// not left to chance; never beyond `cap` seconds (0: no such bound).
struct NoisePlan {
    double seconds;
    std::size_t least;
    uint64_t hits;
    double cap;
};

jynsim::NoiseCounters Difference(const jynsim::NoiseCounters& after,
                                 const jynsim::NoiseCounters& before) {
    jynsim::NoiseCounters out;
    out.bits = after.bits - before.bits;
    out.hits_in = after.hits_in - before.hits_in;
    out.hits_out = after.hits_out - before.hits_out;
    for (std::size_t i = 0; i < jynsim::kNoiseOutcomeCount; ++i)
        out.outcomes[i] = after.outcomes[i] - before.outcomes[i];
    return out;
}

bool Enough(const NoiseFigures& f, const NoisePlan& plan, double elapsed) {
    if (plan.cap > 0 && elapsed >= plan.cap && f.transactions >= plan.least) return true;
    return f.transactions >= plan.least && elapsed >= plan.seconds && f.noise.Hits() >= plan.hits;
}

// Transfers with bit errors at `rate`, as long as the plan says.
NoiseFigures RunNoisy(DriverHost& host, jynsim::Simulator& sim, Gate& gate, double rate,
                      uint64_t seed, const NoisePlan& plan) {
    NoiseFigures figures;
    jynsim::NoiseConfig noise;
    noise.bit_error_rate = rate;
    noise.seed = seed;
    const jynsim::NoiseCounters before = sim.Counters().noise;
    sim.SetNoise(noise);
    std::string error;
    const auto start = Clock::now();
    while (!Enough(figures, plan, std::chrono::duration<double>(Clock::now() - start).count())) {
        gate.Prepare(sim);
        const int32_t result = gate.Transfer(host);
        ++figures.transactions;
        if (result != jyn::kOk) {
            ++figures.failed;
        } else if (gate.Verify(sim, error)) {
            ++figures.good;
        } else {
            ++figures.wrongGood;
        }
        figures.noise = Difference(sim.Counters().noise, before);
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sim.SetNoise({});
    figures.noise = Difference(sim.Counters().noise, before);
    // The last transfer's late bytes are not the next run's.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return figures;
}

struct NoiseRow {
    std::size_t gate;
    uint32_t baud;
    NoiseFigures byRate[kRateCount];
};

// A value that arrived wrong with result 0 is only the line's doing when
// the simulator saw noise that left a frame checking.
bool Agrees(const NoiseFigures& f) {
    const auto unseen = f.noise.outcomes[static_cast<std::size_t>(jynsim::NoiseOutcome::kUnseen)];
    return f.transactions > 0 && (f.wrongGood == 0 || unseen > 0);
}

void PrintNoiseRow(const NoiseRow& row, const std::vector<Gate>& gates, bool shown) {
    const NoiseFigures& clean = row.byRate[0];
    const double each = clean.good > 0 ? clean.seconds / clean.good : 0;
    for (std::size_t r = 0; r < kRateCount; ++r) {
        const NoiseFigures& f = row.byRate[r];
        const double ratio = clean.Goodput() > 0 ? f.Goodput() / clean.Goodput() : 0;
        const uint64_t hits = f.noise.Hits();
        std::printf("%-20s %6u %7.0e %6zu %6zu %6zu %5zu %8.1f s %9.2f %7.3f %6llu",
                    gates[row.gate].Case().name, row.baud, kRates[r], f.transactions, f.good,
                    f.failed, f.wrongGood, f.seconds, f.Goodput(), ratio,
                    static_cast<unsigned long long>(hits));
        if (hits > 0) {
            std::printf(" %8.1f ms", (f.seconds - f.good * each) / static_cast<double>(hits) * 1e3);
        } else {
            std::printf(" %11s", "-");
        }
        if (row.gate == kCases[0] && row.baud == 9600 && kRates[r] == 1e-4) {
            std::printf("  >= %.2f %s", kGoodputGoal, GoalVerdict(ratio >= kGoodputGoal, shown));
        }
        std::printf("\n");
        if (!Agrees(f)) std::printf("   ! a wrong value reported good without unseen noise\n");
        if (r == 0 && (f.failed > 0 || f.wrongGood > 0))
            std::printf("   ! the clean line had failures\n");
    }
}

}  // namespace

bool RunNoise(DriverHost& host, std::vector<Gate>& gates, const FaultBenchOptions& options) {
    const uint32_t timeoutUnits = options.smoke ? kSmokeTimeoutUnits : kNoiseTimeoutUnits;
    const double seconds = options.seconds * options.repeat;
    const NoisePlan cleanPlan = options.smoke ? NoisePlan{0, 3, 0, 0} : NoisePlan{seconds, 5, 0, 0};
    const NoisePlan noisyPlan =
        options.smoke ? cleanPlan : NoisePlan{seconds, 5, kLeastHits, kLongestRun};
    std::vector<NoiseRow> rows;
    for (uint32_t baud : options.bauds) {
        BenchLine line(baud, std::chrono::microseconds(0));
        std::string error;
        if (!line.Start(error) || !line.Attach(host, timeoutUnits, error)) return BenchFail(error);
        for (std::size_t g : kCases) {
            std::fprintf(stderr, "noise at %u baud: %s\n", baud, gates[g].Case().name);
            rows.push_back({g, baud, {}});
            for (std::size_t r = 0; r < kRateCount; ++r) {
                const uint64_t seed = 100u * rows.size() + r;
                rows.back().byRate[r] = RunNoisy(host, line.Line().Sim(), gates[g], kRates[r], seed,
                                                 r == 0 ? cleanPlan : noisyPlan);
            }
        }
    }
    std::printf(
        "\n== Noise: every line bit flipped at the rate, both directions; reply time-out %u ms\n"
        "   each run at least %.0f s, a noisy one until the noise hit %llu characters (at most "
        "%.0f s)\n"
        "   good: result 0 and the right values; goodput: good a second; ratio: to the clean "
        "line; hits: characters the noise hit;\n"
        "   lost/hit: the run's time beyond its good transfers at the clean line's pace, per hit\n",
        timeoutUnits * 10, options.smoke ? 0.0 : seconds,
        static_cast<unsigned long long>(noisyPlan.hits), noisyPlan.cap);
    std::printf("%-20s %6s %7s %6s %6s %6s %5s %10s %9s %7s %6s %11s  %s\n", "case", "baud", "BER",
                "txn", "good", "failed", "wrong", "time", "goodput/s", "ratio", "hits", "lost/hit",
                "goal");
    bool clean = true;
    for (const NoiseRow& row : rows) {
        PrintNoiseRow(row, gates, !options.smoke);
        for (const NoiseFigures& f : row.byRate) clean = clean && Agrees(f);
        clean = clean && row.byRate[0].failed == 0 && row.byRate[0].wrongGood == 0;
    }
    return clean;
}

}  // namespace jynbench
