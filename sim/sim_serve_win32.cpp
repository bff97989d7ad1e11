// `jynmb sim` on Windows: the pseudo-terminal front end is POSIX only.
#include <cstdio>

#include "sim/sim_command.h"

namespace jynsim {

int ServeSimLine(const SimCommandOptions&) {
    std::fprintf(stderr,
                 "jynmb sim: the simulator serves pseudo-terminals, which this platform does not "
                 "have; run it on Linux and link COM1 to its port\n");
    return 2;
}

}  // namespace jynsim
