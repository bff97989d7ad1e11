// The bench of several lines as it prints: medians of the rounds with the
// lowest and highest, against the goals.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "multiline/bench_lines.h"

namespace jynmulti {

namespace {

struct Spread {
    double median = 0;
    double low = 0;
    double high = 0;
};

template <typename T>
Spread SpreadOf(const std::vector<T>& runs, const std::function<double(std::size_t)>& key) {
    std::vector<double> values;
    for (std::size_t i = 0; i < runs.size(); ++i) values.push_back(key(i));
    Spread spread;
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    spread.median = values[values.size() / 2];
    spread.low = values.front();
    spread.high = values.back();
    return spread;
}

Spread WorstRatio(const BenchCase& c) {
    return SpreadOf(c.driver, [&c](std::size_t i) { return c.driver[i].WorstRatio(c.baud); });
}

Spread Total(const BenchCase& c) {
    return SpreadOf(c.driver, [&c](std::size_t i) { return c.driver[i].Total(); });
}

Spread Cpu(const std::vector<LinesRun>& runs) {
    return SpreadOf(runs, [&runs](std::size_t i) { return runs[i].CpuPerTransaction(); });
}

// Each round's driver run against the reference host's right after it.
Spread AgainstReference(const BenchCase& c) {
    if (c.reference.size() != c.driver.size()) return Spread{};
    return SpreadOf(
        c.driver, [&c](std::size_t i) { return c.driver[i].WorstAgainst(c.reference[i], c.baud); });
}

const BenchCase* Find(const std::vector<BenchCase>& cases, uint32_t baud, uint32_t lines) {
    for (const BenchCase& c : cases) {
        if (c.baud == baud && c.lines == lines) return &c;
    }
    return nullptr;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

void PrintProblems(const BenchCase& c) {
    for (const auto* runs : {&c.driver, &c.reference}) {
        for (const LinesRun& run : *runs) {
            if (run.Problem().empty()) continue;
            std::printf("   ! %u baud, %u lines, %s: %s\n", c.baud, c.lines,
                        runs == &c.driver ? "driver" : "reference", run.Problem().c_str());
            break;
        }
    }
}

}  // namespace

double LinesRun::WorstRatio(uint32_t baud) const {
    double worst = lines.empty() ? 0 : lines.front().Ratio(baud);
    for (const LineFigures& line : lines) worst = std::min(worst, line.Ratio(baud));
    return worst;
}

double LinesRun::MeanRatio(uint32_t baud) const {
    double sum = 0;
    for (const LineFigures& line : lines) sum += line.Ratio(baud);
    return lines.empty() ? 0 : sum / lines.size();
}

double LinesRun::Total() const {
    double sum = 0;
    for (const LineFigures& line : lines) sum += line.PerSecond();
    return sum;
}

double LinesRun::CpuPerTransaction() const {
    double cpu = 0, transactions = 0;
    for (const LineFigures& line : lines) {
        cpu += line.cpuSeconds;
        transactions += static_cast<double>(line.transactions);
    }
    return transactions > 0 ? cpu / transactions : 0;
}

double LinesRun::WorstAgainst(const LinesRun& reference, uint32_t baud) const {
    double worst = 0;
    for (std::size_t i = 0; i < lines.size() && i < reference.lines.size(); ++i) {
        const double against = lines[i].Ratio(baud) / reference.lines[i].Ratio(baud);
        worst = i == 0 ? against : std::min(worst, against);
    }
    return worst;
}

std::string LinesRun::Problem() const {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].problem.empty()) return "line " + std::to_string(i) + ": " + lines[i].problem;
    }
    return "";
}

