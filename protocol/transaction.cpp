// One transaction is a sequence of plain steps: check whether the station
// rests, then up to ten attempts, then store and confirm a good read and
// write the trace. An attempt is either the gate's own request (purge,
// send, receive, check) or, while the station may still owe answers to
// earlier requests, a resynchronising read that proves it owes nothing.
//
// Format 1 has no transaction tag: a reply names its station and PC number,
// never the request it answers. A station that was late, busy or deaf to
// one request may still answer it, and that answer would be taken by the
// next request of the same length: a wrong value reported as good. So every
// request that did not get its answer stays owed (the station's debt, kept
// on the line across transactions), and a station with debt gets no gate
// request until a read whose answer length no owed request can have has
// been answered. A station answers the requests it took in the order it
// took them, so that answer comes after every old one: the debt is paid.
#include "protocol/transaction.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "address/parse.h"
#include "interface/log.h"
#include "protocol/hex.h"
#include "protocol/reply_check.h"
#include "protocol/reply_data.h"
#include "serial/device.h"
#include "serial/frame.h"
#include "serial/port.h"

namespace jyn::protocol {

namespace {

using serial::Reception;

constexpr std::size_t kDataStart = 5;
// The longest data reply a request can have: 64 words, 256 bits.
constexpr uint16_t kLongestReply = 8 + 256;
// Beyond the reply time-out and the frames' time on the line: the host's
// and the device's own few milliseconds.
constexpr uint32_t kMarginMs = 20;
// A spoilt reply's last bytes: four characters, at least 5 ms.
constexpr uint32_t kMinGapMs = 5;
constexpr uint32_t kGapCharacters = 4;
// The resynchronising read: words from D0, a device every ACPU and AnACPU
// has, read by a command that goes to the CPU (the link module may answer
// the TT loopback itself, ahead of answers it still owes).
constexpr uint32_t kResyncMaxWords = 64;

// What the whole transaction heard: whether the station is alive and what
// the trace's line for it says.
struct TransactionTally {
    bool alive = false;  // the station sent something
    int silent = 0;      // attempts without a byte
    int attempts = 0;
    int resyncs = 0;  // the trace's "settles": what it cost to know the line
    uint32_t bytesOut = 0;
    uint32_t bytesIn = 0;
    std::string naks;  // the codes, "02,02", "??" for an unreadable one
};

// One transfer on one line, with what its steps share.
struct Transaction {
    Line& line;
    const TransferPlan& plan;
    const ServiceTexts& texts;
    StationState& station;
    TransactionTally tally;
    // Of the station's debt, how many are this gate's own request, sent
    // again by this transaction's attempts. An answer to any of them is as
    // good as an answer to the last: the same frame, the same gate.
    uint64_t ownOwed = 0;

    // Only requests of this gate are owed: its own request may go out, and
    // whichever of them is answered, the answer is this gate's.
    bool OwesOnlyOwn() const { return station.debt.Count() == ownOwed; }
    // The request went out at `sentMs`: a late answer is timed from there.
    void Owe(uint16_t answerLength, bool own, uint64_t sentMs) {
        station.debt.Add(answerLength, sentMs);
        if (own) ++ownOwed;
    }

    Trace* trace() const { return line.trace.get(); }
};

std::string HexByte(int value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value) & 0xFFu);
    return text;
}

uint32_t LineMs(const Line& line, uint32_t characters) {
    const uint64_t micros = uint64_t{characters} * serial::CharacterMicros(line.settings);
    return static_cast<uint32_t>((micros + 999) / 1000);
}

// An attempt ends no later than this, whatever bytes keep coming: the
// request's and the longest answer's time on the line, the reply time-out
// and a margin, from the moment the request was handed to the port.
serial::ReadBound BoundOf(const Line& line, uint16_t requestLength, uint16_t longestReply) {
    serial::ReadBound bound;
    bound.timeoutMs = line.portTimeoutMs;
    bound.deadlineMs = device::MonotonicMs() + line.portTimeoutMs +
                       LineMs(line, uint32_t{requestLength} + longestReply) + kMarginMs;
    return bound;
}

// A reply broken off, overlong or not a reply at all is the gate's failure
// for this attempt; silence is the link's.
int32_t ResultOf(Reception reception) {
    switch (reception) {
        case Reception::kComplete: return kOk;
        case Reception::kBroken: return kGateFailure;
        case Reception::kSilent: break;
    }
    return kDriverFailure;
}

