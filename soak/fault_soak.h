// The fault soak: the real driver library, loaded as a host loads it,
// against the simulator on a pseudo-terminal with random faults of every
// class. The simulator keeps the truth about every value and every request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/pty_server.h"
#include "soak/driver_host.h"
#include "soak/soak_gates.h"
#include "soak/tally.h"

namespace jynsoak {

class GuardedValues;

struct SoakOptions {
    uint64_t transactions = 2000;
    double seconds = 0;  // 0: no limit besides the count
    uint64_t seed = 20240601;
    uint32_t timeoutUnits = 5;  // reply time-out, units of 10 ms
    double faultShare = 0.25;   // chance of a fault per request, split over the classes
    uint32_t baud = 0;          // line pacing of the simulator; 0: none
    uint32_t slowMs = 0;        // delay of the slow-reply fault; 0: four reply time-outs
    std::string driver;         // path of libRAVEVUD.so
    bool verbose = false;
};

class FaultSoak {
public:
    explicit FaultSoak(SoakOptions options);
    ~FaultSoak();

    bool Setup(std::string& error);
    void Run();
    bool Finish();  // prints the tally; true when the run passed

private:
    struct Transaction {
        const SoakGate* gate;
        bool write;
        int32_t result = 0;
        std::vector<uint8_t> sent;  // a write's data as handed over
        GuardedValues* values = nullptr;
        std::vector<jynsim::RequestRecord> own;  // the simulator's records of its requests
    };
    bool EnterFolder(std::string& error);
    bool StartLine(std::string& error);
    bool StartDriver(std::string& error);
    bool ParseGates(std::string& error);
    void SetFaults(uint64_t phase);
    void RunOne();
    std::vector<jynsim::RequestRecord> NewRecords();
    void Judge(Transaction& t);
    void JudgeGood(Transaction& t);
    void JudgeFailed(Transaction& t);
    void Sort(Transaction& t, const std::vector<jynsim::RequestRecord>& records);
    void Report(const char* what, const Transaction& t) const;

    SoakOptions options_;
    jynsim::SplitMix rng_;
    std::string folder_;
    std::unique_ptr<jynsim::SimulatedLine> line_;
    DriverHost driver_;
    bool started_ = false;
    std::vector<SoakGate> gates_;
    std::size_t previousGate_ = 0;
    bool previousWrite_ = false;
    uint64_t lastSeq_ = 0;
    Tally tally_;
};

}  // namespace jynsoak
