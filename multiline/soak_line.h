// One line of the multi-line run: its simulated stations on a
// pseudo-terminal (two for the line that switches ports), one driver
// instance with a station file of its own, and the host thread that moves
// its gates. The simulator keeps the truth about every value and request.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "harness/catalogue.h"
#include "harness/driver_host.h"
#include "host/client/driver_library.h"
#include "multiline/run_control.h"
#include "multiline/thread_messages.h"
#include "sim/pty_server.h"

namespace jynharness {
class GuardedValues;
}

namespace jynmulti {

enum class Role {
    kPlain,
    kPortCommands,  // CloseCom, ReOpenCom, ChangeJynParams and ColdStart while the others run
    kVanishing,     // its pseudo-terminal is closed under the driver
};
const char* RoleName(Role role);

struct LineTally {
    uint64_t transactions = 0;
    std::array<uint64_t, 3> results{};
    std::array<uint64_t, jynsim::kFaultKindCount> faultsMet{};
    uint64_t recovered = 0;      // 0 although a fault hit the transaction
    uint64_t failedByFault = 0;  // non-zero, and a fault hit it
    uint64_t refused = 0;        // non-zero, the station refused
    uint64_t reapplied = 0;      // writes carried out more than once (lost ACK)
    uint64_t failedWritesLanded = 0;
    uint64_t late = 0;  // requests of the previous transaction seen late
    uint64_t portCommands = 0;
    uint64_t goodAfterVanish = 0;  // another line's port had vanished by then
    uint64_t afterOwnVanish = 0;   // transfers on this line's vanished port

    // Each must stay 0.
    uint64_t wrongValues = 0;
    uint64_t notLanded = 0;
    uint64_t unexplained = 0;
    uint64_t bufferDamage = 0;
    uint64_t stray = 0;            // requests this line never sent
    uint64_t extraReads = 0;       // reads of a gate's station the driver chose itself
    uint64_t badPortFailures = 0;  // on a closed or vanished port: not 2, or silent
    uint64_t badPortCommands = 0;

    uint64_t MustBeZero() const {
        return wrongValues + notLanded + unexplained + bufferDamage + stray + badPortFailures +
               badPortCommands;
    }
};

class SoakLine {
public:
    SoakLine(const jynhost::DriverLibrary& library, int index, Role role,
             const RunOptions& options);
    ~SoakLine();
    SoakLine(const SoakLine&) = delete;
    SoakLine& operator=(const SoakLine&) = delete;

    // On the main thread, before any line runs: the station file, the
    // simulated line, ColdStart and the gates.
    bool Setup(std::string& error);
    // The line's host thread, until the run stops.
    void Run(RunControl& control);

    int Index() const { return index_; }
    Role LineRole() const { return role_; }
    uint32_t Instance() const { return instance_number_; }
    std::size_t Gates() const { return gates_.size(); }
    int FaultClasses() const;
    double FaultShare() const { return share_; }
    uint32_t TimeoutUnits() const;  // the line's reply time-out
    uint32_t Baud() const;          // its simulator's pacing; 0: none
    const LineTally& Tally() const { return tally_; }
    int32_t Call(uint32_t function, void* params = nullptr) {
        return host_.Call(function, params);
    }
    // What the driver said about the first transfer on the vanished port.
    const std::vector<jynhost::DriverMessage>& FirstOnVanishedPort() const { return firstGone_; }
    // Faults injected on the line (both pseudo-terminals of a switching line).
    std::array<uint64_t, jynsim::kFaultKindCount> FaultsInjected() const;

private:
    struct Plant {
        std::unique_ptr<jynsim::SimulatedLine> line;
        uint64_t lastSeq = 0;
        const jynharness::Gate* previous = nullptr;
        bool previousWrite = false;
    };
    struct Transaction {
        const jynharness::Gate* gate = nullptr;
        bool write = false;
        int32_t result = 0;
        std::vector<uint8_t> sent;
        jynharness::GuardedValues* values = nullptr;
        std::vector<jynsim::RequestRecord> own;
    };

    bool WriteStationFile(std::string& error);
    bool StartPlants(std::string& error);
    bool StartDriver(std::string& error);
    bool TableHolds() const;
    bool Traced() const { return index_ == 0 || options_.traceEveryLine; }
    bool ParseGates(std::string& error);
    void SetFaults(uint64_t phase);
    bool ActiveClass(std::size_t kind) const;

    void Transact(RunControl& control, ThreadMessages& messages);
    void Transfer(Transaction& t, RunControl& control);
    void Sort(Transaction& t);
    void Judge(Transaction& t, const ThreadMessages& messages, bool portGone);
    bool BufferDamaged(Transaction& t) const;
    void JudgeGood(Transaction& t, const ThreadMessages& messages);
    void JudgeFailed(Transaction& t, const ThreadMessages& messages);
    bool FailedAsTheDriver(const Transaction& t, const ThreadMessages& messages) const;

    void PortCommand(RunControl& control, ThreadMessages& messages);
    bool CloseReadReopen(RunControl& control, ThreadMessages& messages);
    bool SwitchPlant(ThreadMessages& messages);
    bool Restart(ThreadMessages& messages);
    void Vanish(RunControl& control);

    jynsim::Simulator& Sim() { return plants_[current_].line->Sim(); }
    std::string PortOf(const Plant& plant) const;
    void Report(const char* what, const Transaction& t, const ThreadMessages& messages) const;

    const RunOptions& options_;
    const int index_;
    const Role role_;
    const uint32_t instance_number_;
    const double share_;
    jynharness::DriverHost host_;
    jynsim::SplitMix rng_;
    std::vector<jynharness::Station> stations_;
    std::vector<jynharness::Gate> gates_;
    std::vector<Plant> plants_;
    std::size_t current_ = 0;
    std::size_t previousGate_ = 0;
    bool vanished_ = false;
    uint64_t commands_ = 0;
    std::vector<jynhost::DriverMessage> firstGone_;
    LineTally tally_;
};

}  // namespace jynmulti
