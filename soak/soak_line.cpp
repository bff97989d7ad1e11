#include "soak/soak_line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "interface/station_file_names.h"

namespace jynsoak {

namespace {

using Clock = std::chrono::steady_clock;
using jynharness::Gate;

constexpr uint32_t kFirstInstance = 11;  // of a run with several lines; one line is instance 1
// NAK codes the faulty lines answer with, in turn: the transmission errors
// the driver retries, and refusals that end a transaction with 1 or 2.
const uint8_t kNakCodes[] = {0x02, 0x06, 0x01, 0x08, 0x04, 0x10, 0x05, 0x11, 0x12, 0x03};
constexpr uint64_t kPhaseLength = 250;  // transactions between NAK code changes
constexpr uint64_t kCommandEvery = 20;  // transactions between port commands
// With several lines, each line's fault rate against the busiest line's.
// Every fourth line has none and so never logs: the host's log is one lock
// for all lines, and a line that takes it is ordered after the others by
// it, which would hide a missing lock in the driver from ThreadSanitizer.
// That line is paced, or it would outrun the others many times over, with a
// reply time-out that holds its longest frames (280 characters are 73 ms at
// 38400 baud).
const double kShareSteps[] = {0.6, 1.0, 0.0, 0.8};
constexpr uint32_t kQuietLineBaud = 38400;
constexpr uint32_t kQuietLineTimeoutUnits = 20;
// A host keeps scanning a dead line, but not in a tight loop.
constexpr auto kDeadLinePace = std::chrono::milliseconds(20);

// The lines share one library; each sorts its messages by thread, and only
// line 0 ends the driver, which leaves the others' contexts in use.
jynharness::HostSettings HostOf(const SoakOptions& options, int index) {
    jynharness::HostSettings settings;
    settings.instance = options.lines == 1 ? 1 : kFirstInstance + static_cast<uint32_t>(index);
    settings.keptMessages = 0;
    settings.keepContextUntilExit = true;
    return settings;
}

// Every line numbers its stations differently, so that a line that read
// another line's station file addresses stations nobody has.
int Shifted(int station, int index) { return (station + 3 * index) % 0x20; }

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
    faults.turnaround_delay_max =
        std::max<std::chrono::microseconds>(milliseconds(10), timeout * 4 / 5);
    faults.foreign_after_max = timeout * 2;
    faults.drip_span = milliseconds(5000);
    faults.drip_interval_ms = std::max(1, static_cast<int>(timeout.count() * 9 / 10));
}

}  // namespace

const char* RoleName(Role role) {
    switch (role) {
        case Role::kPortCommands: return "port commands";
        case Role::kVanishing: return "port vanishes";
        case Role::kPlain: break;
    }
    return "plain";
}

uint64_t TransactionBoundMicros(const SoakOptions& options, uint32_t lineBaud) {
    const auto& classes = options.classes;
    if (std::find(classes.begin(), classes.end(), jynsim::FaultKind::kDrip) == classes.end())
        return 0;
    // The longest answer: 256 bits read, framed, 11 bits a character at most.
    const uint64_t answer = 264ull * 11 * 1000000 / DriverBaud(options, lineBaud);
    const uint64_t attempt = 10000ull * options.timeoutUnits + answer + 100000;
    return 10 * attempt + 1000000 + 10000ull * options.slowLogMs;
}

uint16_t DriverBaud(const SoakOptions& options, uint32_t lineBaud) {
    if (options.driverBaud != 0) return static_cast<uint16_t>(options.driverBaud);
    return jynharness::DriverBaudFor(lineBaud);
}

