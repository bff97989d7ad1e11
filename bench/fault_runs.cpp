#include <array>
#include <chrono>
#include <cstdio>

#include "bench/line_runs.h"
#include "bench/parts.h"
#include "bench/report.h"

namespace jynbench {
namespace {

using jynsim::FaultKind;

constexpr uint32_t kFaultTimeoutUnits = 50;  // 500 ms
constexpr uint32_t kSmokeTimeoutUnits = 5;   // 50 ms
constexpr std::size_t kWordRead = 0;         // kGateCases
constexpr std::size_t kWordWrite = 1;

// What a fault in the first attempt may cost at most, over a clean
// transaction ("exchange": the clean transaction's time).
enum class Goal { kNone, kOneExchange, kOneTimeout };

struct FaultClass {
    const char* name;
    FaultKind kind;
    int param;
    double delayTimeouts;  // a late answer's delay, in reply time-outs
    bool write;            // on the word write (the classes that hit an ACK)
    Goal goal;
};

const FaultClass kFaultClasses[] = {
    {"wrong sum check", FaultKind::kBadSum, 0, 0, false, Goal::kOneExchange},
    {"NAK 01h", FaultKind::kNak, 0x01, 0, false, Goal::kOneExchange},
    {"NAK 02h", FaultKind::kNak, 0x02, 0, false, Goal::kOneExchange},
    {"NAK 04h", FaultKind::kNak, 0x04, 0, false, Goal::kOneExchange},
    {"NAK 05h", FaultKind::kNak, 0x05, 0, false, Goal::kOneExchange},
    {"silent attempt", FaultKind::kNoReply, 0, 0, false, Goal::kOneTimeout},
    {"reply cut after 3", FaultKind::kCutReply, 3, 0, false, Goal::kNone},
    {"NUL before the reply", FaultKind::kStrayByte, 0, 0, false, Goal::kNone},
    {"8 bytes of garbage", FaultKind::kGarbage, 8, 0, false, Goal::kNone},
    {"wrong station", FaultKind::kWrongStation, 1, 0, false, Goal::kNone},
    {"wrong PC number", FaultKind::kWrongPc, 1, 0, false, Goal::kNone},
    {"lower-case reply", FaultKind::kLowerCase, 0, 0, false, Goal::kNone},
    {"late by 1.5 time-outs", FaultKind::kSlowReply, 0, 1.5, false, Goal::kNone},
    {"other station first", FaultKind::kForeignAnswer, 1, 0, false, Goal::kNone},
    {"extra bytes after ACK", FaultKind::kExtraAfterAck, 3, 0, true, Goal::kNone},
};

jynsim::Fault FaultOf(const FaultClass& c, uint32_t timeoutUnits) {
    jynsim::Fault fault;
    fault.kind = c.kind;
    fault.param = c.param;
    fault.delay =
        std::chrono::microseconds(static_cast<int64_t>(c.delayTimeouts * timeoutUnits * 10000.0));
    fault.station = 1;
    fault.command = c.write ? "WW" : "WR";
    return fault;
}

struct FaultRow {
    const FaultClass* fault;
    uint32_t baud;
    Timings faulted;  // the transaction with the fault
    Timings both;     // it and the clean one after it
};

// The classes on one line, round after round, with clean transactions of
// the read and the write in each round for the comparison. Each faulted
// transaction is followed by a clean one of the same gate, timed with it:
// bytes a fault leaves on the line cost the next transaction its purge.
bool RunFaultLine(DriverHost& host, std::vector<Gate>& gates, uint32_t baud, uint32_t timeoutUnits,
                  int rounds, std::vector<FaultRow>& rows, Timings clean[2]) {
    BenchLine line(baud, std::chrono::microseconds(0), true);
    std::string error;
    if (!line.Start(error) || !line.Attach(host, timeoutUnits, error)) return BenchFail(error);
    jynsim::Simulator& sim = line.Line().Sim();
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "faults at %u baud: round %d of %d\n", baud, round + 1, rounds);
        clean[1].Add(TimedTransfer(host, sim, gates[kWordWrite]));
        clean[0].Add(TimedTransfer(host, sim, gates[kWordRead]));
        for (FaultRow& row : rows) {
            if (row.baud != baud) continue;
            const std::size_t kind = static_cast<std::size_t>(row.fault->kind);
            const uint64_t before = sim.Counters().faults[kind];
            sim.AddFault(FaultOf(*row.fault, timeoutUnits));
            Gate& gate = gates[row.fault->write ? kWordWrite : kWordRead];
            TransferTime transfer = TimedTransfer(host, sim, gate);
            if (sim.Counters().faults[kind] != before + 1 && transfer.problem.empty())
                transfer.problem = "the fault did not hit the transaction";
            row.faulted.Add(transfer);
            TransferTime next = TimedTransfer(host, sim, gate);
            next.seconds += transfer.seconds;
            if (next.problem.empty()) next.problem = transfer.problem;
            row.both.Add(next);
        }
    }
    return true;
}

