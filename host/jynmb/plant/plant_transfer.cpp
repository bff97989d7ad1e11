#include "host/jynmb/plant/plant_transfer.h"

#include <chrono>

namespace jynmb {

namespace {

constexpr std::chrono::milliseconds kConfirmationWait{2000};

}  // namespace

int32_t TransferOnPlant(Session& session, jynsim::Simulator& sim, GateOutcome& gate, bool write) {
    const uint64_t confirmations = sim.Counters().confirm_acks;
    const int32_t result = write ? session.Write(gate) : session.Read(gate);
    if (!write && result == jyn::kOk) {
        sim.WaitUntil([&](const jynsim::LineCounters& c) { return c.confirm_acks > confirmations; },
                      kConfirmationWait);
    }
    return result;
}

}  // namespace jynmb
