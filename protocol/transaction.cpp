// One transaction is a sequence of plain steps: check whether the station
// rests, then up to ten attempts of purge, send, receive, check and decide
// (settle what the attempt left on the line, go on or stop), then store and
// confirm a good read, wait for answers still owed, and write the trace.
#include "protocol/transaction.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "address/parse.h"
#include "interface/log.h"
#include "protocol/reply_check.h"
#include "protocol/reply_data.h"
#include "protocol/settle.h"
#include "serial/device.h"
#include "serial/frame.h"
#include "serial/port.h"

namespace jyn::protocol {

namespace {

using serial::Reception;

constexpr std::size_t kDataStart = 5;

// What the whole transaction heard: whether the station is alive, what the
// settles after it need, and what the trace's line for it says.
struct TransactionTally {
    bool alive = false;  // the station sent something
    int silent = 0;      // attempts without a byte
    LastFrame last;      // the last bytes heard
    int attempts = 0;
    int settles = 0;
    uint32_t bytesOut = 0;
    uint32_t bytesIn = 0;
    std::string naks;  // the codes, "02,02", "??" for an unreadable one
};

// One transfer on one line, with what its steps share.
struct Transaction {
    Line& line;
    const TransferPlan& plan;
    const ServiceTexts& texts;
    TransactionTally tally;
    int owed = 0;  // silent attempts whose answers may still be coming
    bool timed = false;
    SettleTimes times{};

