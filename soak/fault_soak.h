// The fault soak: the real driver library, loaded as a host loads it,
// against the simulator on a pseudo-terminal with random faults of every
// class. The simulator keeps the truth about every value and every request.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/pty_server.h"
#include "harness/catalogue.h"
#include "harness/driver_host.h"
#include "harness/work_directory.h"
#include "soak/tally.h"

namespace jynharness {
class GuardedValues;
}

namespace jynsoak {

struct SoakOptions {
    uint64_t transactions = 2000;
    double seconds = 0;  // 0: no limit besides the count
    uint64_t seed = 20240601;
    uint32_t timeoutUnits = 5;  // reply time-out, units of 10 ms
    double faultShare = 0.25;   // chance of a fault per request, split over the classes
    std::vector<jynsim::FaultKind> classes;  // the classes drawn; empty: all
    uint32_t baud = 0;                       // line pacing of the simulator; 0: none
    // The driver's baud rate, which its waits for the line are reckoned in;
    // 0: the line's, or 57600 (the most the driver takes) on a faster or
    // unpaced line.
    uint32_t driverBaud = 0;
    // Delay of the slow-reply fault; 0: drawn from 1.2 to 4 reply time-outs
    // (the late answer comes 0.2 to 3 time-outs after the time-out).
    uint32_t slowMs = 0;
    // A station late with an answer still takes the retries and answers them
    // right after it; false: a retry drops the late answer.
    bool lateQueue = true;
    double noise = 0;    // bit error rate on the line
    // The host's logging call takes this long (ms) each time the driver
    // logs; 0: at once.
    uint32_t slowLogMs = 0;
    // The most a late-jitter station's answers jitter (ms); -1: half a reply
    // time-out, at least 10 ms.
    int32_t jitterMs = -1;
    // READAHEAD = this many ms in the station file; 0: off. The soak then
    // also changes values behind the driver's back, so that a value served
    // from a block can be checked for its age.
    uint32_t readAheadMs = 0;
    std::string driver;  // path of libRAVEVUD.so
    bool verbose = false;
};

uint16_t DriverBaud(const SoakOptions& options);
// Whether the run draws station behaviours (busy, late, dripping stations).
bool DrawsBehaviours(const SoakOptions& options);
// The longest a transaction may take on a line that drips bytes: ten
// attempts, each a reply time-out, the longest answer and a margin, and a
// second more; 0 when the run has no dripping line.
uint64_t TransactionBoundMicros(const SoakOptions& options);

class FaultSoak {
public:
    explicit FaultSoak(SoakOptions options);
    ~FaultSoak();

    bool Setup(std::string& error);
    void Run();
    bool Finish();  // prints the tally; true when the run passed

private:
    struct Transaction {
        const jynharness::Gate* gate;
        bool write;
        int32_t result = 0;
        bool overlong = false;      // longer than a dripping line may hold it
        std::vector<uint8_t> sent;  // a write's data as handed over
        jynharness::GuardedValues* values = nullptr;
        std::vector<jynsim::RequestRecord> own;  // the simulator's records of its requests
        std::size_t index = 0;                   // of the gate
        std::chrono::steady_clock::time_point begin;
    };
    // A value a gate's points held until the soak changed them itself.
    struct FormerValue {
        std::vector<uint8_t> bytes;
        std::chrono::steady_clock::time_point replaced;
    };
    bool EnterFolder(std::string& error);
    bool StartLine(std::string& error);
    bool StartDriver(std::string& error);
    bool ParseGates(std::string& error);
    void SetFaults(uint64_t phase);
    std::size_t NextGate(bool write);
    void RunOne();
    std::vector<jynsim::RequestRecord> NewRecords();
    void Judge(Transaction& t);
    void JudgeGood(Transaction& t);
    // A wrong value or a lost write that noise the sum check cannot see put
    // on the line: the protocol's limit, not the driver's.
    bool CarriedByUnseenNoise(const Transaction& t) const;
    void JudgeFailed(Transaction& t);
    // Read-ahead: a value the PLC held no longer ago than the age.
    void ChangeBehindTheDriver();
    bool HeldWithinTheAge(const Transaction& t) const;
    // A station behaviour touched one of the transaction's requests, or one
    // of the few transactions before it (whose held answers may still come).
    bool InBehavioursWake() const;
    void Sort(Transaction& t, const std::vector<jynsim::RequestRecord>& records);
    // `traffic`: also the line's traffic of this transaction and the last.
    void Report(const char* what, const Transaction& t, bool traffic = false) const;

    SoakOptions options_;
    jynsim::SplitMix rng_;
    std::unique_ptr<jynharness::WorkDirectory> folder_;
    std::unique_ptr<jynsim::SimulatedLine> line_;
    jynharness::DriverHost driver_;
    std::vector<jynharness::Gate> gates_;
    std::size_t previousGate_ = 0;
    bool previousWrite_ = false;
    uint64_t lastSeq_ = 0;
    uint64_t behaviourWake_ = 0;  // transactions still in a station behaviour's wake
    // The line during the last few transactions, the latest last.
    std::deque<std::vector<std::string>> lastTraffic_;
    Tally tally_;
    std::vector<std::vector<FormerValue>> former_;  // by gate, read-ahead runs only
};

}  // namespace jynsoak
