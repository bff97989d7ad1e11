#include "multiline/bench_lines.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

#include "harness/driver_host.h"
#include "harness/options.h"
#include "harness/work_directory.h"
#include "host/client/driver_library.h"
#include "host/client/records.h"
#include "multiline/bench_timed.h"
#include "harness/thread_messages.h"
#include "sim/pty_server.h"
#include "sim/reference_host.h"

namespace jynmulti {
using jynharness::MessageSorter;
using jynharness::MessagesArrive;
using jynharness::kMessagesLost;

namespace {

constexpr uint32_t kFirstInstance = 7400;  // no station file of these lies anywhere
constexpr uint32_t kTimeoutUnits = 100;    // 1 s: never reached on a good line
const char kGateText[] = "01WD100";

// A pseudo-terminal has no speed; the simulator paces. The driver's 16-bit
// baud field only has to hold a valid rate.
uint16_t DriverBaud(uint32_t lineBaud) {
    if (lineBaud == 0) return 9600;
    return lineBaud <= 57600 ? static_cast<uint16_t>(lineBaud) : 57600;
}

// The lines share one library and its one message route; the driver is
// ended once, at the end, from the first line: the others' contexts stay.
jynharness::HostSettings HostOf(uint32_t instance) {
    jynharness::HostSettings settings;
    settings.instance = instance;
    settings.contextFill = 0;
    settings.keptMessages = 0;
    settings.keepContextUntilExit = true;
    return settings;
}

// One ACPU station 01 on a paced line, answering at once, and the driver
// instance started on it.
class PacedLine {
public:
    PacedLine(const jynhost::DriverLibrary& library, uint32_t baud, uint32_t instance)
        : baud_(baud),
          value_(static_cast<uint16_t>(0x1000 + instance)),
          host_(library, HostOf(instance)) {
        jynsim::LineConfig config;
        jynsim::StationConfig station;
        station.station = 1;
        config.stations.push_back(station);
        config.timing.baud = baud;
        config.timing.bits_per_char = 10;  // 8 data bits, no parity, 1 stop bit
        config.timing.turnaround = std::chrono::microseconds(0);
        line_ = std::make_unique<jynsim::SimulatedLine>(config);
    }
    ~PacedLine() {
        line_->Stop();
    }
    PacedLine(const PacedLine&) = delete;
    PacedLine& operator=(const PacedLine&) = delete;

    bool StartLine(std::string& error) {
        return line_->Start(error) && line_->Sim().SetWord(1, "D100", value_);
    }
    bool Allocate(std::string& error) { return host_.Allocate(error); }
    bool StartDriver(std::string& error) {
        const std::string port = line_->Port().substr(5);
        if (host_.ColdStart(port, kTimeoutUnits, DriverBaud(baud_)) == jyn::kOk) return true;
        error = "ColdStart on " + line_->Port() + " failed";
        return false;
    }
    // A word read through JynMain, and the value it brought checked.
    bool Read(const jyn::GateAddress& address) {
        unsigned char buffer[4] = {};
        jyn::GateRequest request = jynhost::MakeGateRequest(kGateText, address, 0, buffer);
        return host_.Call(jyn::kSingleRead, &request) == jyn::kOk &&
               (buffer[2] | buffer[3] << 8) == value_;
    }
    int32_t Call(uint32_t function, void* params = nullptr) {
        return host_.Call(function, params);
    }
    jynsim::Simulator& Sim() { return line_->Sim(); }
    const std::string& Path() const { return line_->Port(); }
    uint32_t Baud() const { return baud_; }

private:
    uint32_t baud_;
    uint16_t value_;
    jynharness::DriverHost host_;
    std::unique_ptr<jynsim::SimulatedLine> line_;
};

using Lines = std::vector<std::unique_ptr<PacedLine>>;

TimedPlan PlanOf(const BenchOptions& options) {
    TimedPlan plan;
    plan.seconds = options.smoke ? 0 : options.seconds;
    plan.minTransactions = options.smoke ? 3 : 5;
    plan.warmup = options.smoke ? 1 : 3;
    return plan;
}

// The first `count` lines at once, each from a thread of its own.
LinesRun RunDriver(Lines& lines, std::size_t count, const jyn::GateAddress& address,
                   const TimedPlan& plan) {
    LinesRun run;
    run.lines.resize(count);
    StartLine start(count);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            PacedLine& line = *lines[i];
            run.lines[i] = TimedTransfers(
                line.Sim(), [&line, &address] { return line.Read(address); }, plan, start);
        });
    }
    for (std::thread& thread : threads) thread.join();
    return run;
}

// The bare host on the same lines with the frames the driver just sent;
// the driver lets go of each port meanwhile and takes it back after.
LinesRun RunReference(Lines& lines, std::size_t count, const TimedPlan& plan) {
    LinesRun run;
    run.lines.resize(count);
    struct Replay {
        jynsim::Exchange exchange;
        jynsim::ReferenceHost host;
    };
    std::vector<std::unique_ptr<Replay>> hosts;
    for (std::size_t i = 0; i < count; ++i) {
        hosts.push_back(std::make_unique<Replay>());
        lines[i]->Call(jyn::kCloseCom);
        std::string error;
        if (!jynsim::CaptureExchange(lines[i]->Sim(), hosts[i]->exchange, error) ||
            !hosts[i]->host.Open(lines[i]->Path(), error))
            run.lines[i].problem = "no reference host on " + lines[i]->Path() + ": " + error;
    }
    StartLine start(count);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i) {
        if (!run.lines[i].problem.empty()) continue;
        threads.emplace_back([&, i] {
            Replay& replay = *hosts[i];
            run.lines[i] = TimedTransfers(
                lines[i]->Sim(), [&replay] { return replay.host.Transact(replay.exchange); },
                plan, start);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t i = 0; i < count; ++i) {
        hosts[i]->host.Close();
        if (lines[i]->Call(jyn::kReOpenCom) != jyn::kOk) run.lines[i].problem = "ReOpenCom failed";
    }
    return run;
}

double RssBytes() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            double kib = 0;
            status >> kib;
            return kib * 1024;
        }
    }
    return 0;
}

