#include "bench/fault_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "bench/line_runs.h"
#include "harness/work_directory.h"
#include "interface/station_file_names.h"

namespace jynbench {

namespace {

using Clock = std::chrono::steady_clock;
// Between transfers, so that one's late bytes cannot be charged to the next.
constexpr auto kQuiet = std::chrono::milliseconds(20);

}  // namespace

TransferTime TimedTransfer(DriverHost& host, jynsim::Simulator& sim, Gate& gate) {
    TransferTime transfer;
    std::string error;
    gate.Prepare(sim);
    const auto start = Clock::now();
    const int32_t result = gate.Transfer(host);
    transfer.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (result != jyn::kOk) {
        transfer.problem = std::string(gate.Case().name) + ": result " + std::to_string(result);
    } else if (!gate.Verify(sim, error)) {
        transfer.problem = error;
    }
    std::this_thread::sleep_for(kQuiet);
    return transfer;
}

void Timings::Add(const TransferTime& transfer) {
    seconds_.push_back(transfer.seconds);
    if (problem_.empty()) problem_ = transfer.problem;
}

void Timings::PrintProblem(const char* what) const {
    if (!problem_.empty()) std::printf("   ! %s: %s\n", what, problem_.c_str());
}

bool BenchFail(const std::string& error) {
    std::fprintf(stderr, "jyn_bench: %s\n", error.c_str());
    return false;
}

int BenchRefuse(const std::string& error) {
    BenchFail(error);
    return 2;
}

int ExitStatus(bool clean) {
    if (!clean) std::printf("\nsome runs were not clean: see the lines marked '!'\n");
    return clean ? 0 : 1;
}

bool AttachWithStationFile(DriverHost& host, BenchLine& line, uint32_t timeoutUnits,
                           const std::string& contents, std::string& error) {
    const jynharness::WorkDirectory folder("jyn-bench-station");
    if (!folder.Ok()) {
        error = "no folder for the station file";
        return false;
    }
    // The file every instance reads when it has none of its own.
    std::ofstream(jyn::station_file::NamesFor(host.Instance()).name[2]) << contents;
    return line.Attach(host, timeoutUnits, error);
}

}  // namespace jynbench
