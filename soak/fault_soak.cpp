#include "soak/fault_soak.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "host/client/records.h"
#include "harness/guarded_values.h"
#include "harness/work_directory.h"

namespace jynsoak {

namespace {

using Clock = std::chrono::steady_clock;
using jynharness::Gate;
constexpr char kStationFile[] = "JYNMB01.INT";

// NAK codes the faulty line answers with, in turn: the transmission errors
// the driver retries, and refusals that end a transaction with 1 or 2.
const uint8_t kNakCodes[] = {0x02, 0x06, 0x01, 0x08, 0x04, 0x10, 0x05, 0x11, 0x12, 0x03};
constexpr uint64_t kPhaseLength = 250;  // transactions between NAK code changes

// A read (not the loopback) of the transaction's own station.
bool ExtraRead(const jynsim::RequestRecord& r, int station) {
    return r.station == station && !r.write && r.command.size() == 2 && r.command[1] == 'R';
}

jynharness::HostSettings HostOf(const SoakOptions& options) {
    jynharness::HostSettings settings;
    settings.logDelayMs = options.slowLogMs;
    return settings;
}

}  // namespace

FaultSoak::FaultSoak(SoakOptions options)
    : options_(std::move(options)), rng_(options_.seed), driver_(HostOf(options_)) {}

FaultSoak::~FaultSoak() {
    if (line_) line_->Stop();
}

bool FaultSoak::Setup(std::string& error) {
    return EnterFolder(error) && StartLine(error) && StartDriver(error) && ParseGates(error);
}

// The driver reads its station file from the current directory.
bool FaultSoak::EnterFolder(std::string& error) {
    folder_ = std::make_unique<jynharness::WorkDirectory>("jyn-soak");
    if (!folder_->Ok()) {
        error = "no private folder";
        return false;
    }
    std::ofstream file(kStationFile);
    file << jynharness::StationFileText();
    if (options_.readAheadMs != 0) file << "READAHEAD = " << options_.readAheadMs << "\n";
    return true;
}

bool FaultSoak::StartLine(std::string& error) {
    jynsim::LineConfig config = jynharness::LineOf(jynharness::Stations());
    config.timing.baud = options_.baud;
    config.queue_behind_late_answer = options_.lateQueue;
    config.noise.bit_error_rate = options_.noise;
    config.noise.seed = options_.seed;
    line_ = std::make_unique<jynsim::SimulatedLine>(config);
    if (!line_->Start(error)) return false;
    gates_ = jynharness::Catalogue(options_.readAheadMs != 0);
    for (const Gate& gate : gates_) Randomize(line_->Sim(), gate, rng_);
    SetFaults(0);
    return true;
}

namespace {

// The station behaviours, in reply time-outs: a busy longer than the
// driver's ten attempts; answers 1.1 time-outs late with up to half a
// time-out (at least 10 ms) of jitter, for 20 time-outs; a turnaround from
// 10 ms to 0.8 time-outs; the own answer up to two time-outs after another
// station's NAK; a line that drips a byte every 0.9 time-outs (90 ms at
// 100 ms) for 5 s.
void SetBehaviours(jynsim::RandomFaults& faults, std::chrono::milliseconds timeout,
                   int32_t jitterMs) {
    using std::chrono::milliseconds;
    faults.busy_delay = timeout * 11;
    faults.busy_delay_max = timeout * 15;
    faults.late_delay = timeout * 11 / 10;
    faults.late_jitter = jitterMs >= 0
                             ? milliseconds(jitterMs)
                             : std::max<std::chrono::microseconds>(milliseconds(10), timeout / 2);
    faults.late_span = timeout * 20;
    faults.turnaround_delay = milliseconds(10);
    faults.turnaround_delay_max = std::max<std::chrono::microseconds>(milliseconds(10), timeout * 4 / 5);
    faults.foreign_after_max = timeout * 2;
    faults.drip_span = milliseconds(5000);
    faults.drip_interval_ms = std::max(1, static_cast<int>(timeout.count() * 9 / 10));
}

}  // namespace

void FaultSoak::SetFaults(uint64_t phase) {
    jynsim::RandomFaults faults;
    faults.seed = options_.seed + phase;
    if (options_.classes.empty()) {
        std::fill_n(faults.probability.begin(), jynsim::kReplyFaultKindCount,
                    options_.faultShare / jynsim::kReplyFaultKindCount);
    } else {
        for (const jynsim::FaultKind kind : options_.classes)
            faults.probability[static_cast<std::size_t>(kind)] =
                options_.faultShare / static_cast<double>(options_.classes.size());
    }
    // A drip holds the line for seconds: a quarter of a class's share.
    faults.probability[static_cast<std::size_t>(jynsim::FaultKind::kDrip)] /= 4;
    faults.nak_code = kNakCodes[phase % sizeof kNakCodes];
    // Slower than the driver's reply time-out, so that it gives up waiting.
    const auto timeout = std::chrono::milliseconds(10 * options_.timeoutUnits);
    if (options_.slowMs != 0) {
        faults.slow_delay = std::chrono::milliseconds(options_.slowMs);
    } else {
        faults.slow_delay = timeout * 6 / 5;
        faults.slow_delay_max = timeout * 4;
    }
    // In the middle of the attempt's wait.
    faults.foreign_delay_max = timeout;
    SetBehaviours(faults, timeout, options_.jitterMs);
    line_->Sim().SetRandomFaults(faults);
}

bool DrawsBehaviours(const SoakOptions& options) {
    return std::any_of(options.classes.begin(), options.classes.end(), jynsim::IsStationBehaviour);
}

uint64_t TransactionBoundMicros(const SoakOptions& options) {
    const auto& classes = options.classes;
    if (std::find(classes.begin(), classes.end(), jynsim::FaultKind::kDrip) == classes.end())
        return 0;
    // The longest answer: 256 bits read, framed, 11 bits a character at most.
    const uint64_t answer = 264ull * 11 * 1000000 / DriverBaud(options);
    const uint64_t attempt = 10000ull * options.timeoutUnits + answer + 100000;
    return 10 * attempt + 1000000 + 10000ull * options.slowLogMs;
}

uint16_t DriverBaud(const SoakOptions& options) {
    constexpr uint32_t kFastest = 57600;
    if (options.driverBaud != 0) return static_cast<uint16_t>(options.driverBaud);
    return static_cast<uint16_t>(options.baud != 0 && options.baud <= kFastest ? options.baud
                                                                               : kFastest);
}

bool FaultSoak::StartDriver(std::string& error) {
    if (!driver_.Load(options_.driver, error)) return false;
    const std::string port = line_->Port().substr(std::strlen("/dev/"));
    if (driver_.ColdStart(port, options_.timeoutUnits, DriverBaud(options_)) != jyn::kOk) {
        error = "ColdStart on " + port + " failed";
        return false;
    }
    for (const jynharness::Station& s : jynharness::Stations()) {
        const jyn::StationEntry& entry = driver_.Context().stationTable[s.logical];
        const uint8_t cpu = s.family == jynsim::CpuFamily::kAnAcpu ? 1 : 0;
        if (entry.stationNumber != s.station || entry.pcNumber != s.pc || entry.cpuType != cpu) {
            error = "the station file was not applied";
            return false;
        }
    }
    return true;
}

bool FaultSoak::ParseGates(std::string& error) {
    for (Gate& gate : gates_) {
        jyn::GateDefinition definition =
            jynhost::MakeGateDefinition(gate.text.c_str(), gate.shape.gateType, gate.shape.block);
        if (driver_.Call(jynhost::ParserFunction(gate.shape.block), &definition) != jyn::kOk) {
            error = "the driver refused the gate " + gate.text;
            return false;
        }
        gate.address = definition.gateAddress;
    }
    return true;
}

void FaultSoak::Run() {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < options_.transactions; ++i) {
        if (options_.seconds > 0 &&
            std::chrono::duration<double>(Clock::now() - start).count() > options_.seconds) {
            break;
        }
        if (i > 0 && i % kPhaseLength == 0) SetFaults(i / kPhaseLength);
        RunOne();
    }
    tally_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
}

