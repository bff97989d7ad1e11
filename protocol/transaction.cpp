#include "protocol/transaction.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "address/gate_kind.h"
#include "interface/log.h"
#include "protocol/hex.h"
#include "protocol/reply_data.h"
#include "protocol/request.h"
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

PauseFunction g_pause = &SleepPause;

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

// What an attempt left on the line.
enum class Line {
    kQuiet,   // nothing was sent, or the station answered it for good
    kSilent,  // not a byte within the time-out: its answer may still come
    kBusy,    // bytes came that were not a good answer: more may follow
};

// Where the transaction stands after one attempt.
struct Attempt {
    int number;         // 1 for the first attempt, 10 for the last
    bool stop = false;  // no further attempt
    int32_t result = kOk;
    Line line = Line::kQuiet;
    bool heard = false;  // the station sent something: it is alive
};

// What a read and a write transaction say differently; the attempts are the
// same steps.
struct Dialect {
    const char* sendError;
    const char* receiveError;
    const char* nakReceived;
    const char* settled;
};

const Dialect kReadDialect = {
    "JYNMB> DoRead() Send req error retry %d",
    "JYNMB> DoRead() Read reply error (len=%u), retry %d",
    "JYNMB> DoRead() NAK received, %s, retry %d",
    "JYNMB> DoRead() line settled, %u bytes discarded",
};

const Dialect kWriteDialect = {
    "JYNMB> DoWrite() Send req error retry %d",
    "JYNMB> DoWrite() Rcv reply(%u) error retry %d",
    "JYNMB> DoWrite() NAK received, %s, retry %d",
    "JYNMB> DoWrite() line settled, %u bytes discarded",
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
        attempt.line = Line::kBusy;
        return;
    }
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
    g_pause(kMalformedPauseMs);
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
        g_pause(kMalformedPauseMs);
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

// One attempt: send the request, receive one reply, and judge it; a NAK the
// same way for reads and writes, any other reply by `judge`.
template <typename Judge>
void MakeAttempt(DriverContext& context, const Dialect& dialect, Judge judge, Attempt& attempt) {
    if (!serial::SendFrame(context.port, context.sendBuffer, context.sendLength)) {
        LogInfo(dialect.sendError, attempt.number);
        attempt.result = kDriverFailure;
        return;
    }
    const Reception reception = serial::ReceiveReply(context.port, context.receiveBuffer,
                                                     kFrameBufferSize, context.receiveLength);
    attempt.heard = reception != Reception::kSilent;
    if (reception != Reception::kComplete) {
        LogError(dialect.receiveError, unsigned{context.receiveLength}, attempt.number);
        attempt.result = ResultOf(reception);
        attempt.line = reception == Reception::kSilent ? Line::kSilent : Line::kBusy;
        return;
    }
    if (context.receiveBuffer[0] == kNAK) {
        JudgeNak(context, dialect.nakReceived, attempt);
        return;
    }
    judge(attempt);
    if (attempt.result != kOk) attempt.line = Line::kBusy;
}

// Format 1 has no sequence numbers: nothing in a reply says which request
// it answers. A reply that came after its time-out is taken by the retry,
// and the station's answer to that retry is still on its way; a reply that
// was not a good answer may be followed by the one that was. Taken by a
// later attempt or the next transaction, either would pass for its reply,
// so the line is first let fall silent: for one reply time-out, and one
// more for every attempt whose answer may still come.
void SettleLine(DriverContext& context, int owed, const char* format) {
    const uint32_t dropped = serial::DrainLine(context.port, static_cast<uint32_t>(owed) + 1);
    if (dropped != 0) LogInfo(format, dropped);
}

// Attempts until one succeeds, one says stop, or ten have been made; the
// result is that of the last attempt. `owed` counts the silent attempts
// whose answers may still be coming when it returns.
template <typename Judge>
int32_t RunAttempts(DriverContext& context, const Dialect& dialect, Judge judge, int& owed) {
    Attempt attempt;
    bool alive = false;
    owed = 0;
    for (attempt.number = 1; attempt.number <= kAttempts; ++attempt.number) {
        serial::PurgePort(context.port);
        attempt.result = kOk;
        attempt.line = Line::kQuiet;
        attempt.heard = false;
        MakeAttempt(context, dialect, judge, attempt);
        alive = alive || attempt.heard;
        if (attempt.result == kOk) break;
        if (attempt.line == Line::kSilent) ++owed;
        if (attempt.line == Line::kBusy) {
            SettleLine(context, owed, dialect.settled);
            owed = 0;
        }
        if (attempt.stop) break;
    }
    // A station that never said a word is taken for dead: its silent
    // attempts cost their time-outs and nothing more. One that answered
    // something may answer the silent ones late, after a failure as after
    // a success (a NAK that stops the transaction can be the late answer
    // to an earlier attempt, with the answer to its own still to come).
    if (attempt.result != kOk && !alive) owed = 0;
    return attempt.result;
}

void Confirm(DriverContext& context) {
    context.sendBuffer[0] = kACK;
    if (!serial::SendFrame(context.port, context.sendBuffer, serial::kAckLength)) {
        LogInfo("JYNMB> DoRead() Warning: confirm. send error");
    }
}

}  // namespace

const char* NakText(uint32_t code, char (&storage)[kNakTextSize]) {
    if (const NakEntry* entry = FindNak(code)) return entry->text;
    std::snprintf(storage, sizeof storage, " error nr. %u", code);
    return storage;
}

void SetPauseFunction(PauseFunction pause) { g_pause = pause != nullptr ? pause : &SleepPause; }

int32_t DoRead(CallBlock& block, uint32_t function) {
    DriverContext& context = *block.context;
    const auto& request = *static_cast<const GateRequest*>(block.params);
    if (!BuildRequest(block, context.sendBuffer, context.sendLength)) return kGateFailure;

    int owed = 0;
    const auto judge = [&](Attempt& attempt) { JudgeDataReply(context, request, attempt); };
    int32_t result = RunAttempts(context, kReadDialect, judge, owed);
    if (result == kOk) {
        result = StoreData(request, context.receiveBuffer + kDataStart,
                           context.receiveLength - kFrameOverhead, function);
    }
    if (result == kOk) Confirm(context);
    if (owed > 0) SettleLine(context, owed, kReadDialect.settled);
    return result;
}

int32_t DoWrite(CallBlock& block, uint32_t function) {
    DriverContext& context = *block.context;
    if (!BuildWriteRequest(block, context.sendBuffer, context.sendLength, function)) {
        return kGateFailure;
    }
    int owed = 0;
    const auto judge = [&](Attempt& attempt) { JudgeAck(context, attempt); };
    const int32_t result = RunAttempts(context, kWriteDialect, judge, owed);
    if (owed > 0) SettleLine(context, owed, kWriteDialect.settled);
    return result;
}

}  // namespace jyn::protocol