// Send: one frame, counted for the trace; the send error logged.
bool Send(Transaction& t, const unsigned char* frame, uint16_t length, Attempt& attempt) {
    ++t.tally.attempts;
    if (!serial::SendFrame(t.line.port, frame, length, t.trace())) {
        LogInfo(t.texts.sendError, attempt.number);
        attempt.result = kDriverFailure;
        return false;
    }
    t.tally.bytesOut += length;
    return true;
}

// Receive: one reply into the receive buffer, no later than the bound.
Reception Receive(Transaction& t, const serial::ReadBound& bound) {
    Line& line = t.line;
    const Reception reception = serial::ReceiveReply(
        line.port, line.receiveBuffer, kFrameBufferSize, line.receiveLength, t.trace(), bound);
    t.tally.bytesIn += line.receiveLength;
    if (reception == Reception::kSilent && t.trace()) t.trace()->Silence(line.portTimeoutMs);
    return reception;
}

// A complete frame that surely came from another station or PC: an ACK or
// NAK naming them (neither carries a sum check), or a data reply naming
// them with a right sum. Not this request's answer, and no end of the wait
// for it.
bool FromAnotherStation(const TransferPlan& plan, const unsigned char* frame, uint16_t length) {
    if (length < serial::kAckLength || plan.SameAddress(frame)) return false;
    return frame[0] == serial::kACK || frame[0] == serial::kNAK || SumHolds(frame, length);
}

// Receives until a frame that is not another station's, silence, a broken
// reception or the bound; the other stations' frames are only traced.
Reception ReceiveOwn(Transaction& t, const serial::ReadBound& bound) {
    for (;;) {
        const Reception reception = Receive(t, bound);
        const Line& line = t.line;
        if (reception != Reception::kComplete ||
            !FromAnotherStation(t.plan, line.receiveBuffer, line.receiveLength)) {
            if (reception == Reception::kSilent) {
                ++t.tally.silent;
            } else {
                t.tally.alive = true;
            }
            return reception;
        }
        if (t.trace()) t.trace()->Notice(RecordKind::kForeign);
    }
}

// A reply whose last bytes may still be on the way: let them pass.
void QuietGap(Transaction& t, const serial::ReadBound& bound) {
    Line& line = t.line;
    const uint32_t gap =
        std::min(std::max(kMinGapMs, LineMs(line, kGapCharacters)), line.portTimeoutMs);
    serial::SetReadTimeoutMs(line.port, gap);
    // The gap is the port's wait now: near the attempt's deadline the read
    // is cut to what is left, and the gap, not the reply time-out, comes back.
    serial::ReadBound quiet = bound;
    quiet.timeoutMs = gap;
    const uint32_t dropped = serial::DrainLine(line.port, 1, t.trace(), quiet);
    serial::SetReadTimeoutMs(line.port, line.portTimeoutMs);
    if (dropped != 0) LogInfo(t.texts.settled, dropped);
    t.tally.bytesIn += dropped;
}

// Whether the request is still owed after a failed attempt. With nothing
// owed before it, a complete reply of the request's own shape whose sum
// check is wrong can only be its own answer, spoilt on the line.
bool LeftOwed(const Transaction& t, Reception reception, const Attempt& attempt, bool owedBefore) {
    if (attempt.result == kOk) return false;
    if (reception != Reception::kComplete) return true;
    const Line& line = t.line;
    const unsigned char* frame = line.receiveBuffer;
    if (frame[0] == serial::kNAK) return attempt.nak == kGarbledNak;
    const bool ownShape = t.plan.reply.shape == ReplyShape::kData &&
                          line.receiveLength == t.plan.reply.length && frame[0] == serial::kSTX &&
                          frame[line.receiveLength - 3] == serial::kETX &&
                          t.plan.SameAddress(frame);
    return owedBefore || !ownShape || SumHolds(frame, line.receiveLength);
}

