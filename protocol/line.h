// Everything the driver keeps about one instance's serial line, from one
// call of the host to the next. The host's DriverContext has a size and a
// layout that hosts rely on and holds only what the host may look at; this
// object is the driver's own, allocated by ColdStart and given back by
// EndJyn (or the next ColdStart). One instance is one line: station 01 on
// one line is not station 01 on another.
//
// The host-visible fields of the context (port, settings, reply time-out,
// buffer pointers and lengths) are copies the driver writes from here at
// the end of each call that changes them; the driver itself reads them here
// only.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "interface/host_abi.h"
#include "interface/trace.h"
#include "serial/port.h"

namespace jyn::protocol {

class ReadAheadStore;

// A station and PC number as they go into every frame: on a multidrop line
// one station number with two PC numbers is two stations.
struct StationKey {
    uint8_t station = 0;
    uint8_t pc = 0;
    bool operator<(const StationKey& other) const {
        return station != other.station ? station < other.station : pc < other.pc;
    }
};

// The requests a station may still answer, in the order they went out, by
// the length of the answer each would get (a read's data reply, a write's
// ACK; any of them may instead be answered by a NAK). Format 1 carries no
// transaction tag, so this is all that tells an old answer from a new one.
// Kept as runs of equal lengths: a dead station asked again and again adds
// to a count, not to the memory.
class Debt {
public:
    bool Empty() const { return runs_.empty(); }
    uint64_t Count() const;
    bool Owes(uint16_t answerLength) const;
    // A request that went out at `sentMs` (the device's monotonic clock).
    void Add(uint16_t answerLength, uint64_t sentMs);
    // A good data reply of `answerLength` from the station: it answers one
    // of the owed requests of that length, at the earliest the first one.
    // A station answers in the order it took requests, so everything up to
    // and including that first one is settled (a request it dropped is
    // settled too: it will never be answered). What comes after stays owed.
    // False when no owed request has an answer of that length. `sentMs`
    // says when the request it answers went out, 0 when that is not known
    // (a station asked again and again keeps only the first and last time).
    bool Settle(uint16_t answerLength, uint64_t& sentMs);
    // The last request's answer length (0 when nothing is owed).
    uint16_t Last() const { return runs_.empty() ? 0 : runs_.back().length; }
    void Clear() { runs_.clear(); }

private:
    struct Run {
        uint16_t length;
        uint64_t count;
        uint64_t firstSentMs;  // the oldest of the run, 0 when not known
        uint64_t lastSentMs;
    };
    std::deque<Run> runs_;
};

// What the line remembers of one station across transactions.
struct StationState {
    // Requests it may still answer; only an answer that no owed request can
    // have (the resynchronising read's) or a port reopen clears it.
    Debt debt;
    // OFFLINE = n: until when (monotonic ms) the station rests. Set while it
    // rests, and after the rest until it has answered again (its first
    // transaction then probes it with one attempt).
    bool resting = false;
    uint64_t restUntilMs = 0;
};

class Line {
public:
    Line();
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // The two frame buffers (kFrameBufferSize bytes each, malloc'd by the
    // driver's allocator and freed here). The context names them too, which
    // is how the driver finds this line again.
    unsigned char* sendBuffer = nullptr;
    unsigned char* receiveBuffer = nullptr;
    uint16_t sendLength = 0;     // the request frame in sendBuffer
    uint16_t receiveLength = 0;  // the last reply in receiveBuffer

    serial::Handle port = nullptr;  // the handle this line opened, or none
    PortSettings settings{};
    uint32_t replyTimeout = 0;  // units of 10 ms, as the host gave it
    // The total read time-out the open port carries between operations: set
    // with every open (OpenPort's own) and every SetReplyTimeout, never read
    // back from the device. Settles and the purge put it back after their
    // shorter waits.
    uint32_t portTimeoutMs = 0;

    // OFFLINE = n in the station file: a station that said nothing to a
    // whole transaction rests for this many seconds. 0: stations never rest.
    uint32_t restSeconds = 0;
    std::map<StationKey, StationState> stations;

    // TRACE = path in the station file: the line as the driver sees it.
    std::unique_ptr<Trace> trace;

    // READAHEAD = age[, gap] in the station file: the host's scan as the
    // line learned it and the blocks read ahead. None: every read is the
    // gate's own.
    std::unique_ptr<ReadAheadStore> readAhead;

    // Both buffers are there: the instance may read and write.
    bool Started() const { return sendBuffer != nullptr && receiveBuffer != nullptr; }

    // The port is (re)opened with this handle: the device's read time-out
    // is OpenPort's own until the reply time-out is applied.
    // A new port is a new line: nothing sent on the old one can be
    // answered on it, so every station's debt goes.
    void Opened(serial::Handle handle);
    // Closed or (re)opened: no block read ahead before serves a read after.
    void DropReadAhead();
    // Applies the reply time-out to the open port.
    void ApplyReplyTimeout();

    // ColdStart, ReOpenCom and ChangeJynParams: every station gets its
    // chance again.
    void WakeAll();
    // The station's state, made on first use.
    StationState& Station(StationKey key) { return stations[key]; }

    // Writes the host-visible copies into the context.
    void PublishBuffers(DriverContext& context) const;
    void Publish(DriverContext& context) const;
};

}  // namespace jyn::protocol
