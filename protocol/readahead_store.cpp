// What the read-ahead learns of the host's scan, how it plans the block that
// covers a gate, and the blocks it keeps.
#include <algorithm>

#include "address/device_table.h"
#include "address/gate_kind.h"
#include "protocol/device_field.h"
#include "protocol/readahead.h"

namespace jyn::protocol {

namespace {

// The devices a block can hold are those of the device table; an AnACPU
// (A3A class) has each of them up to its last point or register, and special
// relays and registers past that end are read alone.
int64_t LastSlotOf(int32_t device) {
    const address::DeviceRule* rule = address::FindDevice(device);
    if (rule == nullptr) return -1;
    return rule->numbering == address::Numbering::kGroup ? rule->anacpuLast / 16 : rule->anacpuLast;
}

// The word commands carry 64 words of a word device; a bit device's block
// stays within the 256 points a bit command reads.
constexpr int64_t kMaxRegisterSlots = 64;
constexpr int64_t kMaxGroupSlots = 16;
constexpr std::size_t kMaxLearnedRuns = 1024;
constexpr std::size_t kMaxBlocks = 64;
constexpr std::size_t kMaxRefused = 64;

// The device number a word read of the slot `slot` names on the line.
int64_t DeviceNumberOf(const GateSpan& span, int64_t slot) {
    return span.bitDevice ? slot * 16 : slot;
}

bool Overlaps(const Cover& cover, const GateSpan& span) {
    return cover.lo <= span.hi && span.lo <= cover.hi;
}

}  // namespace

bool ScanKey::operator<(const ScanKey& other) const {
    if (station < other.station || other.station < station) return station < other.station;
    if (device != other.device) return device < other.device;
    return extended < other.extended;
}

GateSpan SpanOf(const GateRequest& gate, StationKey station, bool extended, uint32_t points) {
    GateSpan span;
    const GateAddress& address = gate.gateAddress;
    const address::DeviceRule* rule = address::FindDevice(address.memType);
    if (rule == nullptr || points == 0 || address.address < 0) return span;
    span.key = {station, rule->device, extended};
    span.bitDevice = rule->numbering == address::Numbering::kGroup;
    span.logicalStation = address.station;
    const bool bitGate = address.bitIndex >= 0 && address.bitWidth == 8;
    span.bit = bitGate ? address.bitIndex : -1;
    span.lo = address::Is32BitLetter(address.memType) ? int64_t{address.address} * 2
                                                      : int64_t{address.address};
    span.hi = span.lo + (bitGate ? 0 : int64_t{points} - 1);
    span.eligible = true;
    return span;
}

GateSpan SpanOf(const TransferPlan& plan) {
    const bool extended = plan.command == 'J' || plan.command == 'Q';
    return SpanOf(*plan.gate, plan.station, extended, plan.points);
}

void ReadAheadStore::Learn(const GateSpan& span) {
    Scan& scan = scans_[span.key];
    // A host that reads ever new addresses is not scanning: start again
    // rather than grow without end.
    if (scan.learned.size() >= kMaxLearnedRuns) scan.learned.clear();
    // What the gate read well, the station has again.
    scan.refused.erase(std::remove_if(scan.refused.begin(), scan.refused.end(),
                                      [&](const Cover& refused) {
                                          return span.lo <= refused.lo && refused.hi <= span.hi;
                                      }),
                       scan.refused.end());
    int64_t lo = span.lo;
    int64_t hi = span.hi;
    auto it = scan.learned.upper_bound(hi + 1);
    while (it != scan.learned.begin()) {
        auto before = std::prev(it);
        if (before->second + 1 < lo) break;
        lo = std::min(lo, before->first);
        hi = std::max(hi, before->second);
        it = scan.learned.erase(before);
    }
    scan.learned[lo] = hi;
}

// The gate's points become a refused range too: a hole a block bridges
// must not be one the station refuses.
void ReadAheadStore::Forget(const GateSpan& span) {
    Refused(span, {span.lo, span.hi});
    const auto scan = scans_.find(span.key);
    std::map<int64_t, int64_t> kept;
    for (const auto& run : scan->second.learned) {
        if (run.second < span.lo || run.first > span.hi) {
            kept.insert(run);
            continue;
        }
        if (run.first < span.lo) kept[run.first] = span.lo - 1;
        if (run.second > span.hi) kept[span.hi + 1] = run.second;
    }
    scan->second.learned.swap(kept);
}

bool ReadAheadStore::Knows(const GateSpan& span) const {
    const auto scan = scans_.find(span.key);
    if (scan == scans_.end()) return false;
    auto run = scan->second.learned.upper_bound(span.lo);
    if (run == scan->second.learned.begin()) return false;
    --run;
    return run->second >= span.hi;
}

// Within the command's limit, the device's end and what the station did not
// refuse, and all of one command family: a block never crosses from the
// ACPU's own field to the extended one.
bool ReadAheadStore::Allowed(const GateSpan& span, const StationEntry& station, int64_t lo,
                             int64_t hi) const {
    const int64_t maxSlots =
        std::min(slotLimit_, span.bitDevice ? kMaxGroupSlots : kMaxRegisterSlots);
    if (lo < 0 || hi < lo || hi - lo + 1 > maxSlots || hi > LastSlotOf(span.key.device)) {
        return false;
    }
    const auto scan = scans_.find(span.key);
    if (scan != scans_.end()) {
        for (const Cover& refused : scan->second.refused) {
            if (lo <= refused.lo && refused.hi <= hi) return false;
        }
    }
    const auto words = static_cast<uint32_t>(hi - lo + 1);
    const int64_t head = DeviceNumberOf(span, lo);
    if (TakesExtendedForm(station, span.key.device, false, head, words) != span.key.extended) {
        return false;
    }
    return !span.key.extended || station.cpuType != kCpuA ||
           TakesExtendedForm(station, span.key.device, false, head, 1);
}

// The highest slot the block can reach upwards: learned runs whose holes
// are at most `gap` points wide, as far as the limits let it.
int64_t ReadAheadStore::ExtendUp(const GateSpan& span, const StationEntry& station,
                                 const Scan& scan, Cover cover) const {
    const int64_t gapSlots = span.bitDevice ? settings_.gap / 16 : settings_.gap;
    int64_t hi = cover.hi;
    for (auto it = scan.learned.upper_bound(cover.lo);; ++it) {
        // The run that holds `hi` itself may reach beyond it.
        auto run = it == scan.learned.begin() ? it : std::prev(it);
        if (run != scan.learned.end() && run->first <= hi && run->second > hi) it = run;
        if (it == scan.learned.end() || it->first - hi - 1 > gapSlots) return hi;
        int64_t target = std::max(hi, it->second);
        while (target > hi && !Allowed(span, station, cover.lo, target)) --target;
        if (target < it->second) return target;
        hi = target;
    }
}

int64_t ReadAheadStore::ExtendDown(const GateSpan& span, const StationEntry& station,
                                   const Scan& scan, Cover cover) const {
    const int64_t gapSlots = span.bitDevice ? settings_.gap / 16 : settings_.gap;
    int64_t lo = cover.lo;
    auto it = scan.learned.lower_bound(lo);
    while (it != scan.learned.begin()) {
        --it;
        if (it->second < lo && lo - it->second - 1 > gapSlots) return lo;
        int64_t target = std::min(lo, it->first);
        while (target < lo && !Allowed(span, station, target, cover.hi)) ++target;
        if (target > it->first) return target;
        lo = target;
    }
    return lo;
}

Cover ReadAheadStore::Plan(const GateSpan& span, const StationEntry& station, int64_t slotLimit) {
    slotLimit_ = std::max<int64_t>(slotLimit, span.hi - span.lo + 1);
    Cover cover{span.lo, span.hi};
    const auto scan = scans_.find(span.key);
    if (scan == scans_.end() || !Allowed(span, station, span.lo, span.hi)) return cover;
    cover.hi = ExtendUp(span, station, scan->second, cover);
    cover.lo = ExtendDown(span, station, scan->second, cover);
    return cover;
}

void ReadAheadStore::Expire(uint64_t nowMs) {
    blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                                 [&](const ReadBlock& block) {
                                     return nowMs < block.stampMs ||
                                            nowMs - block.stampMs >= settings_.ageMs;
                                 }),
                  blocks_.end());
}