// Check: what was received, against the plan.
void Check(Transaction& t, Reception reception, Attempt& attempt) {
    const Line& line = t.line;
    if (reception != Reception::kComplete) {
        LogError(t.texts.receiveError, unsigned{line.receiveLength}, attempt.number);
        attempt.result = ResultOf(reception);
        attempt.settle = SettleAfter(reception, line.receiveLength);
        return;
    }
    if (line.receiveBuffer[0] == serial::kNAK) {
        CheckNak(line, t.texts.nakReceived, attempt);
        if (!t.tally.naks.empty()) t.tally.naks += ',';
        t.tally.naks += attempt.nak == kGarbledNak ? std::string("??") : HexByte(attempt.nak);
        return;
    }
    CheckReply(line, t.plan, attempt);
    if (attempt.result != kOk) attempt.settle = SettleAfterFrame(line);
}

// The gate's own request, to a station that owes nothing but earlier copies
// of it: purge, send, receive, check; what did not get its answer becomes
// the station's debt. An answer settles one copy: the debt stays as it was.
void GateAttempt(Transaction& t, Attempt& attempt) {
    const TransferPlan& plan = t.plan;
    const bool owedBefore = !t.station.debt.Empty();
    serial::PurgePort(t.line.port, t.trace(), t.line.portTimeoutMs);
    if (!Send(t, plan.request, plan.requestLength, attempt)) {
        t.Owe(plan.reply.length, true, device::MonotonicMs());  // some may have gone out
        return;
    }
    const uint64_t sentMs = device::MonotonicMs();
    const serial::ReadBound bound =
        BoundOf(t.line, plan.requestLength, std::max(plan.reply.length, serial::kNakLength));
    const Reception reception = ReceiveOwn(t, bound);
    Check(t, reception, attempt);
    if (attempt.settle == SettleNeed::kGap) QuietGap(t, bound);
    if (LeftOwed(t, reception, attempt, owedBefore)) t.Owe(plan.reply.length, true, sentMs);
}

// The resynchronising read: its frame, and the length of its answer, which
// no request the station still owes can have (nor an ACK or a NAK, which
// no read of words has). Should every length be owed, which only a station
// asked again and again without a word takes, it repeats the last one: its
// answer then settles part of the debt, and the next read's the rest.
struct ResyncRead {
    unsigned char frame[24] = {};
    uint16_t length = 0;
    uint16_t answerLength = 0;
};

ResyncRead PlanResync(const TransferPlan& plan, const Debt& debt) {
    uint32_t words = 0;
    for (uint32_t n = 1; n <= kResyncMaxWords && words == 0; ++n) {
        if (!debt.Owes(static_cast<uint16_t>(8 + 4 * n))) words = n;
    }
    if (words == 0) {
        const uint16_t last = debt.Last();
        const bool repeatable = last >= 12 && (last - 8) % 4 == 0;
        words = repeatable ? (last - 8u) / 4u : 1u;
    }
    ResyncRead read;
    unsigned char* at = read.frame;
    *at++ = serial::kENQ;
    std::memcpy(at, plan.address, sizeof plan.address);
    at += sizeof plan.address;
    std::memcpy(at, "WR0D0000", 8);
    at += 8;
    PutHex(at, words, 2);
    at += 2;
    PutHex(at, SumCheck(read.frame + 1, static_cast<std::size_t>(at - read.frame - 1)), 2);
    read.length = static_cast<uint16_t>(at - read.frame + 2);
    read.answerLength = static_cast<uint16_t>(8 + 4 * words);
    return read;
}

// The proof has come: the station owes nothing. Its answer is confirmed as
// any good read's is.
void Proved(Transaction& t) {
    unsigned char confirmation[serial::kAckLength] = {serial::kACK};
    std::memcpy(confirmation + 1, t.plan.address, sizeof t.plan.address);
    if (serial::SendFrame(t.line.port, confirmation, serial::kAckLength, t.trace())) {
        t.tally.bytesOut += serial::kAckLength;
    }
    if (t.trace()) t.trace()->Notice(RecordKind::kResync);
}

// An answer the station owed, heard after its attempt had ended: how late it
// came, from its request to its first byte. What a longer reply time-out
// would have caught is the trace reader's business.
void TraceLate(const Transaction& t, uint64_t sentMs) {
    if (t.trace() == nullptr || sentMs == 0) return;
    const uint64_t now = device::MonotonicMs();
    const uint64_t onLine = LineMs(t.line, t.line.receiveLength);
    const uint64_t late = now > sentMs + onLine ? now - sentMs - onLine : 0;
    t.trace()->Record(RecordKind::kLate,
                      LateText({{t.plan.address, 2}, {t.plan.address + 2, 2}, late}));
}

