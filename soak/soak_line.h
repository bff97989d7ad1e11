// One line of the soak: its simulated stations on a pseudo-terminal (two
// for the line that switches ports), one driver instance with a station
// file of its own, and the host thread that moves its gates. The simulator
// keeps the truth about every value and request; the harness's judge
// weighs every transfer against it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "harness/driver_host.h"
#include "harness/soak_judge.h"
#include "harness/thread_messages.h"
#include "sim/pty_server.h"
#include "soak/run_control.h"

namespace jynsoak {

enum class Role {
    kPlain,
    kPortCommands,  // CloseCom, ReOpenCom, ChangeJynParams and ColdStart while the others run
    kVanishing,     // its pseudo-terminal is closed under the driver
};
const char* RoleName(Role role);

uint16_t DriverBaud(const SoakOptions& options, uint32_t lineBaud);
// The longest a transaction may take on a line that drips bytes: ten
// attempts, each a reply time-out, the longest answer and a margin, and a
// second more; 0 when the run has no dripping line.
uint64_t TransactionBoundMicros(const SoakOptions& options, uint32_t lineBaud);

class SoakLine {
public:
    SoakLine(const jynhost::DriverLibrary& library, int index, Role role,
             const SoakOptions& options);
    ~SoakLine();
    SoakLine(const SoakLine&) = delete;
    SoakLine& operator=(const SoakLine&) = delete;

    // Before any line runs: the station file, the simulated line, ColdStart
    // and the gates.
    bool Setup(std::string& error);
    // The line's host thread, until the run stops.
    void Run(RunControl& control);

    int Index() const { return index_; }
    Role LineRole() const { return role_; }
    uint32_t Instance() const { return host_.Instance(); }
    std::size_t Gates() const { return gates_.size(); }
    int FaultClasses() const;
    double FaultShare() const { return share_; }
    uint32_t TimeoutUnits() const;  // the line's reply time-out
    uint32_t Baud() const;          // its simulator's pacing; 0: none
    const jynharness::Tally& Figures() const { return judge_.Figures(); }
    int32_t Call(uint32_t function, void* params = nullptr) { return host_.Call(function, params); }
    // What the driver said about the first transfer on the vanished port.
    const std::vector<jynhost::DriverMessage>& FirstOnVanishedPort() const { return firstGone_; }
    // The simulator's counters: the first pseudo-terminal's, with the faults
    // of both on a line that switches between two.
    jynsim::LineCounters Counters() const;

private:
    struct Plant {
        std::unique_ptr<jynsim::SimulatedLine> line;
        uint64_t lastSeq = 0;
        const jynharness::Gate* previous = nullptr;
        bool previousWrite = false;
    };
    using Messages = jynharness::ThreadMessages;

    bool WriteStationFile(std::string& error);
    bool StartPlants(std::string& error);
    bool StartDriver(std::string& error);
    bool TableHolds() const;
    bool Traced() const { return options_.lines > 1 && (index_ == 0 || options_.traceEveryLine); }
    bool ParseGates(std::string& error);
    void SetFaults(uint64_t phase);
    bool ActiveClass(std::size_t kind) const;
    std::size_t NextGate(bool write);

    void Transact(RunControl& control, Messages& messages);
    void Transfer(jynharness::Transaction& t, RunControl& control);

    void PortCommand(RunControl& control, Messages& messages);
    bool CloseReadReopen(RunControl& control, Messages& messages);
    bool SwitchPlant(Messages& messages);
    bool Restart(Messages& messages);
    void Vanish(RunControl& control);

    jynsim::Simulator& Sim() { return plants_[current_].line->Sim(); }
    std::string PortOf(const Plant& plant) const;

    const SoakOptions& options_;
    const int index_;
    const Role role_;
    const double share_;
    jynharness::DriverHost host_;
    jynsim::SplitMix rng_;
    jynharness::Judge judge_;
    std::vector<jynharness::Station> stations_;
    std::vector<jynharness::Gate> gates_;
    std::vector<Plant> plants_;
    std::size_t current_ = 0;
    std::size_t previousGate_ = 0;
    bool previousWrite_ = false;
    bool vanished_ = false;
    uint64_t commands_ = 0;
    std::vector<jynhost::DriverMessage> firstGone_;
};

}  // namespace jynsoak