SoakLine::SoakLine(const jynhost::DriverLibrary& library, int index, Role role,
                   const SoakOptions& options)
    : options_(options),
      index_(index),
      role_(role),
      share_(options.faultShare * (options.lines == 1 ? 1.0 : kShareSteps[index % 4])),
      host_(library, HostOf(options, index)),
      rng_(options.seed + 7919u * static_cast<uint64_t>(index)),
      judge_(options.lines == 1 ? -1 : index, options.readAheadMs, options.verbose) {
    for (jynharness::Station station : jynharness::Stations()) {
        station.station = Shifted(station.station, index);
        stations_.push_back(station);
    }
    // With several lines, each leaves out a different quarter of the catalogue.
    const std::vector<Gate> catalogue = jynharness::Catalogue(options.readAheadMs != 0);
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        if (options.lines > 1 && (i + static_cast<std::size_t>(index)) % 4 == 3) continue;
        Gate gate = catalogue[i];
        gate.station.station = Shifted(gate.station.station, index);
        gates_.push_back(gate);
    }
}

SoakLine::~SoakLine() {
    for (Plant& plant : plants_) plant.line->Stop();
}

uint32_t SoakLine::TimeoutUnits() const {
    return share_ > 0 || options_.lines == 1
               ? options_.timeoutUnits
               : std::max(options_.timeoutUnits, kQuietLineTimeoutUnits);
}

uint32_t SoakLine::Baud() const {
    return options_.baud != 0 || share_ > 0 || options_.lines == 1 ? options_.baud : kQuietLineBaud;
}

bool SoakLine::Setup(std::string& error) {
    return WriteStationFile(error) && StartPlants(error) && StartDriver(error) && ParseGates(error);
}

// The driver reads its station file from the current directory. With
// several lines, line 0 (or every line) also traces its line to a file.
bool SoakLine::WriteStationFile(std::string& error) {
    namespace names = jyn::station_file;
    const std::string name = names::NamesFor(Instance()).name[0];
    std::ofstream file(name);
    if (options_.lines == 1) file << jynharness::StationFileText();
    if (options_.lines > 1) file << "* line " << index_ << " of the soak\n";
    for (std::size_t i = 0; options_.lines > 1 && i < stations_.size(); ++i) {
        const jynharness::Station& s = stations_[i];
        char text[64];
        std::snprintf(text, sizeof text, "%02X = %02X, %02X, %s\n",
                      static_cast<unsigned>(s.logical), static_cast<unsigned>(s.station),
                      static_cast<unsigned>(s.pc),
                      s.family == jynsim::CpuFamily::kAnAcpu ? "AnACPU" : "ACPU");
        file << text;
    }
    if (Traced()) file << names::kTrace << " = line" << index_ << ".trace, 256K\n";
    if (options_.readAheadMs != 0)
        file << names::kReadAhead << " = " << options_.readAheadMs << "\n";
    if (!file) error = "cannot write " + name;
    return static_cast<bool>(file);
}

bool SoakLine::StartPlants(std::string& error) {
    jynsim::LineConfig config = jynharness::LineOf(stations_);
    config.timing.baud = Baud();
    config.queue_behind_late_answer = options_.lateQueue;
    config.noise.bit_error_rate = options_.noise;
    config.noise.seed = options_.seed + static_cast<uint64_t>(index_);
    const int count = role_ == Role::kPortCommands ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        Plant plant;
        plant.line = std::make_unique<jynsim::SimulatedLine>(config);
        if (!plant.line->Start(error)) return false;
        for (const Gate& gate : gates_) Randomize(plant.line->Sim(), gate, rng_);
        plants_.push_back(std::move(plant));
    }
    SetFaults(0);
    return true;
}

// The classes asked for (by default the faults of one reply); with three
// lines or more, each line leaves out a different third of them.
bool SoakLine::ActiveClass(std::size_t kind) const {
    const auto& classes = options_.classes;
    const bool drawn = classes.empty()
                           ? kind < jynsim::kReplyFaultKindCount
                           : std::find(classes.begin(), classes.end(),
                                       static_cast<jynsim::FaultKind>(kind)) != classes.end();
    return share_ > 0 && drawn &&
           (options_.lines < 3 || (kind + static_cast<std::size_t>(index_)) % 3 != 2);
}

