#include "bench/report.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace jynbench {

namespace {

template <typename T, typename Key>
const T& Median(const std::vector<T>& runs, Key key) {
    std::vector<const T*> sorted;
    for (const T& run : runs) sorted.push_back(&run);
    std::sort(sorted.begin(), sorted.end(),
              [&key](const T* a, const T* b) { return key(*a) < key(*b); });
    return *sorted[sorted.size() / 2];
}

std::string CharsText(const RunFigures& run) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f+%.0f+%.0f=%.0f", run.requestChars, run.replyChars,
                  run.confirmChars, run.Chars());
    return text;
}

// The change from each run without the trace to the run with it that
// followed at once: the two share the load of the moment, so the median of
// these pairs holds still where the medians of either side wander.
template <typename Key>
double PairedChange(const std::vector<RunFigures>& off, const std::vector<RunFigures>& on,
                    Key key) {
    std::vector<double> changes;
    for (std::size_t i = 0; i < off.size() && i < on.size(); ++i) {
        if (key(off[i]) > 0) changes.push_back(key(on[i]) / key(off[i]) - 1);
    }
    return SpreadOf(std::move(changes)).median;
}

}  // namespace

const char* GoalVerdict(bool met, bool shown) {
    if (!shown) return "";
    return met ? "met" : "MISSED";
}

std::string Trouble(const RunFigures& run) {
    if (run.Clean()) return "";
    char counts[96];
    std::snprintf(counts, sizeof counts, " (failures %zu, driver messages %zu, extra requests %zu)",
                  run.failures, run.messages, run.extraRequests);
    return (run.problem.empty() ? "not clean" : run.problem) + counts;
}

double LimitSeconds(const RunFigures& run, uint32_t baud) {
    return baud > 0 ? run.Chars() * kBitsPerChar / baud + run.turnaroundSeconds : 0;
}

double Ratio(const RunFigures& run, uint32_t baud) {
    return run.PerSecond() * LimitSeconds(run, baud);
}

void PrintLoad(const char* when) {
    std::ifstream file("/proc/loadavg");
    std::string load;
    std::getline(file, load);
    std::printf("load %s: %s\n", when, load.c_str());
}

void PrintPacedHeader(double turnaroundUs) {
    std::printf(
        "\n== Paced line: %d bits a character (8 data bits, no parity, 1 stop bit); station "
        "turnaround %.0f us, counted in the limit\n"
        "   limit: the line time of the characters the simulator saw per transaction, plus the "
        "turnaround; ratio = limit / measured time\n"
        "   reference: a bare host replaying the driver's frames on the same line; drv/ref = "
        "driver rate / reference rate\n",
        kBitsPerChar, turnaroundUs);
    std::printf("%-20s %6s %18s %10s %10s %9s %6s %13s %9s %7s %s\n", "case", "baud",
                "chars req+rep+ack", "limit/txn", "txn", "txn/s", "ratio", "(min..max)",
                "ref ratio", "drv/ref", "goal");
}

void PrintPaced(const CaseRow& row, const Goals& goals) {
    const auto ratio = [&row](const RunFigures& run) { return Ratio(run, row.baud); };
    const RunFigures& median = Median(row.runs, ratio);
    const Spread spread = SpreadOf(row.runs, ratio);
    const double goal = row.baud <= 19200 ? goals.slowLineRatio : goals.fastLineRatio;
    const double limit = LimitSeconds(median, row.baud);
    std::printf("%-20s %6u %18s %7.3f ms %7.3f ms %9.2f %6.3f %6.3f..%.3f", row.gateCase->name,
                row.baud, CharsText(median).c_str(), limit * 1e3, 1e3 / median.PerSecond(),
                median.PerSecond(), ratio(median), spread.low, spread.high);
    if (row.reference.empty()) {
        std::printf(" %9s %7s", "-", "-");
    } else {
        const double reference = ratio(Median(row.reference, ratio));
        std::printf(" %9.3f %7.3f", reference, ratio(median) / reference);
    }
    std::printf(" >= %.2f %s\n", goal, GoalVerdict(ratio(median) >= goal, goals.shown));
    PrintProblems(row.gateCase->name, row.runs);
    PrintProblems("reference", row.reference);
}

void PrintUnpacedHeader() {
    std::printf(
        "\n== Unpaced line (the pseudo-terminal at full speed); CPU time of the thread that "
        "makes the calls, the simulator's thread excluded\n");
    std::printf("%-20s %9s %10s %10s %10s %15s %9s %10s %s\n", "case", "txn/s", "CPU/txn",
                "user/txn", "sys/txn", "CPU (min..max)", "ref txn/s", "ref CPU", "goal");
}

void PrintUnpaced(const CaseRow& row, const Goals& goals) {
    const auto cpu = [](const RunFigures& run) { return run.CpuPerTransaction(); };
    const auto rate = [](const RunFigures& run) { return run.PerSecond(); };
    const RunFigures& median = Median(row.runs, cpu);
    const Spread spread = SpreadOf(row.runs, cpu);
    const double n = static_cast<double>(median.transactions);
    std::printf("%-20s %9.0f %7.1f us %7.1f us %7.1f us %6.1f..%.1f us", row.gateCase->name,
                rate(Median(row.runs, rate)), cpu(median) * 1e6, median.userSeconds / n * 1e6,
                median.systemSeconds / n * 1e6, spread.low * 1e6, spread.high * 1e6);
    if (row.reference.empty()) {
        std::printf(" %9s %10s", "-", "-");
    } else {
        std::printf(" %9.0f %7.1f us", rate(Median(row.reference, rate)),
                    cpu(Median(row.reference, cpu)) * 1e6);
    }
    if (!row.gateCase->write && row.gateCase->shape.kind == jynharness::Kind::kWord) {
        std::printf("  < %.0f us %s", goals.cpuPerWordRead * 1e6,
                    GoalVerdict(cpu(median) < goals.cpuPerWordRead, goals.shown));
    }
    std::printf("\n");
    PrintProblems(row.gateCase->name, row.runs);
    PrintProblems("reference", row.reference);
}

