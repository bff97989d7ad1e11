// A gate read or written on the simulated plant, for the commands that
// show what the plant saw afterwards.
#pragma once

#include <cstdint>

#include "host/jynmb/commands/session.h"
#include "sim/simulator.h"

namespace jynmb {

// After a good read the driver's confirmation is the last frame on the
// line; the simulator is given the time to take it in, so that its log and
// counters hold the whole transaction when they are looked at.
int32_t TransferOnPlant(Session& session, jynsim::Simulator& sim, GateOutcome& gate, bool write);

}  // namespace jynmb
