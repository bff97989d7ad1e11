// jyn_lifecycle_soak: what a host does over and over to a driver in the
// course of a long life, checked for file descriptors and memory left
// behind. Usage: jyn_lifecycle_soak [--cycles N] [--driver PATH]
//   reload   load, ColdStart, read, EndJyn, unload (the ended flag is for
//            the whole process, so only a fresh load can start again), and
//            the loader must really have let the library go;
//   port     CloseCom and ReOpenCom on one started instance;
//   restart  ColdStart again on an instance that is started and open;
//   switch   ChangeJynParams between the ports of two simulated lines.
// Every few cycles a read must still bring the simulator's value.
#include <dirent.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "harness/driver_host.h"
#include "harness/guarded_values.h"
#include "harness/options.h"
#include "host/client/records.h"
#include "sim/pty_server.h"

namespace {

using jynharness::DriverHost;

constexpr char kGate[] = "01WD100";
constexpr uint32_t kTimeoutUnits = 5;

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.' ? 1 : 0;
        closedir(dir);
    }
    return count;
}

// Bytes the C library's allocator has handed out; under AddressSanitizer
// the allocator is its own and LeakSanitizer does this job at exit.
long long HeapInUse() {
#if defined(JYN_HARNESS_ASAN)
    return -1;
#else
    return static_cast<long long>(mallinfo2().uordblks);
#endif
}

jynsim::LineConfig OneStation() {
    jynsim::LineConfig config;
    jynsim::StationConfig station;
    station.station = 1;
    config.stations.push_back(station);
    config.timing.turnaround = std::chrono::milliseconds(1);
    // The simulator lives in this process: its traffic log and request
    // records would otherwise grow with every cycle and hide the driver's.
    config.log_capacity = 0;
    config.record_capacity = 0;
    return config;
}

std::string PortName(jynsim::SimulatedLine& line) {
    return line.Port().substr(std::strlen("/dev/"));
}

bool Load(DriverHost& host, const std::string& path) {
    std::string error;
    if (host.Load(path, error)) return true;
    std::fprintf(stderr, "load: %s\n", error.c_str());
    return false;
}

bool ColdStart(DriverHost& host, const std::string& port) {
    return host.ColdStart(port, kTimeoutUnits) == jyn::kOk;
}

bool ChangePort(DriverHost& host, const std::string& port) {
    jyn::PortChangeParams params = jynhost::MakePortChange(port, jynhost::kKeepReplyTimeout);
    return host.Call(jyn::kChangeJynParams, &params) == jyn::kOk;
}

// A read of the word gate must return 0 with the value the line holds.
bool ReadMatches(DriverHost& host, jynsim::Simulator& sim) {
    jyn::GateDefinition gate = jynhost::MakeGateDefinition(kGate, 1, 0);
    if (host.Call(jyn::kSingleAddressParser, &gate) != jyn::kOk) return false;
    const uint16_t value = static_cast<uint16_t>(std::rand());
    sim.SetWord(1, "D100", value);
    jynharness::GuardedValues values(4, 0);
    jyn::GateRequest request = jynhost::MakeGateRequest(kGate, gate.gateAddress, 0, values.Data());
    if (host.Call(jyn::kSingleRead, &request) != jyn::kOk) return false;
    return (values.Data()[2] | values.Data()[3] << 8) == value && values.GuardsIntact();
}

struct Check {
    const char* name;
    std::function<bool(int cycle)> cycle;  // false: the check failed in this cycle
};

bool RunCycles(DriverHost& host, const Check& check, int from, int to) {
    for (int i = from; i < to; ++i) {
        host.Take();
        if (!check.cycle(i)) {
            std::printf("%-8s failed in cycle %d\n", check.name, i);
            return false;
        }
    }
    return true;
}