void PrintTimeout(const TimeoutRow& row, const Goals& goals) {
    const double nominal = row.timeoutSeconds * row.attempts;
    const auto overshoot = [&](const TimeoutFigures& run) {
        return (run.seconds - nominal) / row.attempts;
    };
    std::printf(
        "\n== Reply time-out: %.0f ms, a read of a station no CPU on the line has (%d "
        "attempts)\n",
        row.timeoutSeconds * 1e3, row.attempts);
    std::printf("%4s %10s %19s %7s %14s %9s\n", "run", "total", "overshoot/attempt", "result",
                "requests seen", "messages");
    int number = 1;
    for (const TimeoutFigures& run : row.runs) {
        std::printf("%4d %7.1f ms %16.3f ms %7d %14llu %9zu\n", number++, run.seconds * 1e3,
                    overshoot(run) * 1e3, run.result,
                    static_cast<unsigned long long>(run.requestsSeen), run.messages);
    }
    const double median = overshoot(Median(row.runs, overshoot));
    std::printf("median overshoot per attempt %.3f ms   < %.0f ms %s\n", median * 1e3,
                goals.overshootPerAttempt * 1e3,
                GoalVerdict(median < goals.overshootPerAttempt, goals.shown));
}

void PrintProblems(const char* what, const std::vector<RunFigures>& runs) {
    for (const RunFigures& run : runs) {
        if (run.Clean()) continue;
        std::printf("   ! %s: %s\n", what, Trouble(run).c_str());
        return;
    }
}

void PrintPacedTraceCost(const std::vector<CaseRow>& off, const std::vector<CaseRow>& on,
                         const Goals& goals) {
    std::printf(
        "\n== The driver's trace, paced line: median ratio to the line's limit without and "
        "with it; change: the median over the pairs of runs\n");
    std::printf("%-20s %6s %9s %9s %8s %s\n", "case", "baud", "off", "on", "change", "goal");
    for (std::size_t i = 0; i < off.size() && i < on.size(); ++i) {
        const CaseRow& row = off[i];
        const auto ratio = [&row](const RunFigures& run) { return Ratio(run, row.baud); };
        const double without = SpreadOf(row.runs, ratio).median;
        const double with = SpreadOf(on[i].runs, ratio).median;
        const double change = PairedChange(row.runs, on[i].runs, ratio);
        std::printf("%-20s %6u %9.3f %9.3f %+7.2f%% >= -%.0f%% %s\n", row.gateCase->name, row.baud,
                    without, with, change * 100, goals.tracedRatioLoss * 100,
                    GoalVerdict(change >= -goals.tracedRatioLoss, goals.shown));
        PrintProblems("traced", on[i].runs);
    }
}

void PrintUnpacedTraceCost(const std::vector<CaseRow>& off, const std::vector<CaseRow>& on,
                           const Goals& goals) {
    std::printf(
        "\n== The driver's trace, unpaced line: median CPU per transaction without and with "
        "it; change: the median over the pairs of runs\n");
    std::printf("%-20s %10s %10s %8s   %10s %10s %8s %s\n", "case", "off", "on", "change",
                "lowest off", "lowest on", "change", "goal");
    const auto cpu = [](const RunFigures& run) { return run.CpuPerTransaction(); };
    for (std::size_t i = 0; i < off.size() && i < on.size(); ++i) {
        const double without = SpreadOf(off[i].runs, cpu).median;
        const double with = SpreadOf(on[i].runs, cpu).median;
        const double change = PairedChange(off[i].runs, on[i].runs, cpu);
        // Load on the machine only ever adds CPU time: the lowest runs are
        // the nearest to the cost itself.
        const double lowOff = SpreadOf(off[i].runs, cpu).low;
        const double lowOn = SpreadOf(on[i].runs, cpu).low;
        const double lowChange = lowOff > 0 ? lowOn / lowOff - 1 : 0;
        std::printf("%-20s %7.1f us %7.1f us %+7.1f%%   %7.1f us %7.1f us %+7.1f%% <= +%.0f%% %s\n",
                    off[i].gateCase->name, without * 1e6, with * 1e6, change * 100, lowOff * 1e6,
                    lowOn * 1e6, lowChange * 100, goals.tracedCpuRise * 100,
                    GoalVerdict(change <= goals.tracedCpuRise, goals.shown));
        PrintProblems("traced", on[i].runs);
    }
}

void PrintTraceFile(const std::string& path) {
    const auto size = [](const std::string& name) {
        std::error_code failed;
        const auto bytes = std::filesystem::file_size(name, failed);
        return failed ? 0ull : static_cast<unsigned long long>(bytes);
    };
    std::printf("trace %s: %llu bytes, %s.1: %llu bytes\n", path.c_str(), size(path), path.c_str(),
                size(path + ".1"));
}

}  // namespace jynbench