// Half of the time the next gate is like the last one, as a host scans a
// station's table of like gates: the same station, and an answer of the
// same shape (ACKs; data replies of the same length). An answer left over
// from the last transaction is then one the next could take for its own.
// Never the same gate twice in a row, so that requests tell their gate.
std::size_t FaultSoak::NextGate(bool write) {
    const Gate& last = gates_[previousGate_];
    std::vector<std::size_t> like;
    for (std::size_t i = 0; i < gates_.size() && tally_.transactions > 0; ++i) {
        const Gate& gate = gates_[i];
        if (i != previousGate_ && gate.station.logical == last.station.logical &&
            write == previousWrite_ && (write || ReplyDataChars(gate) == ReplyDataChars(last))) {
            like.push_back(i);
        }
    }
    if (!like.empty() && (rng_.Next() & 1) != 0) return like[rng_.Next() % like.size()];
    const std::size_t index = rng_.Next() % gates_.size();
    return index == previousGate_ ? (index + 1) % gates_.size() : index;
}

// Read-ahead runs: now and then a value changes in the PLC as a running
// program changes it, and every gate that sees it keeps what it held before.
void FaultSoak::ChangeBehindTheDriver() {
    jynsim::Simulator& sim = line_->Sim();
    former_.resize(gates_.size());
    std::vector<std::vector<uint8_t>> before;
    for (const Gate& gate : gates_) before.push_back(Expected(sim, gate));
    Randomize(sim, gates_[rng_.Next() % gates_.size()], rng_);
    const auto now = Clock::now();
    const auto forgotten = now - std::chrono::milliseconds(options_.readAheadMs + 1000);
    for (std::size_t i = 0; i < gates_.size(); ++i) {
        std::vector<FormerValue>& former = former_[i];
        while (!former.empty() && former.front().replaced < forgotten) former.erase(former.begin());
        if (Expected(sim, gates_[i]) != before[i]) former.push_back({before[i], now});
    }
}

