// jynmb scan: the search itself, over anything that can set the line and
// read one register of a station. What the line says steers it:
// - bytes that are no frame: a station is there at another frame; the other
//   frames are tried at this baud rate, on the stations that said them;
// - a NAK or a reply: these settings are right;
// - silence at every station: nobody listens at this baud rate, in any
//   frame (a module at its own rate answers a frame it cannot read with
//   something, its NAK or a garbled answer), so the next rate follows.
// Once a station answers, the line's settings are known: each station that
// answered is asked for its CPU family and the search ends.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "host/jynmb/commands/messages.h"
#include "host/jynmb/scan/scan_plan.h"

namespace jynmb {

enum class Heard { kSilence, kNoise, kNak, kAnswer };

// What one read heard. A NAK that the driver retries (a parity, sum check,
// framing or overrun error) ten times over is a station at this baud rate
// that cannot read this frame: noise, with its code kept.
struct ProbeResult {
    Heard heard = Heard::kSilence;
    int nakCode = -1;  // the last NAK's code; -1 none or unreadable
    double ms = 0;     // the whole read, request to confirmation
};

// The driver's NAK text ("Character area error") back to its code; -1 for
// one it does not give.
int NakCodeOfText(const std::string& text);
// What a read's result and the driver's messages during it say.
ProbeResult ClassifyRead(int32_t result, const std::vector<DriverMessage>& messages);

// The line as the search uses it.
class ScanLine {
public:
    virtual ~ScanLine() = default;
    // Sets the port to the settings (the driver closes and reopens it).
    virtual bool Set(unsigned baud, const ScanFrame& frame, std::string& error) = 0;
    // One read of station `station`, PC FF: D0 in the ACPU form (WR), or in
    // the extended form (QR) that only an AnACPU knows.
    virtual ProbeResult Probe(unsigned station, bool extended) = 0;
};

struct FoundStation {
    unsigned station = 0;
    ProbeResult plain;
    ProbeResult family;
    // "ACPU", "AnACPU", or "unknown" when the extended read got neither an
    // answer nor the ACPU's refusal (NAK 06h) nor silence.
    std::string cpu;
};

struct ScanOutcome {
    bool found = false;  // a station answered: the settings below are the line's
    unsigned baud = 0;
    ScanFrame frame;
    std::vector<FoundStation> stations;
    // Stations that said only bytes that are no frame, wherever they were tried.
    std::vector<unsigned> noiseOnly;
    std::vector<std::string> tried;  // "9600,8N1", in order
    bool interrupted = false;
    std::string error;  // the port could not be set
};

// What the progress display is told.
class ScanProgress {
public:
    virtual ~ScanProgress() = default;
    // Before the stations are read at a setting; `secondsLeft` is the
    // longest the rest of the search can take if nothing more answers.
    virtual void Trying(const std::string& setting, std::size_t stations, double secondsLeft) = 0;
    // A station read at a setting, when it said anything.
    virtual void Heard(const std::string& setting, unsigned station, const ProbeResult& probe) = 0;
};

ScanOutcome RunScan(const ScanPlan& plan, ScanLine& line, ScanProgress& progress,
                    const volatile std::sig_atomic_t& stop);

}  // namespace jynmb
