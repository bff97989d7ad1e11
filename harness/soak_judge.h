// How a soak judges each transaction against the simulator's truth: wrong
// values, writes reported done that never landed, failures no fault
// explains, a damaged value buffer, requests nobody asked for; with the
// line's own limits (noise the sum check cannot see, a read-ahead block's
// age, a station behaviour's wake) told apart from the driver's faults.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "harness/catalogue.h"
#include "harness/guarded_values.h"
#include "harness/soak_tally.h"
#include "host/client/driver_messages.h"
#include "sim/simulator.h"

namespace jynharness {

struct Transaction {
    const Gate* gate = nullptr;
    std::size_t index = 0;  // of the gate
    bool write = false;
    int32_t result = 0;
    bool overlong = false;      // longer than a dripping line may hold it
    std::vector<uint8_t> sent;  // a write's data as handed over
    GuardedValues* values = nullptr;
    std::vector<jynsim::RequestRecord> own;  // the simulator's records of its requests
    std::chrono::steady_clock::time_point begin;
};

// Sorts the simulator's records since the last look (`lastSeq`, moved on)
// into the transaction's own, the previous transaction's (late), reads of
// its station the driver chose itself, and stray ones. Requests tell their
// gate by station, direction and first device: a soak never moves the same
// gate twice in a row.
void Sort(Transaction& t, jynsim::Simulator& sim, uint64_t& lastSeq, const Gate* previous,
          bool previousWrite, Tally& tally);

bool BufferDamaged(Transaction& t);
// Failed with 2, and the driver's last word on it names the gate.
bool FailedAsTheDriver(const Transaction& t, const std::vector<jynhost::DriverMessage>& messages);

class Judge {
public:
    // `line` names the line in reports; -1: the run has one.
    Judge(int line, uint32_t readAheadMs, bool verbose)
        : line_(line), readAheadMs_(readAheadMs), verbose_(verbose) {}

    // `sim` null: a transfer on a port that vanished under the driver, which
    // must fail with 2 and its message.
    void Transfer(jynharness::Transaction& t, jynsim::Simulator* sim,
                  const std::vector<jynhost::DriverMessage>& messages);
    // Read-ahead runs: a value changes in the PLC as a running program
    // changes it, and every gate that sees it keeps what it held before.
    void ChangeBehindTheDriver(jynsim::Simulator& sim, const std::vector<Gate>& gates,
                               jynsim::SplitMix& rng);
    // The line's traffic of the transaction just judged, for later reports.
    void KeepTraffic(jynsim::Simulator& sim);
    // `sim`: also the line's traffic of this transaction and the last few.
    void Report(const char* what, const jynharness::Transaction& t,
                const std::vector<jynhost::DriverMessage>& messages,
                jynsim::Simulator* sim = nullptr) const;

    Tally& Figures() { return tally_; }
    const Tally& Figures() const { return tally_; }

private:
    struct FormerValue {
        std::vector<uint8_t> bytes;
        std::chrono::steady_clock::time_point replaced;
    };
    void Good(jynharness::Transaction& t, jynsim::Simulator& sim,
              const std::vector<jynhost::DriverMessage>& messages);
    void Failed(jynharness::Transaction& t, const std::vector<jynhost::DriverMessage>& messages);
    bool HeldWithinTheAge(const jynharness::Transaction& t) const;

    const int line_;
    const uint32_t readAheadMs_;
    const bool verbose_;
    Tally tally_;
    uint64_t behaviourWake_ = 0;  // transactions still in a station behaviour's wake
    std::vector<std::vector<FormerValue>> former_;      // by gate, read-ahead runs only
    std::deque<std::vector<std::string>> lastTraffic_;  // the latest last
};

}  // namespace jynharness