int SoakLine::FaultClasses() const {
    int count = 0;
    for (std::size_t kind = 0; kind < jynsim::kFaultKindCount; ++kind) count += ActiveClass(kind);
    return count;
}

void SoakLine::SetFaults(uint64_t phase) {
    jynsim::RandomFaults faults;
    for (std::size_t kind = 0; kind < jynsim::kFaultKindCount; ++kind)
        faults.probability[kind] = ActiveClass(kind) ? share_ / FaultClasses() : 0.0;
    // A drip holds the line for seconds: a quarter of a class's share.
    faults.probability[static_cast<std::size_t>(jynsim::FaultKind::kDrip)] /= 4;
    faults.nak_code = kNakCodes[(phase + static_cast<uint64_t>(index_)) % sizeof kNakCodes];
    // Slow replies come after the driver has given up waiting: anywhere from
    // just after the time-out to four time-outs, where another station's
    // answer also comes in the middle of the wait instead of at once; with
    // several lines, on even lines four time-outs late.
    const auto timeout = std::chrono::milliseconds(10 * options_.timeoutUnits);
    const bool evenLine = options_.lines > 1 && index_ % 2 == 0;
    faults.slow_delay = options_.slowMs != 0 ? std::chrono::milliseconds(options_.slowMs)
                                             : timeout * (evenLine ? 4 : 6) / (evenLine ? 1 : 5);
    if (options_.slowMs == 0 && !evenLine) faults.slow_delay_max = timeout * 4;
    if (!evenLine) faults.foreign_delay_max = timeout;
    SetBehaviours(faults, timeout, options_.jitterMs);
    for (std::size_t i = 0; i < plants_.size(); ++i) {
        faults.seed = options_.seed + 1000u * static_cast<uint64_t>(index_) + 100u * i + phase;
        plants_[i].line->Sim().SetRandomFaults(faults);
    }
}

std::string SoakLine::PortOf(const Plant& plant) const {
    return plant.line->Port().substr(std::char_traits<char>::length("/dev/"));
}

bool SoakLine::StartDriver(std::string& error) {
    const std::string line = "line " + std::to_string(index_) + ": ";
    if (!host_.Allocate(error)) return false;
    if (host_.ColdStart(PortOf(plants_[0]), TimeoutUnits(), DriverBaud(options_, Baud())) !=
        jyn::kOk) {
        error = line + "ColdStart on " + PortOf(plants_[0]) + " failed";
        return false;
    }
    if (!TableHolds()) error = line + "its station file was not applied";
    return error.empty();
}

bool SoakLine::TableHolds() const {
    for (const jynharness::Station& s : stations_) {
        const jyn::StationEntry& entry = host_.Context().stationTable[s.logical];
        const uint8_t cpu = s.family == jynsim::CpuFamily::kAnAcpu ? jyn::kCpuAn : jyn::kCpuA;
        if (entry.stationNumber != s.station || entry.pcNumber != s.pc || entry.cpuType != cpu)
            return false;
    }
    return true;
}

bool SoakLine::ParseGates(std::string& error) {
    for (Gate& gate : gates_) {
        if (!host_.Configure(gate, gate.shape.block, error)) return false;
    }
    return true;
}

// With one line, it stops itself at its count or time; several stop together.
void SoakLine::Run(RunControl& control) {
    Messages messages;
    while (!control.Stopped() && !(options_.lines == 1 && control.Due())) {
        const uint64_t done = judge_.Figures()[jynharness::kTransactions];
        if (role_ == Role::kVanishing && !vanished_ && control.AThirdDone(done)) Vanish(control);
        Transact(control, messages);
        if (vanished_) {
            std::this_thread::sleep_for(kDeadLinePace);
            continue;
        }
        const uint64_t own = judge_.Figures()[jynharness::kTransactions];
        control.Counted(own);
        if (own % kPhaseLength == 0) SetFaults(own / kPhaseLength);
        if (role_ == Role::kPortCommands && own % kCommandEvery == 0)
            PortCommand(control, messages);
    }
}

