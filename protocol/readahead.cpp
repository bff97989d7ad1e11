// The read-ahead on the line: a read served from a block, a block read that
// covers the gate, and the gate's own read whenever a block cannot be had.
// The block read is a transaction like any other (the same attempts, checks,
// confirmation and settles); a hit puts into the host's value buffer what
// the gate's own reply would have put there, through the same decoding.
#include "protocol/readahead.h"

#include <algorithm>
#include <cstdio>

#include "protocol/hex.h"
#include "protocol/reply_data.h"
#include "protocol/request.h"
#include "protocol/transaction.h"
#include "protocol/value_buffer.h"
#include "serial/device.h"

namespace jyn::protocol {

namespace {

uint64_t NowMs() { return device::MonotonicMs(); }

constexpr std::size_t kMaxBlockWords = 64;

// The block as the trace names it: the gate text a host would write for a
// word block there, and its size in words.
std::string LabelOf(const GateSpan& span, const Cover& cover, const char* deviceField) {
    char text[48];
    std::snprintf(text, sizeof text, "%02X %s+%u", static_cast<unsigned>(span.logicalStation),
                  deviceField, static_cast<unsigned>(cover.hi - cover.lo + 1));
    return text;
}

// The data characters the gate's own reply would carry, from the block's
// words: one character for a bit gate, four per word otherwise.
std::size_t GateCharacters(const ReadBlock& block, const GateSpan& span, unsigned char* out) {
    const auto first = static_cast<std::size_t>(span.lo - block.cover.lo);
    if (span.bit >= 0) {
        out[0] = ((block.words[first] >> span.bit) & 1u) != 0 ? '1' : '0';
        return 1;
    }
    std::size_t length = 0;
    for (int64_t slot = span.lo; slot <= span.hi; ++slot) {
        PutHex(out + length, block.words[static_cast<std::size_t>(slot - block.cover.lo)], 4);
        length += 4;
    }
    return length;
}

// A transfer served from a block has its line in the trace like any other,
// with no attempt and no byte, and the block it came from.
void TraceServed(Line& line, const TransferPlan& plan, const ReadBlock& block, int32_t result,
                 uint64_t nowMs) {
    if (!line.trace) return;
    const std::string note = std::string(kReadAheadServedNote) + " " + block.label + " age " +
                             std::to_string(nowMs - block.stampMs);
    TxnFields txn;
    txn.result = result;
    txn.note = note;
    TraceTxn(line, plan, txn);
}

int32_t Serve(Line& line, const TransferPlan& plan, const GateSpan& span, ReadBlock& block,
              uint64_t nowMs) {
    unsigned char characters[4 * kMaxBlockWords];
    const std::size_t length = GateCharacters(block, span, characters);
    const int32_t result = StoreData(*plan.gate, characters, length, plan.function);
    ++block.served;
    TraceServed(line, plan, block, result, nowMs);
    return result;
}

// The block read: a word block of the cover, planned and run as a host's
// block read of it would be. Its words land in `fresh` when it succeeds.
int32_t ReadCover(Line& line, const CallBlock& block, const GateSpan& span, ReadBlock& fresh) {
    const Cover cover = fresh.cover;
    unsigned char values[2 * kMaxBlockWords] = {};
    GateRequest request{};
    request.gateAddress = {span.logicalStation, span.key.device, static_cast<int32_t>(cover.lo), -1,
                           16};
    request.count = static_cast<int32_t>(cover.hi - cover.lo + 1);
    request.data = values;
    request.addressText = "";
    CallBlock call = block;
    call.function = kBlockRead;
    call.params = &request;
    TransferPlan plan;
    if (!PlanTransfer(call, kBlockRead, line, plan)) return kGateFailure;
    fresh.label = LabelOf(span, cover, plan.deviceField);
    request.addressText = fresh.label.c_str();
    plan.note = kReadAheadBlockNote;
    // Stamped before the request goes out: whatever the station answers was
    // sampled later, so the age is never understated.
    fresh.stampMs = NowMs();
    const int32_t result = DoRead(line, plan);
    if (result != kOk) return result;
    fresh.words.resize(static_cast<std::size_t>(request.count));
    for (std::size_t i = 0; i < fresh.words.size(); ++i) fresh.words[i] = LoadWord(values, 2 * i);
    return kOk;
}

// The gate's own read; one that gets through ends a suspension.
int32_t ReadAlone(Line& line, const TransferPlan& plan, ReadAheadStore& store,
                  const GateSpan& span) {
    const int32_t result = DoRead(line, plan);
    if (result == kOk) store.Resume(span.key.station);
    return result;
}

// A failed block read fails nothing the gate's own read would not: the
// gate is read alone. A refusal (the station lacks part of the block) keeps
// later blocks of the device within what the gate asked; a failure of the
// link has the station's gates read alone until one gets through.
int32_t FallBack(Line& line, const CallBlock& block, TransferPlan& plan, const GateSpan& span,
                 const Cover& cover, int32_t failure) {
    ReadAheadStore& store = *line.readAhead;
    if (failure == kGateFailure) {
        store.Refused(span, cover);
    } else {
        store.Suspend(span.key.station);
    }
    if (!PlanTransfer(block, plan.function, line, plan)) return kGateFailure;
    return ReadAlone(line, plan, store, span);
}

// The most words a block may have so that its exchange (request, reply,
// confirmation) takes at most half the age on the line: a block must not
// arrive already stale, and it is timed from before its request went out.
int64_t SlotsWithinHalfTheAge(const Line& line) {
    constexpr int64_t kBitsPerChar = 11;      // start, 8 data, parity, stop: the most
    constexpr int64_t kCharsAroundData = 32;  // request, frame of the reply, confirmation
    const int64_t baud = line.settings.baudRate;
    if (baud == 0) return INT64_MAX;
    const int64_t chars = int64_t{line.readAhead->Settings().ageMs} * baud / (2000 * kBitsPerChar);
    return std::max<int64_t>(0, (chars - kCharsAroundData) / 4);
}

// A miss: one block that covers the gate and the scan around it, or the
// gate alone while the scan is still being learned (its first round reads
// every gate as it always did) or nothing else lies within reach.
int32_t ReadMiss(Line& line, const CallBlock& block, TransferPlan& plan, const GateSpan& span) {
    ReadAheadStore& store = *line.readAhead;
    if (!store.Knows(span) || store.Suspended(span.key.station)) {
        return ReadAlone(line, plan, store, span);
    }
    const StationEntry& station = block.context->stationTable[span.logicalStation];
    const Cover cover = store.Plan(span, station, SlotsWithinHalfTheAge(line));
    // A bit gate's group read as a word still serves the other bits of it.
    const bool alone = cover.lo == span.lo && cover.hi == span.hi;
    if (alone && (span.bit < 0 || !store.ReadableInWords(span, station))) {
        return ReadAlone(line, plan, store, span);
    }
    ReadBlock fresh;
    fresh.key = span.key;
    fresh.cover = cover;
    const int32_t result = ReadCover(line, block, span, fresh);
    if (result != kOk) return FallBack(line, block, plan, span, cover, result);
    return Serve(line, plan, span, store.Keep(std::move(fresh)), NowMs());
}

}  // namespace

int32_t ReadThroughReadAhead(Line& line, const CallBlock& block, TransferPlan& plan) {
    ReadAheadStore* store = line.readAhead.get();
    const GateSpan span = store != nullptr ? SpanOf(plan) : GateSpan{};
    if (!span.eligible) return DoRead(line, plan);
    const uint64_t now = NowMs();
    ReadBlock* hit = store->Find(span, now);
    const int32_t result =
        hit != nullptr ? Serve(line, plan, span, *hit, now) : ReadMiss(line, block, plan, span);
    if (result == kOk) store->Learn(span);
    if (result == kGateFailure) store->Forget(span);
    return result;
}

void DropWrittenBlocks(Line& line, const TransferPlan& plan) {
    if (!line.readAhead) return;
    const GateSpan span = SpanOf(plan);
    if (span.eligible) line.readAhead->DropWritten(span);
}

}  // namespace jyn::protocol