namespace {

// The paced line's columns: each line against its limit and against the
// reference host. An unpaced line has no limit.
void PrintRatios(const BenchCase& c) {
    if (c.baud == 0) {
        std::printf(" %20s %6s %8s %20s", "-", "-", "-", "-");
        return;
    }
    const Spread worst = WorstRatio(c);
    const double mean = c.driver.empty() ? 0 : c.driver.front().MeanRatio(c.baud);
    std::printf(" %6.3f (%.3f..%.3f) %6.3f", worst.median, worst.low, worst.high, mean);
    if (c.reference.empty()) {
        std::printf(" %8s %20s", "-", "-");
        return;
    }
    const Spread ref =
        SpreadOf(c.reference, [&c](std::size_t i) { return c.reference[i].WorstRatio(c.baud); });
    const Spread against = AgainstReference(c);
    std::printf(" %8.3f %6.3f (%.3f..%.3f)", ref.median, against.median, against.low, against.high);
}

void PrintRow(const BenchCase& c, const std::vector<BenchCase>& cases) {
    const std::string baud = c.baud == 0 ? "unpaced" : std::to_string(c.baud);
    std::printf("%7s %5u", baud.c_str(), c.lines);
    PrintRatios(c);
    const Spread total = Total(c), cpu = Cpu(c.driver);
    const BenchCase* one = Find(cases, c.baud, 1);
    std::printf(" %11.1f %7.2fx %6.1f us (%.1f..%.1f) %7.2fx", total.median,
                one ? total.median / Total(*one).median : 0, cpu.median * 1e6, cpu.low * 1e6,
                cpu.high * 1e6, one ? cpu.median / Cpu(one->driver).median : 0);
    std::printf(" %7.1f us\n", c.reference.empty() ? 0 : Cpu(c.reference).median * 1e6);
    PrintProblems(c);
}

}  // namespace

void PrintCases(const std::vector<BenchCase>& cases, const BenchOptions& options) {
    std::printf(
        "\n== Several lines at once: a word read (01WD100) on each line, one driver instance and"
        " one host thread a line; 10 bits a character, station turnaround 0\n"
        "   ratio: each line's limit / its measured time per transaction; worst: the line"
        " furthest from its limit\n"
        "   reference: a bare host replaying the driver's frames on as many lines at once;"
        " drv/ref: the worst line's ratio against the reference's on that line\n"
        "   CPU/txn: the host threads' CPU over all lines / all transactions; on a paced line the"
        " simulator's pacing decides how many reads a reply takes\n"
        "   medians of %d rounds (lowest..highest)\n",
        options.smoke ? 1 : options.repeat);
    std::printf("%7s %5s %20s %6s %8s %20s %11s %8s %24s %8s %10s\n", "baud", "lines",
                "worst ratio", "mean", "ref", "drv/ref", "total txn/s", "x 1 line", "CPU/txn",
                "x 1 line", "ref CPU");
    for (const BenchCase& c : cases) PrintRow(c, cases);
}

void PrintGoals(const std::vector<BenchCase>& cases) {
    std::printf("\n== Goals\n");
    if (const BenchCase* c = Find(cases, 9600, 8)) {
        const double worst = WorstRatio(*c).median;
        std::printf("each line's ratio to its limit, 8 lines at 9600: %.3f  >= 0.97 %s\n", worst,
                    Verdict(worst >= 0.97));
    }
    if (const BenchCase* c = Find(cases, 115200, 4); c && !c->reference.empty()) {
        const double against = AgainstReference(*c).median;
        std::printf("each line against the reference host, 4 lines at 115200: %.3f  >= 0.97 %s\n",
                    against, Verdict(against >= 0.97));
    }
    const BenchCase* one = Find(cases, 9600, 1);
    const BenchCase* eight = Find(cases, 9600, 8);
    if (one && eight) {
        const double scale = Total(*eight).median / Total(*one).median;
        std::printf("total transactions/s, 8 lines against 1 at 9600: %.2fx  >= 7.6x %s\n", scale,
                    Verdict(scale >= 7.6));
    }
    const BenchCase* single = Find(cases, 0, 1);
    if (const BenchCase* c = Find(cases, 0, 8); c && single) {
        const Spread many = Cpu(c->driver), few = Cpu(single->driver);
        const double change = many.median / few.median - 1;
        std::printf(
            "CPU per transaction, 8 lines against 1, unpaced: %.1f us (%.1f..%.1f) against"
            " %.1f us (%.1f..%.1f), %+.1f%%  within 25%% %s\n",
            many.median * 1e6, many.low * 1e6, many.high * 1e6, few.median * 1e6, few.low * 1e6,
            few.high * 1e6, 100 * change, Verdict(change <= 0.25 && change >= -0.25));
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

}  // namespace jynmulti