// Half of the time the next gate is like the last one, as a host scans a
// station's table of like gates: the same station, and an answer of the
// same shape (ACKs; data replies of the same length). An answer left over
// from the last transaction is then one the next could take for its own.
// Never the same gate twice in a row, so that requests tell their gate.
std::size_t SoakLine::NextGate(bool write) {
    const Gate& last = gates_[previousGate_];
    std::vector<std::size_t> like;
    for (std::size_t i = 0; i < gates_.size() && judge_.Figures()[jynharness::kTransactions] > 0;
         ++i) {
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

void SoakLine::Transact(RunControl& control, Messages& messages) {
    if (options_.readAheadMs != 0 && rng_.Next() % 4 == 0)
        judge_.ChangeBehindTheDriver(Sim(), gates_, rng_);
    jynharness::Transaction t;
    t.write = (rng_.Next() & 1) != 0;
    t.index = NextGate(t.write);
    t.gate = &gates_[t.index];
    jynharness::GuardedValues values(OwnedBytes(*t.gate, t.write),
                                     static_cast<uint8_t>(rng_.Next()));
    t.values = &values;
    if (t.write) NewWriteData(Sim(), *t.gate, rng_, values.Data());
    t.sent.assign(values.Data(), values.Data() + values.Owned());
    messages.Take();
    // Everything since the last transaction began, late bytes included.
    jynsim::DumpTrafficIfAsked(Sim().Traffic(),
                               options_.lines == 1 ? "soak" : "soak-line" + std::to_string(index_));
    Sim().ClearTraffic();
    Transfer(t, control);
    previousGate_ = t.index;
    previousWrite_ = t.write;
    jynharness::Tally& figures = judge_.Figures();
    if (vanished_) {
        if (figures[jynharness::kAfterOwnVanish] == 0) firstGone_ = messages.Kept();
        judge_.Transfer(t, nullptr, messages.Kept());
        return;
    }
    Plant& plant = plants_[current_];
    jynharness::Sort(t, Sim(), plant.lastSeq, plant.previous, plant.previousWrite, figures);
    plant.previous = t.gate;
    plant.previousWrite = t.write;
    judge_.Transfer(t, &Sim(), messages.Kept());
    judge_.KeepTraffic(Sim());
    if (t.result == jyn::kOk && control.Vanished()) ++figures[jynharness::kGoodAfterVanish];
}

void SoakLine::Transfer(jynharness::Transaction& t, RunControl& control) {
    RunControl::Inside inside(control);
    t.begin = Clock::now();
    t.result = host_.Transfer(*t.gate, t.gate->shape.block, t.write, t.values->Data());
    const auto micros = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t.begin).count());
    jynharness::Tally& figures = judge_.Figures();
    figures.maxMicros = std::max(figures.maxMicros, micros);
    const uint64_t bound = TransactionBoundMicros(options_, Baud());
    t.overlong = bound != 0 && micros > bound;
}

// The pseudo-terminal closes under the driver, which still holds its port.
void SoakLine::Vanish(RunControl& control) {
    plants_[current_].line->Stop();
    vanished_ = true;
    control.MarkVanished(judge_.Figures()[jynharness::kTransactions]);
}

jynsim::LineCounters SoakLine::Counters() const {
    jynsim::LineCounters sum = plants_[0].line->Sim().Counters();
    for (std::size_t p = 1; p < plants_.size(); ++p) {
        const jynsim::LineCounters counters = plants_[p].line->Sim().Counters();
        for (std::size_t i = 0; i < sum.faults.size(); ++i) sum.faults[i] += counters.faults[i];
    }
    return sum;
}

}  // namespace jynsoak
