// What `jynmb poll` shows: one table refreshed in place on a terminal, or
// plain lines (one per gate per round, time-stamped) for a file or a pipe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/jynmb/session.h"

namespace jynmb {

struct PolledGate {
    GateOutcome outcome;
    uint64_t good = 0;
    uint64_t failed = 0;
    std::string lastError;  // kept after a later good read, so a flicker is seen
};

struct PollStatus {
    std::string port;
    unsigned long interval = 0;  // ms
    unsigned long count = 0;     // rounds, 0: until stopped
    unsigned long round = 0;     // 1 for the first
    bool interrupted = false;    // stopped by Ctrl-C
};

class PollView {
public:
    virtual ~PollView() = default;
    // After each gate of a round has been read (or found refused).
    virtual void GateDone(const std::vector<PolledGate>& gates, std::size_t index,
                          const PollStatus& status) = 0;
    // Once the polling stops.
    virtual void Finish(const std::vector<PolledGate>& gates, const PollStatus& status) = 0;
};

std::unique_ptr<PollView> MakeTableView(int columns);
std::unique_ptr<PollView> MakePlainView();

// "4660 (0x1234)", "failed (2)", "refused (1)".
std::string StatusText(const GateOutcome& gate);

}  // namespace jynmb
