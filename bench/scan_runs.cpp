// A host's scan with a station switched off: ten word reads of a live
// station and ten of one no CPU answers for, with a 1 s reply time-out, with
// and without the rest a station file's OFFLINE line gives silent stations.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "bench/line_runs.h"
#include "bench/parts.h"
#include "bench/report.h"

namespace jynbench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kScanTimeoutUnits = 100;  // 1 s
constexpr std::size_t kGatesEach = 10;
constexpr double kRestSeconds = 30;
constexpr double kRestPeriods = 2;  // averaged over, after the station was found silent
constexpr int kLiveScans = 20;

// Logical stations 01 (on the line) and 05 (not), D100..D109 on each.
const std::vector<GateCase>& ScanCases() {
    static std::vector<std::string> suffixes;
    static std::vector<GateCase> cases;
    if (!cases.empty()) return cases;
    for (std::size_t i = 0; i < kGatesEach; ++i) suffixes.push_back("WD" + std::to_string(100 + i));
    for (int station : {1, 5}) {
        for (std::size_t i = 0; i < kGatesEach; ++i) {
            const jynharness::GateShape shape = {suffixes[i].c_str(),
                                                 jyn::kGateAnalog16First,
                                                 jynharness::Kind::kWord,
                                                 0,
                                                 "D",
                                                 static_cast<uint32_t>(100 + i),
                                                 0,
                                                 false};
            cases.push_back({suffixes[i].c_str(), station, shape, false});
        }
    }
    return cases;
}

struct Scan {
    double seconds = 0;
    std::size_t probes = 0;  // transfers of the dead station that waited
    double resting = 0;      // the others, each failing at once
    std::string problem;
};

// The gates in order; the live ones must give 0, the dead ones 2.
Scan RunScanOnce(DriverHost& host, std::vector<Gate>& gates, std::size_t count) {
    Scan scan;
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        const auto begin = Clock::now();
        const int32_t result = gates[i].Transfer(host);
        const bool live = i < kGatesEach;
        if (result != (live ? jyn::kOk : jyn::kDriverFailure) && scan.problem.empty())
            scan.problem = gates[i].Text() + ": result " + std::to_string(result);
        const double took = std::chrono::duration<double>(Clock::now() - begin).count();
        if (!live && took > 0.5) ++scan.probes;
        if (!live && took <= 0.5) scan.resting += took;
    }
    scan.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    host.Take();
    return scan;
}

// ColdStart with a station file that holds only the rest.
bool AttachResting(DriverHost& host, BenchLine& line, std::string& error) {
    return AttachWithStationFile(host, line, kScanTimeoutUnits,
                                 "* the bench's scan: silent stations rest\nOFFLINE = " +
                                     std::to_string(static_cast<int>(kRestSeconds)) + "\n",
                                 error);
}

struct ScanRow {
    uint32_t baud;
    double live = 0;         // the live station's ten gates alone, on average
    Scan noRest;             // one whole scan without the rest
    Scan detection;          // the first scan with it
    std::vector<Scan> rest;  // every scan after that
};

bool RunScanLine(DriverHost& host, ScanRow& row) {
    BenchLine line(row.baud, std::chrono::microseconds(0));
    std::string error;
    if (!line.Start(error) || !line.Attach(host, kScanTimeoutUnits, error)) return BenchFail(error);
    std::vector<Gate> gates;
    if (!Gate::ConfigureAll(host, ScanCases(), gates, error)) return BenchFail(error);
    // The average of many, as the scans with the rest are averaged.
    for (int i = 0; i < kLiveScans; ++i) row.live += RunScanOnce(host, gates, kGatesEach).seconds;
    row.live /= kLiveScans;
    std::fprintf(stderr, "scan at %u baud: without the rest (about %.0f s)\n", row.baud,
                 kGatesEach * 10 * kScanTimeoutUnits * 0.01);
    row.noRest = RunScanOnce(host, gates, gates.size());
    if (!AttachResting(host, line, error)) return BenchFail(error);
    std::fprintf(stderr, "scan at %u baud: with OFFLINE = %.0f (about %.0f s)\n", row.baud,
                 kRestSeconds, kRestPeriods * kRestSeconds + 12);
    row.detection = RunScanOnce(host, gates, gates.size());
    const auto start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() <
           kRestPeriods * kRestSeconds + 2) {
        row.rest.push_back(RunScanOnce(host, gates, gates.size()));
    }
    return true;
}

bool PrintScanRow(const ScanRow& row) {
    double total = 0;
    double resting = 0;
    std::size_t probes = 0;
    std::string problem = row.noRest.problem.empty() ? row.detection.problem : row.noRest.problem;
    for (const Scan& scan : row.rest) {
        total += scan.seconds;
        resting += scan.resting;
        probes += scan.probes;
        if (problem.empty()) problem = scan.problem;
    }
    const double n = static_cast<double>(row.rest.size());
    const double timeout = kScanTimeoutUnits * 0.01;
    // The live scan, and one probe time-out for every rest period begun.
    const double allowed = row.live + timeout * std::ceil(total / kRestSeconds) / n;
    std::printf("%6u %9.2f ms %8.1f s %8.1f s %6zu %9.2f ms %6zu %9.2f ms  %s\n", row.baud,
                row.live * 1e3, row.noRest.seconds, row.detection.seconds, row.rest.size(),
                total / n * 1e3, probes, allowed * 1e3, GoalVerdict(total / n <= allowed, true));
    std::printf("%6s of the average: %.3f ms for the ten resting gates, failing at once\n", "",
                resting / n * 1e3);
    if (!problem.empty()) std::printf("   ! %s\n", problem.c_str());
    if (probes < 2) std::printf("   ! fewer than two probes after the detection\n");
    return problem.empty() && probes >= 2;
}

}  // namespace

bool RunScan(DriverHost& host, const FaultBenchOptions& options) {
    std::vector<ScanRow> rows;
    for (uint32_t baud : options.bauds) {
        rows.push_back({baud, 0, {}, {}, {}});
        if (!RunScanLine(host, rows.back())) return false;
    }
    std::printf(
        "\n== Scan: %zu word reads of a live station, then %zu of one that is switched off; reply "
        "time-out %.0f s\n"
        "   without the rest: one whole scan; with OFFLINE = %.0f: the scan that finds the "
        "station silent, then every scan for %.0f s after it (probes: transfers that waited)\n"
        "   goal: the average scan no longer than the live station's scan plus one probe "
        "time-out per %.0f s\n",
        kGatesEach, kGatesEach, kScanTimeoutUnits * 0.01, kRestSeconds, kRestPeriods * kRestSeconds,
        kRestSeconds);
    std::printf("%6s %12s %10s %10s %6s %12s %6s %12s  %s\n", "baud", "live scan", "no rest",
                "detection", "scans", "average", "probes", "allowed", "goal");
    bool clean = true;
    for (const ScanRow& row : rows) clean = PrintScanRow(row) && clean;
    return clean;
}

}  // namespace jynbench
