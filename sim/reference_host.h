// The least a host can do on the line: the driver's own frames, captured
// from the simulator's traffic, written whole and read back in whole chunks
// with nothing else in between. What it reaches on a simulated line is what
// that line (the simulator's pacing, the pseudo-terminal, the scheduler of
// this machine) allows; the driver's rate next to it is the driver's own
// share of any distance to the physical limit. The benches set the driver
// against it. POSIX only.
#pragma once

#include <cstddef>
#include <string>

#include "sim/simulator.h"

namespace jynsim {

// One transaction as it went over the line.
struct Exchange {
    std::string request;
    std::size_t replyLength = 0;
    std::string confirmation;  // empty for a write
};

// The last complete transaction in the simulator's traffic log.
bool CaptureExchange(const Simulator& sim, Exchange& exchange, std::string& error);

class ReferenceHost {
public:
    ReferenceHost() = default;
    ~ReferenceHost();
    ReferenceHost(const ReferenceHost&) = delete;
    ReferenceHost& operator=(const ReferenceHost&) = delete;

    // Opens the line's pseudo-terminal, which the driver must have let go of.
    bool Open(const std::string& path, std::string& error);
    void Close();
    // One exchange: true when the whole reply came within a second.
    bool Transact(const Exchange& exchange);

private:
    bool WriteAll(const std::string& bytes);

    int fd_ = -1;
};

}  // namespace jynsim