// A frame of the station's own during a resynchronising read: an old
// answer settles what it can; the one that settles everything is the
// proof. True when the attempt is over.
bool HearOwn(Transaction& t, Attempt& attempt) {
    const Line& line = t.line;
    const unsigned char* frame = line.receiveBuffer;
    if (frame[0] == serial::kNAK) {
        // It may answer any request still owed, an earlier gate's among
        // them: a refusal it carries is no reason to stop this gate.
        Check(t, Reception::kComplete, attempt);
        attempt.stop = false;
        return true;
    }
    uint64_t sentMs = 0;
    if (!SumHolds(frame, line.receiveLength) ||
        !t.station.debt.Settle(line.receiveLength, sentMs)) {
        if (t.trace()) t.trace()->Notice(RecordKind::kOld);
        return false;
    }
    if (t.station.debt.Empty()) {
        Proved(t);
        t.ownOwed = 0;
        attempt.proved = true;
        return true;
    }
    TraceLate(t, sentMs);
    return false;
}

// One attempt spent on the resynchronising read: it is owed from the moment
// it is sent, and every frame before its answer is old. Logged as an
// attempt of the gate's service is, one line when it fails.
void ResyncAttempt(Transaction& t, Attempt& attempt) {
    const ResyncRead read = PlanResync(t.plan, t.station.debt);
    ++t.tally.resyncs;
    serial::PurgePort(t.line.port, t.trace(), t.line.portTimeoutMs);
    const bool sent = Send(t, read.frame, read.length, attempt);
    t.Owe(read.answerLength, false, device::MonotonicMs());
    if (!sent) return;
    const serial::ReadBound bound = BoundOf(t.line, read.length, kLongestReply);
    for (;;) {
        const Reception reception = ReceiveOwn(t, bound);
        if (reception != Reception::kComplete) {
            Check(t, reception, attempt);
            return;
        }
        if (HearOwn(t, attempt)) return;
    }
}

// Attempts until the gate's request succeeds, one says stop, or ten have
// been made; the result is that of the last attempt. A station that owes
// answers to other requests gets the resynchronising read first, which counts as an attempt; a
// proof in the last attempt leaves none for the gate. A probe of a station whose rest has just
// ended stops at a first attempt that hears nothing.
int32_t RunAttempts(Transaction& t, bool probe) {
    Attempt attempt;
    for (int number = 1; number <= kAttempts; ++number) {
        attempt = Attempt{};
        attempt.number = number;
        if (t.OwesOnlyOwn()) {
            GateAttempt(t, attempt);
            if (attempt.result == kOk) break;
        } else {
            ResyncAttempt(t, attempt);
            if (attempt.proved) attempt.result = kDriverFailure;
        }
        if (attempt.stop || (probe && !t.tally.alive)) break;
    }
    return attempt.result;
}

// A good read's data into the host's buffer, then the confirmation: ACK and
// the request's station and PC number. The send buffer shows it too, as the
// host's record always has: ACK over the request's ENQ.
int32_t StoreAndConfirm(Transaction& t) {
    Line& line = t.line;
    // The checks let only a reply of the planned length through.
    const int32_t result = StoreData(*t.plan.gate, line.receiveBuffer + kDataStart,
                                     t.plan.reply.dataLength, t.plan.function);
    if (result != kOk) return result;
    line.sendBuffer[0] = serial::kACK;
    unsigned char confirmation[serial::kAckLength] = {serial::kACK};
    std::memcpy(confirmation + 1, t.plan.address, sizeof t.plan.address);
    if (!serial::SendFrame(line.port, confirmation, serial::kAckLength, t.trace())) {
        LogInfo("JYNMB> DoRead() Warning: confirm. send error");
        return result;
    }
    t.tally.bytesOut += serial::kAckLength;
    return result;
}

// OFFLINE = n: a station that said nothing to a whole transaction rests for
// n seconds, and its gates fail at once meanwhile instead of each costing
// ten time-outs of the host's scan. The first transaction after the rest
// probes it with one attempt; any answer ends the rest.
class Rest {
public:
    Rest(Line& line, const TransferPlan& plan, const ServiceTexts& texts)
        : line_(line), station_(plan.station), texts_(texts) {}