ReadBlock* ReadAheadStore::Find(const GateSpan& span, uint64_t nowMs) {
    Expire(nowMs);
    for (ReadBlock& block : blocks_) {
        if (block.key.station < span.key.station || span.key.station < block.key.station ||
            block.key.device != span.key.device || block.key.extended != span.key.extended) {
            continue;
        }
        if (block.cover.lo <= span.lo && span.hi <= block.cover.hi) return &block;
    }
    return nullptr;
}

ReadBlock& ReadAheadStore::Keep(ReadBlock block) {
    // A newer block holds the newer values of whatever it shares with older ones.
    const GateSpan covered{true, block.key, false, block.cover.lo, block.cover.hi};
    DropWritten(covered);
    if (blocks_.size() >= kMaxBlocks) blocks_.erase(blocks_.begin());
    blocks_.push_back(std::move(block));
    return blocks_.back();
}

void ReadAheadStore::DropWritten(const GateSpan& span) {
    blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                                 [&](const ReadBlock& block) {
                                     const StationKey& a = block.key.station;
                                     const StationKey& b = span.key.station;
                                     return !(a < b) && !(b < a) &&
                                            block.key.device == span.key.device &&
                                            Overlaps(block.cover, span);
                                 }),
                  blocks_.end());
}

void ReadAheadStore::Refused(const GateSpan& span, Cover cover) {
    std::vector<Cover>& refused = scans_[span.key].refused;
    if (refused.size() >= kMaxRefused) refused.erase(refused.begin());
    refused.push_back(cover);
}

}  // namespace jyn::protocol
