// A host's scan with and without the read-ahead (READAHEAD in the station
// file), in the same run on the same line: 64 word gates, 128 bit gates, and
// a mixed plant on two stations. Every value is checked against the
// simulated memory, and between two timed scans the blocks are let age
// past `age`, so that every scan reads its values fresh from the line.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/line_runs.h"
#include "bench/parts.h"
#include "bench/report.h"
#include "harness/catalogue.h"

namespace jynbench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kTimeoutUnits = 50;  // 500 ms
constexpr int kAgeMs = 1000;            // a scan a second, as hosts commonly scan
constexpr uint64_t kSeed = 20240610;    // the plant's values
constexpr int kTimedScans = 2;

using jynharness::Kind;

struct Plant {
    const char* name;
    double goal;  // the scan this many times faster at 9600 baud
    std::vector<jynharness::Gate> gates;
};

// Logical station n is station n, as the default table has it.
void AddGate(Plant& plant, int station, const std::string& suffix, Kind kind, int32_t type,
             const char* device, uint32_t number, uint32_t chars = 0) {
    jynharness::Gate gate =
        jynharness::DefaultTableGate(station, {"", type, kind, 0, device, number, chars, false});
    gate.text += suffix;
    plant.gates.push_back(gate);
}

void AddWords(Plant& plant, int station, int first, int last) {
    for (int d = first; d <= last; ++d)
        AddGate(plant, station, "WD" + std::to_string(d), Kind::kWord, jyn::kGateAnalog16First, "D",
                d);
}

void AddBits(Plant& plant, int station, const char* device, int count, bool hex) {
    char number[8];
    for (int m = 0; m < count; ++m) {
        std::snprintf(number, sizeof number, hex ? "%X" : "%d", m);
        AddGate(plant, station, std::string("B") + device + number, Kind::kBit, jyn::kGateDigital,
                device, m);
    }
}

// Each station: words with holes of 5 and 3 registers, 32-bit values, a
// 20-character string, 32 internal relays and 32 inputs.
void AddReferenceStation(Plant& plant, int station) {
    AddWords(plant, station, 100, 109);
    AddWords(plant, station, 115, 124);
    AddWords(plant, station, 128, 139);
    for (int z = 200; z < 216; z += 2)
        AddGate(plant, station, "WZ" + std::to_string(z), Kind::k32Bit, jyn::kGateAnalog32First,
                "D", z);
    AddGate(plant, station, "WS0300L20", Kind::kString, jyn::kGateString, "D", 300, 20);
    AddBits(plant, station, "M", 32, false);
    AddBits(plant, station, "X", 32, true);
}

std::vector<Plant> Plants() {
    std::vector<Plant> plants(3);
    plants[0] = {"64 word gates", 5.0, {}};
    AddWords(plants[0], 1, 100, 163);
    plants[1] = {"128 bit gates", 8.0, {}};
    AddBits(plants[1], 1, "M", 128, false);
    plants[2] = {"mixed plant, 2 stations", 2.5, {}};
    AddReferenceStation(plants[2], 1);
    AddReferenceStation(plants[2], 2);
    return plants;
}

struct ScanTimes {
    double seconds = 0;  // the average timed scan
    std::size_t wrong = 0;
    std::string problem;
};

void ScanOnce(DriverHost& host, jynsim::Simulator& sim, std::vector<jynharness::Gate>& gates,
              ScanTimes& times) {
    unsigned char buffer[128];
    for (jynharness::Gate& gate : gates) {
        std::memset(buffer, 0x5A, sizeof buffer);
        const int32_t result = host.Transfer(gate, 0, false, buffer);
        if (result != jyn::kOk && times.problem.empty()) {
            times.problem = gate.text + ": result " + std::to_string(result);
        }
        if (result == jyn::kOk && !jynharness::ReadHolds(sim, gate, buffer)) ++times.wrong;
    }
}

// One learning scan, then the timed ones, each after the blocks of the one
// before have aged out.
bool TimeScans(DriverHost& host, BenchLine& line, Plant& plant, int scans, ScanTimes& times) {
    std::string error;
    for (jynharness::Gate& gate : plant.gates) {
        if (!host.Configure(gate, 0, error)) return BenchFail(error);
    }
    ScanOnce(host, line.Line().Sim(), plant.gates, times);
    for (int i = 0; i < scans; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kAgeMs + 50));
        const auto start = Clock::now();
        ScanOnce(host, line.Line().Sim(), plant.gates, times);
        times.seconds += std::chrono::duration<double>(Clock::now() - start).count() / scans;
    }
    host.Take();
    return true;
}

bool RunPlant(DriverHost& host, uint32_t baud, int scans, Plant& plant, ScanTimes (&times)[2]) {
    const std::string files[2] = {"* per-gate reads\n",
                                  "* read-ahead\nREADAHEAD = " + std::to_string(kAgeMs) + "\n"};
    for (int mode = 0; mode < 2; ++mode) {
        BenchLine line(baud, std::chrono::microseconds(0), false, 2);
        std::string error;
        if (!line.Start(error) ||
            !AttachWithStationFile(host, line, kTimeoutUnits, files[mode], error)) {
            return BenchFail(error);
        }
        jynsim::SplitMix rng(kSeed);
        for (const jynharness::Gate& gate : plant.gates) Randomize(line.Line().Sim(), gate, rng);
        if (!TimeScans(host, line, plant, scans, times[mode])) return false;
    }
    return true;
}

bool PrintPlant(uint32_t baud, const Plant& plant, const ScanTimes (&times)[2], bool verdicts) {
    const double speedup = times[1].seconds > 0 ? times[0].seconds / times[1].seconds : 0;
    std::printf("%6u  %-24s %5zu %10.1f ms %10.1f ms %7.1fx %6.1fx  %s\n", baud, plant.name,
                plant.gates.size(), times[0].seconds * 1e3, times[1].seconds * 1e3, speedup,
                plant.goal, GoalVerdict(speedup >= plant.goal, verdicts && baud == 9600));
    bool clean = true;
    for (const ScanTimes& mode : times) {
        if (!mode.problem.empty()) std::printf("   ! %s\n", mode.problem.c_str());
        if (mode.wrong != 0) std::printf("   ! %zu wrong values\n", mode.wrong);
        clean = clean && mode.problem.empty() && mode.wrong == 0;
    }
    return clean;
}

}  // namespace

bool RunReadAhead(DriverHost& host, const FaultBenchOptions& options) {
    std::vector<Plant> plants = Plants();
    const std::vector<uint32_t> bauds =
        options.smoke ? std::vector<uint32_t>{115200} : options.bauds;
    const int scans = options.smoke ? 1 : kTimedScans;
    std::printf(
        "\n== Read-ahead: a whole scan of single reads, per-gate against READAHEAD = %d, the "
        "blocks aged out before every scan\n"
        "   goal at 9600 baud: the scan faster by the factor shown\n",
        kAgeMs);
    std::printf("%6s  %-24s %5s %13s %13s %8s %7s  %s\n", "baud", "plant", "gates", "per gate",
                "read-ahead", "faster", "goal", "");
    bool clean = true;
    for (uint32_t baud : bauds) {
        for (Plant& plant : plants) {
            ScanTimes times[2];
            if (!RunPlant(host, baud, scans, plant, times)) return false;
            clean = PrintPlant(baud, plant, times, !options.smoke) && clean;
        }
    }
    return clean;
}

}  // namespace jynbench
