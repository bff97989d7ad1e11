#include "protocol/transaction.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "address/gate_kind.h"
#include "address/parse.h"
#include "interface/log.h"
#include "protocol/hex.h"
#include "protocol/reply_data.h"
#include "protocol/request.h"
#include "protocol/settle.h"
#include "serial/device.h"
#include "serial/frame.h"
#include "serial/port.h"

namespace jyn::protocol {

namespace {

using serial::kACK;
using serial::kETX;
using serial::kNAK;
using serial::kSTX;
using serial::Reception;

constexpr uint16_t kFrameOverhead = 8;  // STX, station, PC number, ETX, sum check
constexpr std::size_t kDataStart = 5;
// The text of a NAK whose code characters are not two hexadecimal digits.
constexpr char kGarbledNakText[] = "unreadable error code";

void SleepPause(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Shared by every instance, and set by tests while other threads may run
// transactions: atomic, like every other piece of state the lines share.
std::atomic<PauseFunction> g_pause{&SleepPause};

void Pause(unsigned milliseconds) { g_pause.load()(milliseconds); }

// What a NAK code says, and what the transaction does about it.
struct NakAction {
    bool retry;      // a transmission error seen by the PLC: try again
    int32_t result;  // the result of the attempt
};

struct NakEntry {
    uint32_t code;
    const char* text;
    NakAction action;
};

// Codes 01h, 02h, 04h and 05h are transmission errors the PLC saw on the
// line: the same request may well pass the next time.
const NakEntry kNakTable[] = {
    {0x00, "Disable during RUN", {false, kGateFailure}},
    {0x01, "Parity error", {true, kGateFailure}},
    {0x02, "Sum Check error", {true, kGateFailure}},
    {0x03, "Protocol error", {false, kGateFailure}},
    {0x04, "Framing error", {true, kGateFailure}},
    {0x05, "Overrun error", {true, kGateFailure}},
    {0x06, "Character area error", {false, kGateFailure}},
    {0x07, "Character error", {false, kGateFailure}},
    {0x08, "PC access error", {false, kDriverFailure}},
    {0x09, "error 09h", {false, kDriverFailure}},
    {0x10, "PC number error", {false, kGateFailure}},
    {0x11, "Mode error", {false, kDriverFailure}},
};

std::string HexByte(int value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value) & 0xFFu);
    return text;
}

const NakEntry* FindNak(uint32_t code) {
    for (const NakEntry& entry : kNakTable) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

NakAction NakActionOf(uint32_t code) {
    const NakEntry* entry = FindNak(code);
    return entry != nullptr ? entry->action : NakAction{false, kGateFailure};
}

// What an attempt left on the line (settle.cpp says why each matters).
enum class Line {
    kQuiet,    // nothing sent, a NAK, or a reception ended by a time-out of silence
    kSilent,   // not a byte within the time-out: its answer is owed
    kNoise,    // a spoilt reply: its last bytes may still be coming
    kForeign,  // a good frame that answers something else: this answer may follow
};

// Where the transaction stands after one attempt.
struct Attempt {
    int number;         // 1 for the first attempt, 10 for the last
    bool stop = false;  // no further attempt
    int32_t result = kOk;
    Line line = Line::kQuiet;
    int nak = -1;  // the NAK code it got; kGarbledNak for an unreadable one
};
constexpr int kGarbledNak = 0x100;

// What the whole transaction heard, and what the trace's line for it says.
struct Hearing {
    bool alive = false;  // the station sent something
    int silent = 0;      // attempts without a byte
    Heard last;          // the last bytes heard
    Trace* trace = nullptr;
    int attempts = 0;
    int settles = 0;
    uint32_t bytesOut = 0;
    uint32_t bytesIn = 0;
    std::string naks;  // the codes, "02,02", "??" for an unreadable one
};

// What a read and a write transaction say differently; the attempts are the
// same steps.
struct Dialect {
    const char* sendError;
    const char* receiveError;
    const char* nakReceived;
    const char* settled;
    const char* resting;
    const char* restBegins;
};

const Dialect kReadDialect = {
    "JYNMB> DoRead() Send req error retry %d",
    "JYNMB> DoRead() Read reply error (len=%u), retry %d",
    "JYNMB> DoRead() NAK received, %s, retry %d",
    "JYNMB> DoRead() line settled, %u bytes discarded",
    "JYNMB> DoRead() station %02Xh, PC %02Xh rests, %u s more",
    "JYNMB> DoRead() station %02Xh, PC %02Xh silent, rests %u s",
};

const Dialect kWriteDialect = {
    "JYNMB> DoWrite() Send req error retry %d",
    "JYNMB> DoWrite() Rcv reply(%u) error retry %d",
    "JYNMB> DoWrite() NAK received, %s, retry %d",
    "JYNMB> DoWrite() line settled, %u bytes discarded",
    "JYNMB> DoWrite() station %02Xh, PC %02Xh rests, %u s more",
    "JYNMB> DoWrite() station %02Xh, PC %02Xh silent, rests %u s",
};

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

bool SameAddressAsRequest(const DriverContext& context) {
    return std::memcmp(context.receiveBuffer + 1, context.sendBuffer + 1, 4) == 0;
}

// A NAK answers the request by its error code. A code that was damaged on
// the line says nothing about the request, so it is retried like a
// transmission error.
void JudgeNak(const DriverContext& context, const char* format, Attempt& attempt) {
    uint32_t code = 0;
    char storage[kNakTextSize];
    if (!ParseHexField(context.receiveBuffer + 5, 2, code)) {
        LogInfo(format, kGarbledNakText, attempt.number);
        attempt.result = kGateFailure;
        attempt.line = Line::kNoise;
        attempt.nak = kGarbledNak;
        return;
    }
    attempt.nak = static_cast<int>(code);
    LogInfo(format, NakText(code, storage), attempt.number);
    const NakAction action = NakActionOf(code);
    attempt.result = action.result;
    attempt.stop = !action.retry;
}

// The data characters a good reply to this read holds.
uint32_t ExpectedDataLength(const GateRequest& request, char& kind) {
    const uint16_t count = static_cast<uint16_t>(request.count);
    switch (request.gateAddress.bitWidth) {
        case 8: kind = 'B'; return count;
        case 16: kind = 'W'; return static_cast<uint16_t>(4u * count);
        default:
            // 32-bit values are checked like the others: a short reply would
            // otherwise let stale bytes of an earlier reply pass as values.
            kind = 'D';
            return static_cast<uint16_t>(8u * count);
    }
}

bool FramedByStxEtx(const DriverContext& context) {
    const uint16_t length = context.receiveLength;
    return length >= 3 && context.receiveBuffer[0] == kSTX &&
           context.receiveBuffer[length - 3] == kETX;
}

bool JudgeStringLength(const DriverContext& context, const GateRequest& request, Attempt& attempt) {
    const uint32_t expected =
        kFrameOverhead + 2u * address::RoundedStringLength(request.addressText);
    if (context.receiveLength == expected) return true;
    LogError("JYNMB> DoRead() illegal length reply , retry %d", attempt.number);
    if (FramedByStxEtx(context)) {
        LogError("JYNMB> missing chars in reply");
    } else {
        LogError("JYNMB> 'STX' or 'ETX' not found in reply");
    }
    Pause(kMalformedPauseMs);
    attempt.result = kGateFailure;
    return false;
}

bool JudgeLength(const DriverContext& context, const GateRequest& request, Attempt& attempt) {
    if (address::HasStringMarker(request.addressText)) {
        return JudgeStringLength(context, request, attempt);
    }
    char kind = 'W';
    const uint32_t data = ExpectedDataLength(request, kind);
    const uint16_t length = context.receiveLength;
    if (length == kFrameOverhead + data) return true;
    LogError("JYNMB> DoRead() illegal length reply , retry %d", attempt.number);
    if (FramedByStxEtx(context)) {
        LogInfo("JYNMB> DoRead() ... missing chars, %c, 8+%u<>%u !!", kind, data, unsigned{length});
    } else {
        const unsigned last = length >= 3 ? context.receiveBuffer[length - 3] : 0u;
        LogInfo("JYNMB> DoRead() ... %c, 8+%u<>%u, %02Xh, %02Xh", kind, data, unsigned{length},
                unsigned{context.receiveBuffer[0]}, last);
        Pause(kMalformedPauseMs);
    }
    attempt.result = kGateFailure;
    return false;
}

// A reply to a read: the length the gate calls for, STX and ETX in place, the
// request's station and PC number, and a right sum check.
void JudgeDataReply(const DriverContext& context, const GateRequest& request, Attempt& attempt) {
    if (!JudgeLength(context, request, attempt)) return;
    const uint16_t length = context.receiveLength;
    if (!FramedByStxEtx(context) || !SameAddressAsRequest(context)) {
        LogInfo("JYNMB> DoRead() received illegal response, retry %d (%02Xh)", attempt.number,
                unsigned{context.receiveBuffer[0]});
        attempt.result = kGateFailure;
        return;
    }
    uint32_t sum = 0;
    if (!ParseHexField(context.receiveBuffer + length - 2, 2, sum)) {
        LogInfo("JYNMB> DoRead() illegal Sum Check, retry %d", attempt.number);
        attempt.result = kGateFailure;
    } else if (sum != SumCheck(context.receiveBuffer + 1, length - 3u)) {
        LogInfo("JYNMB> DoRead() Sum Check error, retry %d", attempt.number);
        attempt.result = kGateFailure;
    }
}

// A reply to a write: exactly an ACK with the request's station and PC number.
void JudgeAck(const DriverContext& context, Attempt& attempt) {
    if (context.receiveLength != serial::kAckLength || context.receiveBuffer[0] != kACK ||
        !SameAddressAsRequest(context)) {
        LogInfo("JYNMB> DoWrite() received illegal response (%02Xh), retry %d",
                unsigned{context.receiveBuffer[0]}, attempt.number);
        attempt.result = kGateFailure;
    }
}

// A reply that was not the answer: a frame whose sum check holds is a
// genuine answer to something else; one without (or with a wrong one) is
// noise. An ACK carries no sum check to tell the two apart, so it is taken
// for genuine.
Line LineAfter(const DriverContext& context) {
    const unsigned char* frame = context.receiveBuffer;
    const uint16_t length = context.receiveLength;
    if (frame[0] == kACK) return Line::kForeign;
    uint32_t sum = 0;
    const bool sumHolds = frame[0] == kSTX && FramedByStxEtx(context) &&
                          ParseHexField(frame + length - 2, 2, sum) &&
                          sum == SumCheck(frame + 1, length - 3u);
    return sumHolds ? Line::kForeign : Line::kNoise;
}

// A reception that did not complete: silence, or bytes that stopped with a
// time-out of silence (the line is quiet), or a buffer's worth of them (it
// may not be).
Line LineAfter(Reception reception, uint16_t length) {
    if (reception == Reception::kSilent) return Line::kSilent;
    return length >= kFrameBufferSize - 1 ? Line::kNoise : Line::kQuiet;
}

// One attempt: send the request, receive one reply, and judge it; a NAK the
// same way for reads and writes, any other reply by `judge`.
template <typename Judge>
void MakeAttempt(DriverContext& context, const Dialect& dialect, Judge judge, Attempt& attempt,
                 Hearing& hearing) {
    ++hearing.attempts;
    if (!serial::SendFrame(context.port, context.sendBuffer, context.sendLength, hearing.trace)) {
        LogInfo(dialect.sendError, attempt.number);
        attempt.result = kDriverFailure;
        return;
    }
    hearing.bytesOut += context.sendLength;
    const Reception reception =
        serial::ReceiveReply(context.port, context.receiveBuffer, kFrameBufferSize,
                             context.receiveLength, hearing.trace);
    hearing.bytesIn += context.receiveLength;
    if (reception == Reception::kSilent) {
        ++hearing.silent;
    } else {
        hearing.alive = true;
        hearing.last = {device::MonotonicMs(), context.receiveLength};
    }
    if (reception != Reception::kComplete) {
        LogError(dialect.receiveError, unsigned{context.receiveLength}, attempt.number);
        attempt.result = ResultOf(reception);
        attempt.line = LineAfter(reception, context.receiveLength);
        return;
    }
    if (context.receiveBuffer[0] == kNAK) {
        JudgeNak(context, dialect.nakReceived, attempt);
        if (!hearing.naks.empty()) hearing.naks += ',';
        hearing.naks += attempt.nak == kGarbledNak ? std::string("??") : HexByte(attempt.nak);
        return;
    }
    judge(attempt);
    if (attempt.result != kOk) attempt.line = LineAfter(context);
}

// One settle: its message when it dropped bytes, and its record in the trace.
template <typename Settle>
void Settled(const char* format, const char* kind, Hearing& hearing, Settle settle) {
    const uint64_t start = device::MonotonicMs();
    const uint32_t dropped = settle();
    if (dropped != 0) LogInfo(format, dropped);
    ++hearing.settles;
    hearing.bytesIn += dropped;
    if (hearing.trace != nullptr) {
        hearing.trace->Record("SETTLE", std::string(kind) + " " +
                                            std::to_string(device::MonotonicMs() - start) + " ms " +
                                            std::to_string(dropped) + " bytes");
    }
}

// What one transaction needs besides the context: how it speaks, how it
// judges a reply, and what its answers look like.
template <typename Judge>
struct Exchange {
    const Dialect& dialect;
    Judge judge;
    AnswerShape shape;
};

// Attempts until one succeeds, one says stop, or ten have been made; the
// result is that of the last attempt. A probe of a station whose rest has
// just ended stops at a first attempt that hears nothing. `owed` counts the
// silent attempts whose answers may still be coming when it returns.
template <typename Judge>
int32_t RunAttempts(DriverContext& context, const Exchange<Judge>& exchange, bool probe,
                    Hearing& hearing, int& owed) {
    Attempt attempt;
    owed = 0;
    SettleTimes times{};
    bool timed = false;
    const auto settleTimes = [&]() -> const SettleTimes& {
        if (!timed)
            times = SettleTimesOf(context.port, context.portSettings, context.sendLength,
                                  AnswerLength(exchange.shape));
        timed = true;
        return times;
    };
    const char* settled = exchange.dialect.settled;
    for (attempt.number = 1; attempt.number <= kAttempts; ++attempt.number) {
        serial::PurgePort(context.port, hearing.trace);
        attempt.result = kOk;
        attempt.line = Line::kQuiet;
        attempt.nak = -1;
        MakeAttempt(context, exchange.dialect, exchange.judge, attempt, hearing);
        if (attempt.result == kOk) break;
        switch (attempt.line) {
            case Line::kQuiet: break;
            case Line::kSilent: ++owed; break;
            case Line::kNoise:
                Settled(settled, "gap", hearing,
                        [&] { return SettleGap(context.port, settleTimes(), hearing.trace); });
                break;
            case Line::kForeign:
                Settled(settled, "full", hearing,
                        [&] { return SettleFully(context.port, owed, hearing.trace); });
                owed = 0;
                break;
        }
        if (attempt.stop || (probe && !hearing.alive)) break;
    }
    // A station that never said a word is taken for dead: its silent
    // attempts cost their time-outs and nothing more. One that answered
    // something may answer the silent ones late, after a failure as after
    // a success (a NAK that stops the transaction can be the late answer
    // to an earlier attempt, with the answer to its own still to come).
    if (attempt.result != kOk && !hearing.alive) owed = 0;
    return attempt.result;
}

template <typename Judge>
void SettleOwedAnswers(DriverContext& context, const Exchange<Judge>& exchange, int32_t result,
                       int owed, Hearing& hearing) {
    if (owed <= 0) return;
    const SettleTimes times = SettleTimesOf(context.port, context.portSettings, context.sendLength,
                                            AnswerLength(exchange.shape));
    Settled(exchange.dialect.settled, "owed", hearing, [&] {
        return result == kOk ? SettleOwedAfterSuccess(context.port, times, owed, hearing.last,
                                                      exchange.shape, hearing.trace)
                             : SettleOwedAfterFailure(context.port, times, owed, exchange.shape,
                                                      hearing.trace);
    });
}

void Confirm(DriverContext& context, Hearing& hearing) {
    context.sendBuffer[0] = kACK;
    if (!serial::SendFrame(context.port, context.sendBuffer, serial::kAckLength, hearing.trace)) {
        LogInfo("JYNMB> DoRead() Warning: confirm. send error");
        return;
    }
    hearing.bytesOut += serial::kAckLength;
}

// OFFLINE = n: a station that said nothing to a whole transaction rests for
// n seconds, and its gates fail at once meanwhile instead of each costing
// ten time-outs of the host's scan. The first transaction after the rest
// probes it with one attempt; any answer ends the rest.
class Rest {
public:
    Rest(LineState& line, const DriverContext& context, const Dialect& dialect)
        : line_(line), dialect_(dialect) {
        uint32_t station = 0;
        uint32_t pc = 0;
        ParseHexField(context.sendBuffer + 1, 2, station);
        ParseHexField(context.sendBuffer + 3, 2, pc);
        station_ = station;
        pc_ = pc;
        key_ = StationKey(static_cast<uint8_t>(station), static_cast<uint8_t>(pc));
    }

    // True while the station rests: the gate fails without touching the line.
    bool Resting() {
        if (line_.restSeconds == 0) return false;
        const auto it = line_.restUntilMs.find(key_);
        if (it == line_.restUntilMs.end()) return false;
        probing_ = true;
        const uint64_t now = device::MonotonicMs();
        if (now >= it->second) return false;
        const auto left = static_cast<unsigned>((it->second - now + 999) / 1000);
        LogInfo(dialect_.resting, station_, pc_, left);
        return true;
    }
    // The first transaction after a rest: one silent attempt ends it.
    bool Probing() const { return probing_; }

    void After(const Hearing& hearing) {
        if (line_.restSeconds == 0) return;
        if (hearing.alive) {
            line_.restUntilMs.erase(key_);
        } else if (hearing.silent == kAttempts || (probing_ && hearing.silent == 1)) {
            line_.restUntilMs[key_] = device::MonotonicMs() + uint64_t{line_.restSeconds} * 1000u;
            LogInfo(dialect_.restBegins, station_, pc_, unsigned{line_.restSeconds});
        }
    }

private:
    LineState& line_;
    const Dialect& dialect_;
    unsigned station_ = 0;
    unsigned pc_ = 0;
    uint16_t key_ = 0;
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

// The trace's line for a whole transaction: what a statistic of the line
// is made of.
void TraceTransaction(const DriverContext& context, const CallBlock& block, uint32_t function,
                      const Hearing& hearing, int32_t result, TraceStamp start, const char* note) {
    const auto& request = *static_cast<const GateRequest*>(block.params);
    const address::AddressCopy gate = address::CopyAddressText(request.addressText);
    const TraceStamp micros = Trace::Now() - start;
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%lld.%lld", static_cast<long long>(micros / 1000),
                  static_cast<long long>(micros % 1000 / 100));
    std::string text =
        "st " + std::string(reinterpret_cast<const char*>(context.sendBuffer) + 1, 2) + " pc " +
        std::string(reinterpret_cast<const char*>(context.sendBuffer) + 3, 2) + " " +
        ServiceName(function) + " '" + gate.text + "' attempts " +
        std::to_string(hearing.attempts) + " result " + std::to_string(result) + " ms " + elapsed +
        " timeouts " + std::to_string(hearing.silent) + " naks " +
        (hearing.naks.empty() ? std::string("-") : hearing.naks) + " settles " +
        std::to_string(hearing.settles) + " out " + std::to_string(hearing.bytesOut) + " in " +
        std::to_string(hearing.bytesIn);
    if (note != nullptr) text += std::string(" ") + note;
    hearing.trace->Record("TXN", text);
    hearing.trace->Flush();
}

// Everything a transaction does after its frame is built: the rest, the
// attempts, and (after `finish`, which confirms a read) the settle.
template <typename Judge, typename Finish>
int32_t Transact(DriverContext& context, LineState& line, const CallBlock& block, uint32_t function,
                 const Exchange<Judge>& exchange, Finish finish) {
    const TraceStamp start = line.trace ? Trace::Now() : 0;
    Hearing hearing;
    hearing.trace = line.trace.get();
    Rest rest(line, context, exchange.dialect);
    if (rest.Resting()) {
        if (hearing.trace)
            TraceTransaction(context, block, function, hearing, kDriverFailure, start, "resting");
        return kDriverFailure;
    }
    int owed = 0;
    const int32_t attempted = RunAttempts(context, exchange, rest.Probing(), hearing, owed);
    rest.After(hearing);
    const int32_t result = finish(attempted, hearing);
    SettleOwedAnswers(context, exchange, attempted, owed, hearing);
    if (hearing.trace) TraceTransaction(context, block, function, hearing, result, start, nullptr);
    return result;
}

// The whole reply a good answer to this read has.
uint16_t ReplyLength(const GateRequest& request) {
    if (address::HasStringMarker(request.addressText)) {
        return static_cast<uint16_t>(kFrameOverhead +
                                     2u * address::RoundedStringLength(request.addressText));
    }
    char kind = 'W';
    return static_cast<uint16_t>(kFrameOverhead + ExpectedDataLength(request, kind));
}

}  // namespace

const char* NakText(uint32_t code, char (&storage)[kNakTextSize]) {
    if (const NakEntry* entry = FindNak(code)) return entry->text;
    std::snprintf(storage, sizeof storage, " error nr. %u", code);
    return storage;
}

void SetPauseFunction(PauseFunction pause) {
    g_pause.store(pause != nullptr ? pause : &SleepPause);
}

int32_t DoRead(CallBlock& block, uint32_t function, LineState& line) {
    DriverContext& context = *block.context;
    const auto& request = *static_cast<const GateRequest*>(block.params);
    if (!BuildRequest(block, context.sendBuffer, context.sendLength)) return kGateFailure;

    const auto judge = [&](Attempt& attempt) { JudgeDataReply(context, request, attempt); };
    const Exchange<decltype(judge)> exchange{
        kReadDialect, judge, {context.sendBuffer, ReplyLength(request)}};
    return Transact(context, line, block, function, exchange,
                    [&](int32_t result, Hearing& hearing) {
                        if (result == kOk) {
                            result = StoreData(request, context.receiveBuffer + kDataStart,
                                               context.receiveLength - kFrameOverhead, function);
                        }
                        if (result == kOk) Confirm(context, hearing);
                        return result;
                    });
}

int32_t DoWrite(CallBlock& block, uint32_t function, LineState& line) {
    DriverContext& context = *block.context;
    if (!BuildWriteRequest(block, context.sendBuffer, context.sendLength, function)) {
        return kGateFailure;
    }
    const auto judge = [&](Attempt& attempt) { JudgeAck(context, attempt); };
    const Exchange<decltype(judge)> exchange{kWriteDialect, judge, {context.sendBuffer, 0}};
    return Transact(context, line, block, function, exchange,
                    [](int32_t result, Hearing&) { return result; });
}

}  // namespace jyn::protocol