void PrintFaultRow(const FaultRow& row, const Timings& clean, double timeout, bool shown) {
    const double exchange = clean.Median();
    const double extra = row.both.Median() - 2 * exchange;
    std::printf("%-22s %6u %8.1f ms %8.1f ms %8.1f ms %8.1f ms %7.2f %6.2f  %7.1f..%.1f ms",
                row.fault->name, row.baud, exchange * 1e3, row.faulted.Median() * 1e3,
                (row.both.Median() - row.faulted.Median()) * 1e3, extra * 1e3, extra / exchange,
                extra / timeout, (row.both.Low() - 2 * exchange) * 1e3,
                (row.both.High() - 2 * exchange) * 1e3);
    if (row.fault->goal == Goal::kOneExchange) {
        std::printf("  <= %.1f ms %s", (exchange + 0.010) * 1e3,
                    GoalVerdict(extra <= exchange + 0.010, shown));
    } else if (row.fault->goal == Goal::kOneTimeout) {
        // Its time-out, the retry, and the resynchronising read the answer
        // it still owes calls for before the station's next gate.
        std::printf("  <= %.1f ms %s", (timeout + 2 * exchange) * 1e3,
                    GoalVerdict(extra <= timeout + 2 * exchange, shown));
    }
    std::printf("\n");
    row.both.PrintProblem(row.fault->name);
}

}  // namespace

bool RunFaultCosts(DriverHost& host, std::vector<Gate>& gates, const FaultBenchOptions& options) {
    const uint32_t timeoutUnits = options.smoke ? kSmokeTimeoutUnits : kFaultTimeoutUnits;
    const int rounds = options.smoke ? 1 : options.repeat;
    std::vector<FaultRow> rows;
    std::vector<std::array<Timings, 2>> clean(options.bauds.size());
    for (std::size_t b = 0; b < options.bauds.size(); ++b) {
        for (const FaultClass& fault : kFaultClasses)
            rows.push_back({&fault, options.bauds[b], {}, {}});
        if (!RunFaultLine(host, gates, options.bauds[b], timeoutUnits, rounds, rows,
                          clean[b].data())) {
            return false;
        }
    }
    const double timeout = timeoutUnits * 0.01;
    std::printf(
        "\n== Faults: one in the first attempt of a word read (of a word write for the ACK's "
        "class), the second attempt clean; reply time-out %.0f ms, paced line, medians of %d\n"
        "   next: the clean transaction after it; extra = faulted + next - 2 clean (what a fault "
        "leaves on the line costs the next transaction's purge); goals on the extra time\n",
        timeout * 1e3, rounds);
    std::printf("%-22s %6s %11s %11s %11s %11s %7s %6s  %16s  %s\n", "fault", "baud", "clean",
                "faulted", "next", "extra", "x exch", "x T/O", "extra min..max", "goal");
    bool clean_runs = true;
    for (std::size_t b = 0; b < options.bauds.size(); ++b) {
        for (const FaultRow& row : rows) {
            if (row.baud != options.bauds[b]) continue;
            PrintFaultRow(row, clean[b][row.fault->write ? 1 : 0], timeout, !options.smoke);
            clean_runs = clean_runs && row.both.Clean();
        }
        clean_runs = clean_runs && clean[b][0].Clean() && clean[b][1].Clean();
        clean[b][0].PrintProblem("clean word read");
        clean[b][1].PrintProblem("clean word write");
    }
    return clean_runs;
}

}  // namespace jynbench
