#include "bench/trace_cost.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace jynbench {

namespace {

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

void PrintPacedTraceCost(const std::vector<CaseRow>& off, const std::vector<CaseRow>& on,
                         const TraceCostGoals& goals, bool verdicts) {
    std::printf(
        "\n== The driver's trace, paced line: median ratio to the line's limit without and "
        "with it; change: the median over the pairs of runs\n");
    std::printf("%-20s %6s %9s %9s %8s %s\n", "case", "baud", "off", "on", "change", "goal");
    for (std::size_t i = 0; i < off.size() && i < on.size(); ++i) {
        const CaseRow& row = off[i];
        const auto ratio = [&row](const RunFigures& run) {
            return Ratio(run, row.baud);
        };
        const double without = SpreadOf(row.runs, ratio).median;
        const double with = SpreadOf(on[i].runs, ratio).median;
        const double change = PairedChange(row.runs, on[i].runs, ratio);
        std::printf("%-20s %6u %9.3f %9.3f %+7.2f%% >= -%.0f%% %s\n", row.gateCase->name, row.baud,
                    without, with, change * 100, goals.pacedRatioLoss * 100,
                    GoalVerdict(change >= -goals.pacedRatioLoss, verdicts));
        PrintProblems("traced", on[i].runs);
    }
}

void PrintUnpacedTraceCost(const std::vector<CaseRow>& off, const std::vector<CaseRow>& on,
                           const TraceCostGoals& goals, bool verdicts) {
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
                    lowOn * 1e6, lowChange * 100, goals.cpuRise * 100,
                    GoalVerdict(change <= goals.cpuRise, verdicts));
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
