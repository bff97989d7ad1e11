// jynmb sim: the PLC simulator on a pseudo-terminal, for a driver started by
// hand (or any other host) to talk to.
#include "host/jynmb/commands.h"
#include "sim/sim_command.h"

namespace jynmb {

int RunSim(Args& args) { return jynsim::RunSimCommand(args.Rest()); }

}  // namespace jynmb