double HeapInUse() { return static_cast<double>(mallinfo2().uordblks); }

// Every baud's lines, as many as the most lines of any case, with the
// driver started on each. The first baud's start is measured: the process's
// memory per line, and what the driver allocates per line at ColdStart.
bool SetUp(const jynhost::DriverLibrary& library, const BenchOptions& options,
           std::vector<Lines>& byBaud, MemoryFigures& memory, std::string& error) {
    const uint32_t most = *std::max_element(options.lines.begin(), options.lines.end());
    uint32_t instance = kFirstInstance;
    for (uint32_t baud : options.bauds) {
        const double rss = RssBytes();
        Lines lines;
        for (uint32_t i = 0; i < most; ++i) {
            lines.push_back(std::make_unique<PacedLine>(library, baud, instance++));
            if (!lines.back()->StartLine(error) || !lines.back()->Allocate(error)) return false;
        }
        const double heap = HeapInUse();
        for (auto& line : lines) {
            if (!line->StartDriver(error)) return false;
        }
        if (byBaud.empty()) {
            memory.lines = most;
            memory.driverHeapPerLine = (HeapInUse() - heap) / most;
            memory.rssPerLine = (RssBytes() - rss) / most;
        }
        byBaud.push_back(std::move(lines));
    }
    return true;
}

bool ParseGate(PacedLine& line, jyn::GateAddress& address, std::string& error) {
    jyn::GateDefinition definition = jynhost::MakeGateDefinition(kGateText, 1, 0);
    if (line.Call(jyn::kSingleAddressParser, &definition) != jyn::kOk) {
        error = std::string("the driver refused ") + kGateText;
        return false;
    }
    address = definition.gateAddress;
    return true;
}

bool Clean(const std::vector<BenchCase>& cases) {
    for (const BenchCase& c : cases) {
        for (const auto* runs : {&c.driver, &c.reference}) {
            for (const LinesRun& run : *runs) {
                if (!run.Problem().empty()) return false;
            }
        }
    }
    return true;
}

// Every case once a round, round after round, so that a burst of load on
// the machine spreads over the cases instead of spoiling one.
void RunRounds(std::vector<Lines>& byBaud, const jyn::GateAddress& address,
               const BenchOptions& options, std::vector<BenchCase>& cases) {
    for (std::size_t b = 0; b < options.bauds.size(); ++b) {
        for (uint32_t count : options.lines) cases.push_back({options.bauds[b], count, {}, {}});
    }
    const TimedPlan plan = PlanOf(options);
    const int rounds = options.smoke ? 1 : options.repeat;
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "several lines: round %d of %d\n", round + 1, rounds);
        for (std::size_t i = 0; i < cases.size(); ++i) {
            Lines& lines = byBaud[i / options.lines.size()];
            cases[i].driver.push_back(RunDriver(lines, cases[i].lines, address, plan));
            if (options.reference)
                cases[i].reference.push_back(RunReference(lines, cases[i].lines, plan));
        }
    }
}

}  // namespace

int RunBench(const BenchOptions& options) {
    // A folder of its own as the current directory: no station file there.
    jynharness::WorkDirectory folder("jyn-multibench");
    MessageSorter sorter;
    jynhost::DriverLibrary library;
    std::vector<Lines> byBaud;
    MemoryFigures memory;
    jyn::GateAddress address{};
    std::string error;
    if (!folder.Ok() || !library.Load(options.driver, error)) {
        std::fprintf(stderr, "jyn_multiline: %s\n", error.empty() ? "no folder" : error.c_str());
        return 2;
    }
    if (!MessagesArrive(library)) {
        std::fprintf(stderr, "jyn_multiline: %s\n", kMessagesLost);
        return 2;
    }
    if (!SetUp(library, options, byBaud, memory, error) ||
        !ParseGate(*byBaud[0][0], address, error)) {
        std::fprintf(stderr, "jyn_multiline: %s\n", error.empty() ? "no folder" : error.c_str());
        return 2;
    }
    jyn::DriverInfo info{};
    library.Call(nullptr, jyn::kGetJynInfo, &info, kFirstInstance);
    memory.contextSize = info.contextSize;
    std::vector<BenchCase> cases;
    RunRounds(byBaud, address, options, cases);
    PrintCases(cases, options);
    if (!options.smoke) PrintGoals(cases);
    PrintMemory(memory);
    byBaud[0][0]->Call(jyn::kEndJyn);  // once, at the end, for every line
    const bool clean = Clean(cases);
    if (!clean) std::printf("\nsome runs were not clean: see the lines marked '!'\n");
    return clean ? 0 : 1;
}

}  // namespace jynmulti