void FaultSoak::RunOne() {
    if (options_.readAheadMs != 0 && rng_.Next() % 4 == 0) ChangeBehindTheDriver();
    Transaction t;
    t.write = (rng_.Next() & 1) != 0;
    const std::size_t index = NextGate(t.write);
    t.gate = &gates_[index];
    t.index = index;
    jynharness::GuardedValues values(OwnedBytes(*t.gate, t.write), static_cast<uint8_t>(rng_.Next()));
    t.values = &values;
    if (t.write) NewWriteData(line_->Sim(), *t.gate, rng_, values.Data());
    t.sent.assign(values.Data(), values.Data() + values.Owned());

    jyn::GateRequest request = jynhost::MakeGateRequest(t.gate->text.c_str(), t.gate->address,
                                                        t.gate->shape.block, values.Data());
    const uint32_t code = jynhost::TransferFunction(t.gate->shape.block, t.write);
    driver_.Take();
    // Everything since the last transaction began, late bytes included.
    jynsim::DumpTrafficIfAsked(line_->Sim().Traffic(), "soak");
    line_->Sim().ClearTraffic();
    const auto begin = Clock::now();
    t.begin = begin;
    t.result = driver_.Call(code, &request);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin);
    tally_.maxMicros = std::max<uint64_t>(tally_.maxMicros, static_cast<uint64_t>(micros.count()));
    const uint64_t bound = TransactionBoundMicros(options_);
    t.overlong = bound != 0 && static_cast<uint64_t>(micros.count()) > bound;
    Sort(t, NewRecords());
    Judge(t);
    lastTraffic_.push_back(line_->Sim().TrafficLines());
    if (lastTraffic_.size() > 3) lastTraffic_.pop_front();
    previousGate_ = index;
    previousWrite_ = t.write;
}

// The simulator's records of requests that completed since the last look.
std::vector<jynsim::RequestRecord> FaultSoak::NewRecords() {
    return line_->Sim().WithEngine([this](jynsim::LineEngine& engine) {
        std::vector<jynsim::RequestRecord> out;
        const auto& records = engine.Records();
        for (auto it = records.rbegin(); it != records.rend() && it->seq > lastSeq_; ++it) {
            out.insert(out.begin(), *it);
        }
        if (!out.empty()) lastSeq_ = out.back().seq;
        return out;
    });
}

// Requests are told apart by station, direction and first device: the soak
// never runs the same gate twice in a row.
void FaultSoak::Sort(Transaction& t, const std::vector<jynsim::RequestRecord>& records) {
    const auto matches = [](const jynsim::RequestRecord& r, const Gate& gate, bool write) {
        return r.station == gate.station.station && r.write == write && r.device &&
               *r.device == FirstDevice(gate);
    };
    for (const jynsim::RequestRecord& record : records) {
        // Noise may have changed its station or device: sent all the same.
        if (matches(record, *t.gate, t.write) || record.noise_in > 0) {
            t.own.push_back(record);
        } else if (tally_.transactions > 0 &&
                   matches(record, gates_[previousGate_], previousWrite_)) {
            ++tally_.lateRecords;
        } else if (ExtraRead(record, t.gate->station.station)) {
            // A read the driver chose itself (to resynchronise with the
            // station): it changes nothing, and its faults explain a failure.
            ++tally_.extraReads;
            t.own.push_back(record);
        } else {
            ++tally_.strayRecords;
        }
    }
}

}  // namespace jynsoak
