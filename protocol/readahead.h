// Scan read-ahead (READAHEAD = age[, gap] in the station file): a host reads
// its gates one by one, and most of a scan's gates sit close together on a
// few devices of a station. The line learns which addresses the host reads,
// per station, device and command family, and on a read it has no fresh data
// for it reads one block that covers the gate and the learned addresses near
// it. Later reads inside that block are served from it, without a byte on
// the line, while the block is younger than `age`.
//
// Blocks are kept as words: bit devices are read in word units, 16 points a
// word, which the bit gates of the block are picked from.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "interface/host_abi.h"
#include "protocol/line.h"
#include "protocol/transfer_plan.h"

namespace jyn::protocol {

struct ReadAheadSettings {
    uint32_t ageMs = 0;  // 0: off
    uint32_t gap = 8;    // the widest hole bridged, in device points
};

// Where a gate's points sit: the station, the device as the line names it
// (data registers whether the host reads them as words, 32-bit values or
// text), the command family, and the word slots its read takes (registers,
// or 16-point groups of a bit device).
struct ScanKey {
    StationKey station;
    int32_t device = 0;
    bool extended = false;  // JR/QR and the 7-character field
    bool operator<(const ScanKey& other) const;
};

struct GateSpan {
    bool eligible = false;
    ScanKey key;
    bool bitDevice = false;
    int64_t lo = 0;
    int64_t hi = 0;
    int bit = -1;  // a bit gate's point within its group
    int32_t logicalStation = 0;
};

// The span of a planned read or write of a gate (`points` as its request
// counts them); not eligible when the line cannot read it in words (nothing
// to read, an unknown device).
GateSpan SpanOf(const TransferPlan& plan);
GateSpan SpanOf(const GateRequest& gate, StationKey station, bool extended, uint32_t points);

struct Cover {
    int64_t lo = 0;
    int64_t hi = 0;
};

// One block read ahead: its words, when its read went out, what it served.
struct ReadBlock {
    ScanKey key;
    Cover cover;
    uint64_t stampMs = 0;
    std::vector<uint16_t> words;
    std::string label;  // how the trace names it
    uint32_t served = 0;
};

// What the line knows of the host's scan and the blocks it holds. The
// planning is free of the line, so that it can be tried on its own.
class ReadAheadStore {
public:
    explicit ReadAheadStore(ReadAheadSettings settings) : settings_(settings) {}

    const ReadAheadSettings& Settings() const { return settings_; }
    // A gate read well is part of the scan; one the station refuses on its
    // own is left out of every block until it is read well again.
    void Learn(const GateSpan& span);
    void Forget(const GateSpan& span);
    // Whether an earlier read of the scan had every slot of `span`.
    bool Knows(const GateSpan& span) const;
    // The block to read for `span` on `station`, of at most `slotLimit`
    // words: the gate's own slots when nothing learned lies within reach, or
    // the gate may not be read in words.
    Cover Plan(const GateSpan& span, const StationEntry& station, int64_t slotLimit = INT64_MAX);
    // Whether the gate's own slots may be read as a word block (after Plan).
    bool ReadableInWords(const GateSpan& span, const StationEntry& station) const {
        return Allowed(span, station, span.lo, span.hi);
    }
    // A block younger than the age that holds every slot of `span`.
    ReadBlock* Find(const GateSpan& span, uint64_t nowMs);
    ReadBlock& Keep(ReadBlock block);
    // A write to `span`: every block that holds one of its slots goes.
    void DropWritten(const GateSpan& span);
    void DropAll() {
        blocks_.clear();
        suspended_.clear();
    }
    // The station refused the block `cover` read for `span` (a range it
    // does not have): no later block of its key holds all of it.
    void Refused(const GateSpan& span, Cover cover);
    // A block read that failed on the link: read the station's gates alone
    // until one of them gets through.
    void Suspend(StationKey station) { suspended_.insert(station); }
    void Resume(StationKey station) { suspended_.erase(station); }
    bool Suspended(StationKey station) const { return suspended_.count(station) != 0; }

private:
    struct Scan {
        std::map<int64_t, int64_t> learned;  // runs of slots read: first → last
        std::vector<Cover> refused;
    };
    bool Allowed(const GateSpan& span, const StationEntry& station, int64_t lo, int64_t hi) const;
    int64_t ExtendUp(const GateSpan& span, const StationEntry& station, const Scan& scan,
                     Cover cover) const;
    int64_t ExtendDown(const GateSpan& span, const StationEntry& station, const Scan& scan,
                       Cover cover) const;
    void Expire(uint64_t nowMs);

    ReadAheadSettings settings_;
    int64_t slotLimit_ = INT64_MAX;  // the plan being made
    std::map<ScanKey, Scan> scans_;
    std::vector<ReadBlock> blocks_;
    std::set<StationKey> suspended_;
};

// A read of the gate `plan` was made for, through the line's read-ahead:
// served from a block, read with a block that covers it, or read alone.
// `plan` is the gate's own, and its request is in the send buffer.
int32_t ReadThroughReadAhead(Line& line, const CallBlock& block, TransferPlan& plan);

// Before a write: no block keeps a value the write changes.
void DropWrittenBlocks(Line& line, const TransferPlan& plan);

}  // namespace jyn::protocol
