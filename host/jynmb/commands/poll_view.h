// What `jynmb poll` shows: one table refreshed in place on a terminal, or
// plain lines (one per gate per round, time-stamped) for a file or a pipe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/jynmb/commands/session.h"

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
    // Before the first read, so that a slow first gate is seen waiting.
    virtual void Start(const std::vector<PolledGate>&, const PollStatus&) {}
    // Before each gate of a round is read.
    virtual void GateStarting(const std::vector<PolledGate>&, std::size_t, const PollStatus&) {}
    // After each gate of a round has been read (or found refused).
    virtual void GateDone(const std::vector<PolledGate>& gates, std::size_t index,
                          const PollStatus& status) = 0;
    // Once the polling stops.
    virtual void Finish(const std::vector<PolledGate>& gates, const PollStatus& status) = 0;
    // Where the notice that Ctrl-C is heard goes, written at once from the
    // signal handler: true for standard output (the table), else standard
    // error. `prefix` comes before the notice's text, `suffix` after it.
    virtual bool NoticeOnStdout() const { return false; }
    virtual std::string NoticePrefix() const { return "jynmb poll: "; }
    virtual std::string NoticeSuffix() const { return "\n"; }
};

std::unique_ptr<PollView> MakeTableView(int columns);
std::unique_ptr<PollView> MakePlainView();
// JSON Lines: one object per gate per round.
std::unique_ptr<PollView> MakeJsonView();

// "4660 (0x1234)", "failed (2)", "refused (1)", "waiting" before its first read.
std::string StatusText(const GateOutcome& gate);

}  // namespace jynmb
