#include "multiline/soak_line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "host/client/records.h"
#include "harness/guarded_values.h"

namespace jynmulti {

namespace {

constexpr uint32_t kFirstInstance = 11;

// The lines share one library; each sorts its messages by thread, and only
// line 0 ends the driver, which leaves the others' contexts in use.
jynharness::HostSettings HostOf(uint32_t instance) {
    jynharness::HostSettings settings;
    settings.instance = instance;
    settings.keptMessages = 0;
    settings.keepContextUntilExit = true;
    return settings;
}
// NAK codes the faulty lines answer with, in turn: the transmission errors
// the driver retries, and refusals that end a transaction with 1 or 2.
const uint8_t kNakCodes[] = {0x02, 0x06, 0x01, 0x08, 0x04, 0x10, 0x05, 0x11, 0x12, 0x03};
constexpr uint64_t kPhaseLength = 250;  // transactions between NAK code changes
constexpr uint64_t kCommandEvery = 20;  // transactions between port commands
// Each line's fault rate against the busiest line's. Every fourth line has
// none and so never logs: the host's log is one lock for all lines, and a
// line that takes it is ordered after the others by it, which would hide a
// missing lock in the driver from ThreadSanitizer. That line is paced, or
// it would outrun the others many times over, with a reply time-out that
// holds its longest frames (280 characters are 73 ms at 38400 baud).
const double kShareSteps[] = {0.6, 1.0, 0.0, 0.8};
constexpr uint32_t kQuietLineBaud = 38400;
constexpr uint32_t kQuietLineTimeoutUnits = 20;
// A host keeps scanning a dead line, but not in a tight loop.
constexpr auto kDeadLinePace = std::chrono::milliseconds(20);

// Every line numbers its stations differently, so that a line that read
// another line's station file addresses stations nobody has.
int Shifted(int station, int index) { return (station + 3 * index) % 0x20; }

}  // namespace

uint32_t SoakLine::TimeoutUnits() const {
    return share_ > 0 ? options_.timeoutUnits
                      : std::max(options_.timeoutUnits, kQuietLineTimeoutUnits);
}

uint32_t SoakLine::Baud() const {
    return options_.baud != 0 || share_ > 0 ? options_.baud : kQuietLineBaud;
}

const char* RoleName(Role role) {
    switch (role) {
        case Role::kPortCommands: return "port commands";
        case Role::kVanishing: return "port vanishes";
        case Role::kPlain: break;
    }
    return "plain";
}

SoakLine::SoakLine(const jynhost::DriverLibrary& library, int index, Role role,
                   const RunOptions& options)
    : options_(options),
      index_(index),
      role_(role),
      instance_number_(kFirstInstance + static_cast<uint32_t>(index)),
      share_(options.faultShare * kShareSteps[index % 4]),
      host_(library, HostOf(instance_number_)),
      rng_(options.seed + 7919u * static_cast<uint64_t>(index + 1)) {
    for (jynharness::Station station : jynharness::Stations()) {
        station.station = Shifted(station.station, index);
        stations_.push_back(station);
    }
    // Each line leaves out a different quarter of the catalogue.
    const std::vector<jynharness::Gate> catalogue = jynharness::Catalogue();
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        if (options.lines > 1 && (i + static_cast<std::size_t>(index)) % 4 == 3) continue;
        jynharness::Gate gate = catalogue[i];
        gate.station.station = Shifted(gate.station.station, index);
        gates_.push_back(gate);
    }
}

SoakLine::~SoakLine() {
    for (Plant& plant : plants_) plant.line->Stop();
}

bool SoakLine::Setup(std::string& error) {
    return WriteStationFile(error) && StartPlants(error) && StartDriver(error) && ParseGates(error);
}

// Line 0 also traces its line to a file, and is the line that ends the
// driver at the end of the run, which gives its trace back.
bool SoakLine::WriteStationFile(std::string& error) {
    char name[32];
    std::snprintf(name, sizeof name, "JYNMB%02u.INT", instance_number_);
    std::ofstream file(name);
    file << "* line " << index_ << " of the multi-line run\n";
    for (const jynharness::Station& s : stations_) {
        char text[64];
        std::snprintf(text, sizeof text, "%02X = %02X, %02X, %s\n",
                      static_cast<unsigned>(s.logical), static_cast<unsigned>(s.station),
                      static_cast<unsigned>(s.pc),
                      s.family == jynsim::CpuFamily::kAnAcpu ? "AnACPU" : "ACPU");
        file << text;
    }
    if (Traced()) file << "TRACE = line" << index_ << ".trace, 256K\n";
    if (!file) error = std::string("cannot write ") + name;
    return static_cast<bool>(file);
}

