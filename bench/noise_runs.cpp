// Goodput through bit errors: good transfers a second on a noisy line
// against the same on a clean one.
#include <chrono>
#include <cstdio>
#include <thread>

#include "bench/fault_bench.h"
#include "bench/fault_runs.h"
#include "bench/line_runs.h"

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

struct NoiseFigures {
    std::size_t transactions = 0;
    std::size_t good = 0;       // result 0 with the right values
    std::size_t failed = 0;     // result 1 or 2
    std::size_t wrongGood = 0;  // result 0 with other values
    double seconds = 0;
    jynsim::NoiseCounters noise;  // what the line did meanwhile

    double Goodput() const { return seconds > 0 ? good / seconds : 0; }
    void Add(const NoiseFigures& run);
};

void NoiseFigures::Add(const NoiseFigures& run) {
    transactions += run.transactions;
    good += run.good;
    failed += run.failed;
    wrongGood += run.wrongGood;
    seconds += run.seconds;
    noise.bits += run.noise.bits;
    noise.hits_in += run.noise.hits_in;
    noise.hits_out += run.noise.hits_out;
    for (std::size_t i = 0; i < jynsim::kNoiseOutcomeCount; ++i)
        noise.outcomes[i] += run.noise.outcomes[i];
}

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

// Transfers for `seconds` (at least `least` of them) with bit errors at `rate`.
NoiseFigures RunNoisy(DriverHost& host, jynsim::Simulator& sim, Gate& gate, double rate,
                      uint64_t seed, double seconds, std::size_t least) {
    NoiseFigures figures;
    jynsim::NoiseConfig noise;
    noise.bit_error_rate = rate;
    noise.seed = seed;
    const jynsim::NoiseCounters before = sim.Counters().noise;
    sim.SetNoise(noise);
    std::string error;
    const auto start = Clock::now();
    while (figures.transactions < least ||
           std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        if (!gate.Prepare(sim, error)) break;
        const int32_t result = gate.Transfer(host);
        ++figures.transactions;
        if (result != jyn::kOk) {
            ++figures.failed;
        } else if (gate.Verify(sim, error)) {
            ++figures.good;
        } else {
            ++figures.wrongGood;
        }
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
    for (std::size_t r = 0; r < kRateCount; ++r) {
        const NoiseFigures& f = row.byRate[r];
        const double ratio = clean.Goodput() > 0 ? f.Goodput() / clean.Goodput() : 0;
        std::printf("%-20s %6u %7.0e %6zu %6zu %6zu %5zu %9.2f %7.3f %8llu",
                    gates[row.gate].Case().name, row.baud, kRates[r], f.transactions, f.good,
                    f.failed, f.wrongGood, f.Goodput(), ratio,
                    static_cast<unsigned long long>(f.noise.Hits()));
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
    const int rounds = options.smoke ? 1 : options.repeat;
    const double seconds = options.smoke ? 0 : options.seconds;
    const std::size_t least = options.smoke ? 3 : 5;
    std::vector<NoiseRow> rows;
    for (uint32_t baud : options.bauds) {
        BenchLine line(baud, std::chrono::microseconds(0));
        std::string error;
        if (!line.Start(error) || !line.Attach(host, timeoutUnits, error)) return BenchFail(error);
        const std::size_t first = rows.size();
        for (std::size_t g : kCases) rows.push_back({g, baud, {}});
        for (int round = 0; round < rounds; ++round) {
            std::fprintf(stderr, "noise at %u baud: round %d of %d\n", baud, round + 1, rounds);
            for (std::size_t i = first; i < rows.size(); ++i) {
                for (std::size_t r = 0; r < kRateCount; ++r) {
                    const uint64_t seed = 1000u * static_cast<uint64_t>(round) + 10u * i + r;
                    rows[i].byRate[r].Add(RunNoisy(host, line.Line().Sim(), gates[rows[i].gate],
                                                   kRates[r], seed, seconds, least));
                }
            }
        }
    }
    std::printf(
        "\n== Noise: every line bit flipped at the rate, both directions; reply time-out %u ms, "
        "%d rounds of %.0f s\n"
        "   good: result 0 and the right values; goodput: good a second; ratio: to the clean "
        "line; hits: characters the noise hit\n",
        timeoutUnits * 10, rounds, seconds);
    std::printf("%-20s %6s %7s %6s %6s %6s %5s %9s %7s %8s  %s\n", "case", "baud", "BER", "txn",
                "good", "failed", "wrong", "goodput/s", "ratio", "hits", "goal");
    bool clean = true;
    for (const NoiseRow& row : rows) {
        PrintNoiseRow(row, gates, !options.smoke);
        for (const NoiseFigures& f : row.byRate) clean = clean && Agrees(f);
        clean = clean && row.byRate[0].failed == 0 && row.byRate[0].wrongGood == 0;
    }
    return clean;
}

}  // namespace jynbench