    // True while the station rests: the gate fails without touching the line.
    bool Resting() {
        if (line_.restSeconds == 0) return false;
        const auto it = line_.stations.find(station_);
        if (it == line_.stations.end() || !it->second.resting) return false;
        probing_ = true;
        const uint64_t now = device::MonotonicMs();
        if (now >= it->second.restUntilMs) return false;
        const auto left = static_cast<unsigned>((it->second.restUntilMs - now + 999) / 1000);
        LogInfo(texts_.resting, unsigned{station_.station}, unsigned{station_.pc}, left);
        return true;
    }
    // The first transaction after a rest: one silent attempt ends it.
    bool Probing() const { return probing_; }

    void After(const TransactionTally& tally) {
        if (line_.restSeconds == 0) return;
        if (tally.alive) {
            line_.stations[station_].resting = false;
        } else if (tally.silent == kAttempts || (probing_ && tally.silent == 1)) {
            StationState& state = line_.stations[station_];
            state.resting = true;
            state.restUntilMs = device::MonotonicMs() + uint64_t{line_.restSeconds} * 1000u;
            LogInfo(texts_.restBegins, unsigned{station_.station}, unsigned{station_.pc},
                    unsigned{line_.restSeconds});
        }
    }

private:
    Line& line_;
    StationKey station_;
    const ServiceTexts& texts_;
    bool probing_ = false;
};

// The transaction's own clock: steady, so that a wall clock set back while
// it runs does not give it a negative time.
int64_t SteadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Tenths of a millisecond since `start`.
int64_t ElapsedTenths(int64_t start) { return (SteadyMicros() - start) / 100; }

// The trace's line for a whole transaction: what a statistic of the line
// is made of.
void TraceTransaction(const Transaction& t, int32_t result, int64_t start, const char* note) {
    const TransferPlan& plan = t.plan;
    const TransactionTally& tally = t.tally;
    TxnFields txn;
    txn.attempts = tally.attempts;
    txn.result = result;
    txn.tenthsMs = ElapsedTenths(start);
    txn.timeouts = tally.silent;
    txn.naks = tally.naks;
    txn.settles = tally.resyncs;
    txn.bytesOut = tally.bytesOut;
    txn.bytesIn = tally.bytesIn;
    if (note != nullptr) txn.note = note;
    if (!t.station.debt.Empty()) {
        t.trace()->Record(
            RecordKind::kDebt,
            DebtText({{plan.address, 2}, {plan.address + 2, 2}, t.station.debt.Count()}));
    }
    TraceTxn(t.line, plan, txn);
}

}  // namespace

void TraceTxn(Line& line, const TransferPlan& plan, TxnFields txn) {
    const address::AddressCopy gate = address::CopyAddressText(plan.gate->addressText);
    txn.station = {plan.address, 2};
    txn.pc = {plan.address + 2, 2};
    txn.service = TraceServiceName(plan.function);
    txn.gate = gate.text;
    line.trace->Record(RecordKind::kTxn, TxnText(txn));
    line.trace->Flush();
}

namespace {

// The whole transaction: the rest, the attempts, storing and confirming a
// good read, the trace.
int32_t Run(Line& line, const TransferPlan& plan, const ServiceTexts& texts) {
    const int64_t start = line.trace ? SteadyMicros() : 0;
    Transaction t{line, plan, texts, line.Station(plan.station), {}, 0};
    Rest rest(line, plan, texts);
    if (rest.Resting()) {
        if (t.trace()) TraceTransaction(t, kDriverFailure, start, "resting");
        return kDriverFailure;
    }
    const int32_t attempted = RunAttempts(t, rest.Probing());
    rest.After(t.tally);
    int32_t result = attempted;
    if (result == kOk && plan.StoresData()) result = StoreAndConfirm(t);
    if (t.trace()) TraceTransaction(t, result, start, plan.note);
    return result;
}

}  // namespace

int32_t DoRead(Line& line, const TransferPlan& plan) { return Run(line, plan, kReadTexts); }

int32_t DoWrite(Line& line, const TransferPlan& plan) { return Run(line, plan, kWriteTexts); }

}  // namespace jyn::protocol