bool SoakLine::StartPlants(std::string& error) {
    jynsim::LineConfig config = jynharness::LineOf(stations_);
    config.timing.baud = Baud();
    const int count = role_ == Role::kPortCommands ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        Plant plant;
        plant.line = std::make_unique<jynsim::SimulatedLine>(config);
        if (!plant.line->Start(error)) return false;
        for (const jynharness::Gate& gate : gates_) Randomize(plant.line->Sim(), gate, rng_);
        plants_.push_back(std::move(plant));
    }
    SetFaults(0);
    return true;
}

// The faults of one reply; the station behaviours are the fault soak's.
bool SoakLine::ActiveClass(std::size_t kind) const {
    return share_ > 0 && kind < jynsim::kReplyFaultKindCount &&
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
    faults.nak_code = kNakCodes[(phase + static_cast<uint64_t>(index_)) % sizeof kNakCodes];
    // Slow replies come after the driver has given up waiting: on even
    // lines four time-outs late, on odd lines anywhere from just after the
    // time-out to four time-outs, where another station's answer also comes
    // in the middle of the wait instead of at once.
    const auto timeout = std::chrono::milliseconds(10 * options_.timeoutUnits);
    faults.slow_delay = timeout * 4;
    if (index_ % 2 != 0) {
        faults.slow_delay = timeout * 6 / 5;
        faults.slow_delay_max = timeout * 4;
        faults.foreign_delay_max = timeout;
    }
    for (std::size_t i = 0; i < plants_.size(); ++i) {
        faults.seed = options_.seed + 1000u * static_cast<uint64_t>(index_) + 100u * i + phase;
        plants_[i].line->Sim().SetRandomFaults(faults);
    }
}

std::string SoakLine::PortOf(const Plant& plant) const {
    return plant.line->Port().substr(std::char_traits<char>::length("/dev/"));
}

bool SoakLine::StartDriver(std::string& error) {
    if (!host_.Allocate(error)) return false;
    if (host_.ColdStart(PortOf(plants_[0]), TimeoutUnits()) != jyn::kOk) {
        error = "line " + std::to_string(index_) + ": ColdStart failed";
        return false;
    }
    if (!TableHolds()) {
        error = "line " + std::to_string(index_) + ": its station file was not applied";
        return false;
    }
    return true;
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
    for (jynharness::Gate& gate : gates_) {
        jyn::GateDefinition definition =
            jynhost::MakeGateDefinition(gate.text.c_str(), gate.shape.gateType, gate.shape.block);
        if (Call(jynhost::ParserFunction(gate.shape.block), &definition) != jyn::kOk) {
            error = "the driver refused the gate " + gate.text;
            return false;
        }
        gate.address = definition.gateAddress;
    }
    return true;
}

void SoakLine::Run(RunControl& control) {
    ThreadMessages messages;
    while (!control.Stopped()) {
        if (role_ == Role::kVanishing && !vanished_ && control.AThirdDone(tally_.transactions))
            Vanish(control);
        Transact(control, messages);
        if (vanished_) {
            std::this_thread::sleep_for(kDeadLinePace);
            continue;
        }
        control.Counted(tally_.transactions);
        if (tally_.transactions % kPhaseLength == 0) SetFaults(tally_.transactions / kPhaseLength);
        if (role_ == Role::kPortCommands && tally_.transactions % kCommandEvery == 0)
            PortCommand(control, messages);
    }
}

// The pseudo-terminal closes under the driver, which still holds its port.
void SoakLine::Vanish(RunControl& control) {
    plants_[current_].line->Stop();
    vanished_ = true;
    control.MarkVanished(tally_.transactions);
}

std::array<uint64_t, jynsim::kFaultKindCount> SoakLine::FaultsInjected() const {
    std::array<uint64_t, jynsim::kFaultKindCount> sum{};
    for (const Plant& plant : plants_) {
        const jynsim::LineCounters counters = plant.line->Sim().Counters();
        for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += counters.faults[i];
    }
    return sum;
}

}  // namespace jynmulti