// The first half of the cycles warms up what the C library, the loader and
// the simulator allocate once (buffers that grow to their working size); the
// second half must then leave the heap and the descriptors exactly as they
// were. LeakSanitizer or valgrind judge the whole run at exit.
bool RunCheck(DriverHost& host, const Check& check, int cycles) {
    const int half = cycles / 2;
    const std::size_t fdsStart = OpenDescriptors();
    if (!RunCycles(host, check, 0, half)) return false;
    const std::size_t fdsBefore = OpenDescriptors();
    const long long heapBefore = HeapInUse();
    if (!RunCycles(host, check, half, cycles)) return false;
    const std::size_t fdsAfter = OpenDescriptors();
    const long long heapAfter = HeapInUse();
    // The first cycle of "port" opens the one port the later ones reuse.
    const bool ok = fdsAfter == fdsBefore && fdsBefore <= fdsStart + 1 && heapAfter == heapBefore;
    std::printf("%-8s %5d cycles  descriptors %zu, %zu -> %zu  heap bytes %lld -> %lld  %s\n",
                check.name, cycles, fdsStart, fdsBefore, fdsAfter, heapBefore, heapAfter,
                ok ? "ok" : "LEAK");
    return ok;
}

std::vector<Check> MakeChecks(DriverHost& host, const std::string& path,
                              jynsim::SimulatedLine& line, jynsim::SimulatedLine& other) {
    const std::string port = PortName(line);
    const std::string otherPort = PortName(other);
    return {
        {"reload",
         [&host, &line, path, port](int) {
             if (!Load(host, path)) return false;
             bool ok = ColdStart(host, port) && ReadMatches(host, line.Sim()) &&
                       host.Call(jyn::kEndJyn) == jyn::kOk;
             // Ended: every call returns 0 at once and touches nothing.
             jyn::DriverInfo info;
             std::memset(&info, 0xEE, sizeof info);
             ok = ok && host.Call(jyn::kGetJynInfo, &info) == jyn::kOk &&
                  info.contextSize == 0xEEEEEEEEu;
             host.Unload();
             return ok && !jynhost::DriverLibrary::StillLoaded(path);
         }},
        {"port",
         [&host, &line, path, port](int i) {
             if (i == 0 && !(Load(host, path) && ColdStart(host, port))) return false;
             return host.Call(jyn::kCloseCom) == jyn::kOk &&
                    host.Call(jyn::kReOpenCom) == jyn::kOk &&
                    (i % 10 != 0 || ReadMatches(host, line.Sim()));
         }},
        {"restart",
         [&host, &line, port](int i) {
             return ColdStart(host, port) && (i % 10 != 0 || ReadMatches(host, line.Sim()));
         }},
        {"switch",
         [&host, &line, &other, port, otherPort](int i) {
             jynsim::SimulatedLine& now = i % 2 == 0 ? other : line;
             return ChangePort(host, i % 2 == 0 ? otherPort : port) &&
                    (i % 10 > 1 || ReadMatches(host, now.Sim()));
         }},
    };
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 200;
    std::string path = jynhost::DriverBesideExecutable();
    if (!jynharness::ParseOptions(
            argc, argv,
            {jynharness::Whole("--cycles", cycles, 2, 1e6), jynharness::Driver(path)})) {
        std::fputs("usage: jyn_lifecycle_soak [--cycles N] [--driver PATH]\n", stderr);
        return 2;
    }
    jynsim::SimulatedLine line(OneStation());
    jynsim::SimulatedLine other(OneStation());
    std::string error;
    if (!line.Start(error) || !other.Start(error)) {
        std::fprintf(stderr, "jyn_lifecycle_soak: %s\n", error.c_str());
        return 2;
    }
    DriverHost host;
    bool ok = true;
    for (const Check& check : MakeChecks(host, path, line, other))
        ok = RunCheck(host, check, cycles) && ok;
    host.Call(jyn::kEndJyn);
    host.Unload();
    std::printf("=== %s\n", ok ? "PASSED" : "FAILED");
    return ok ? 0 : 1;
}