    Trace* trace() const { return line.trace.get(); }
    const SettleTimes& Times() {
        if (!timed) times = SettleTimesOf(line, plan);
        timed = true;
        return times;
    }
};

std::string HexByte(int value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value) & 0xFFu);
    return text;
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

// Send: the request frame, as planned.
bool Send(Transaction& t, Attempt& attempt) {
    ++t.tally.attempts;
    if (!serial::SendFrame(t.line.port, t.plan.request, t.plan.requestLength, t.trace())) {
        LogInfo(t.texts.sendError, attempt.number);
        attempt.result = kDriverFailure;
        return false;
    }
    t.tally.bytesOut += t.plan.requestLength;
    return true;
}

// Receive: one reply into the receive buffer, counted for the rest and the
// trace.
Reception Receive(Transaction& t) {
    Line& line = t.line;
    const Reception reception = serial::ReceiveReply(
        line.port, line.receiveBuffer, kFrameBufferSize, line.receiveLength, t.trace());
    t.tally.bytesIn += line.receiveLength;
    if (reception == Reception::kSilent) {
        if (t.trace()) t.trace()->Silence(line.portTimeoutMs);
        ++t.tally.silent;
    } else {
        t.tally.alive = true;
        t.tally.last = {device::MonotonicMs(), line.receiveLength};
    }
    return reception;
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

// One attempt: purge, send, receive, check.
Attempt MakeAttempt(Transaction& t, int number) {
    Attempt attempt;
    attempt.number = number;
    serial::PurgePort(t.line.port, t.trace(), t.line.portTimeoutMs);
    if (Send(t, attempt)) Check(t, Receive(t), attempt);
    return attempt;
}

// One settle: its message when it dropped bytes, and its record in the trace.
void RecordSettle(Transaction& t, const char* kind, uint64_t startMs, uint32_t dropped) {
    if (dropped != 0) LogInfo(t.texts.settled, dropped);
    ++t.tally.settles;
    t.tally.bytesIn += dropped;
    if (t.trace() != nullptr) {
        t.trace()->Record("SETTLE", std::string(kind) + " " +
                                        std::to_string(device::MonotonicMs() - startMs) + " ms " +
                                        std::to_string(dropped) + " bytes");
    }
}

// Decide, part one: let the line fall quiet as the failed attempt demands.
void SettleAttempt(Transaction& t, SettleNeed need) {
    const uint64_t start = device::MonotonicMs();
    switch (need) {
        case SettleNeed::kNone: break;
        case SettleNeed::kOwed: ++t.owed; break;
        case SettleNeed::kGap: RecordSettle(t, "gap", start, SettleGap(t.line, t.Times())); break;
        case SettleNeed::kFull:
            RecordSettle(t, "full", start, SettleFully(t.line, t.owed));
            t.owed = 0;
            break;
    }
}

// Attempts until one succeeds, one says stop, or ten have been made; the
// result is that of the last attempt. A probe of a station whose rest has
// just ended stops at a first attempt that hears nothing.
int32_t RunAttempts(Transaction& t, bool probe) {
    Attempt attempt;
    for (int number = 1; number <= kAttempts; ++number) {
        attempt = MakeAttempt(t, number);
        if (attempt.result == kOk) break;
        SettleAttempt(t, attempt.settle);
        if (attempt.stop || (probe && !t.tally.alive)) break;
    }
    // A station that never said a word is taken for dead: its silent
    // attempts cost their time-outs and nothing more. One that answered
    // something may answer the silent ones late, after a failure as after
    // a success (a NAK that stops the transaction can be the late answer
    // to an earlier attempt, with the answer to its own still to come).
    if (attempt.result != kOk && !t.tally.alive) t.owed = 0;
    return attempt.result;
}

// After the transaction: wait for the answers its silent attempts still owe.
void SettleOwedAnswers(Transaction& t, int32_t result) {
    if (t.owed <= 0) return;
    const SettleTimes times = SettleTimesOf(t.line, t.plan);
    const uint64_t start = device::MonotonicMs();
    const uint32_t dropped =
        result == kOk ? SettleOwedAfterSuccess(t.line, times, t.owed, t.tally.last, t.plan)
                      : SettleOwedAfterFailure(t.line, times, t.owed, t.plan);
    RecordSettle(t, "owed", start, dropped);
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

const char* ServiceName(uint32_t function) {
    switch (function & 0xFFu) {
        case kSingleRead: return "SingleRead";
        case kBlockRead: return "BlockRead";
        case kSingleWrite: return "SingleWrite";
        case kBlockWrite: return "BlockWrite";
        default: return "Transfer";
    }
}

std::string Elapsed(TraceStamp start) {
    const TraceStamp micros = Trace::Now() - start;
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%lld.%lld", static_cast<long long>(micros / 1000),
                  static_cast<long long>(micros % 1000 / 100));
    return elapsed;
}

// The trace's line for a whole transaction: what a statistic of the line
// is made of.
void TraceTransaction(const Transaction& t, int32_t result, TraceStamp start, const char* note) {
    const TransferPlan& plan = t.plan;
    const TransactionTally& tally = t.tally;
    const address::AddressCopy gate = address::CopyAddressText(plan.gate->addressText);
    std::string text = "st " + std::string(plan.address, 2) + " pc " +
                       std::string(plan.address + 2, 2) + " " + ServiceName(plan.function) + " '" +
                       gate.text + "' attempts " + std::to_string(tally.attempts) + " result " +
                       std::to_string(result) + " ms " + Elapsed(start) + " timeouts " +
                       std::to_string(tally.silent) + " naks " +
                       (tally.naks.empty() ? std::string("-") : tally.naks) + " settles " +
                       std::to_string(tally.settles) + " out " + std::to_string(tally.bytesOut) +
                       " in " + std::to_string(tally.bytesIn);
    if (note != nullptr) text += std::string(" ") + note;
    t.trace()->Record("TXN", text);
    t.trace()->Flush();
}

// The whole transaction: the rest, the attempts, storing and confirming a
// good read, the answers still owed, the trace.
int32_t Run(Line& line, const TransferPlan& plan, const ServiceTexts& texts) {
    const TraceStamp start = line.trace ? Trace::Now() : 0;
    Transaction t{line, plan, texts, {}};
    Rest rest(line, plan, texts);
    if (rest.Resting()) {
        if (t.trace()) TraceTransaction(t, kDriverFailure, start, "resting");
        return kDriverFailure;
    }
    const int32_t attempted = RunAttempts(t, rest.Probing());
    rest.After(t.tally);
    int32_t result = attempted;
    if (result == kOk && plan.StoresData()) result = StoreAndConfirm(t);
    SettleOwedAnswers(t, attempted);
    if (t.trace()) TraceTransaction(t, result, start, plan.note);
    return result;
}

}  // namespace

int32_t DoRead(Line& line, const TransferPlan& plan) { return Run(line, plan, kReadTexts); }

int32_t DoWrite(Line& line, const TransferPlan& plan) { return Run(line, plan, kWriteTexts); }

}  // namespace jyn::protocol
