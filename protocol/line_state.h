// What one line remembers from one transaction to the next. The host's
// context has a fixed size and layout that hosts rely on, so this lives in
// memory the driver allocates with the instance's frame buffers and gives
// back with them: one instance is one line, and station 01 on one line is
// not station 01 on another.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "interface/trace.h"

namespace jyn::protocol {

// A station and PC number as they go into every frame.
constexpr uint16_t StationKey(uint8_t station, uint8_t pc) {
    return static_cast<uint16_t>(station << 8 | pc);
}

struct LineState {
    // OFFLINE = n in the station file: a station that said nothing to ten
    // attempts rests for this many seconds. 0: stations never rest.
    uint32_t restSeconds = 0;
    // Resting stations, and those whose rest is over but who have not
    // answered since: until when (monotonic ms) each one rests.
    std::map<uint16_t, uint64_t> restUntilMs;

    // TRACE = path in the station file: the line as the driver sees it.
    std::unique_ptr<Trace> trace;

    // ColdStart, ReOpenCom and ChangeJynParams: every station gets its
    // chance again.
    void WakeAll() { restUntilMs.clear(); }
};

}  // namespace jyn::protocol
