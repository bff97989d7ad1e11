#include "protocol/reply_check.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "interface/log.h"
#include "protocol/hex.h"
#include "protocol/transaction.h"

namespace jyn::protocol {

using serial::kACK;
using serial::kETX;
using serial::kSTX;

namespace {

// The text of a NAK whose code characters are not two hexadecimal digits.
constexpr char kGarbledNakText[] = "unreadable error code";

void SleepPause(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Shared by every instance, and set by tests while other threads may run
// transactions: atomic, like every other piece of state the lines share.
std::atomic<PauseFunction> g_pause{&SleepPause};

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

bool FramedByStxEtx(const Line& line) {
    const uint16_t length = line.receiveLength;
    return length >= 3 && line.receiveBuffer[0] == kSTX && line.receiveBuffer[length - 3] == kETX;
}

bool CheckStringLength(const Line& line, const TransferPlan& plan, Attempt& attempt) {
    if (line.receiveLength == plan.reply.length) return true;
    LogError("JYNMB> DoRead() illegal length reply , retry %d", attempt.number);
    if (FramedByStxEtx(line)) {
        LogError("JYNMB> missing chars in reply");
    } else {
        LogError("JYNMB> 'STX' or 'ETX' not found in reply");
    }
    Pause(kMalformedPauseMs);
    attempt.result = kGateFailure;
    return false;
}

bool CheckLength(const Line& line, const TransferPlan& plan, Attempt& attempt) {
    const ExpectedReply& reply = plan.reply;
    if (reply.kind == 'S') return CheckStringLength(line, plan, attempt);
    const uint16_t length = line.receiveLength;
    if (length == reply.length) return true;
    const unsigned data = reply.dataLength;
    LogError("JYNMB> DoRead() illegal length reply , retry %d", attempt.number);
    if (FramedByStxEtx(line)) {
        LogInfo("JYNMB> DoRead() ... missing chars, %c, 8+%u<>%u !!", reply.kind, data,
                unsigned{length});
    } else {
        const unsigned last = length >= 3 ? line.receiveBuffer[length - 3] : 0u;
        LogInfo("JYNMB> DoRead() ... %c, 8+%u<>%u, %02Xh, %02Xh", reply.kind, data,
                unsigned{length}, unsigned{line.receiveBuffer[0]}, last);
        Pause(kMalformedPauseMs);
    }
    attempt.result = kGateFailure;
    return false;
}

// A reply to a read: the length the gate calls for, STX and ETX in place, the
// request's station and PC number, and a right sum check.
void CheckDataReply(const Line& line, const TransferPlan& plan, Attempt& attempt) {
    if (!CheckLength(line, plan, attempt)) return;
    const uint16_t length = line.receiveLength;
    if (!FramedByStxEtx(line) || !plan.SameAddress(line.receiveBuffer)) {
        LogInfo("JYNMB> DoRead() received illegal response, retry %d (%02Xh)", attempt.number,
                unsigned{line.receiveBuffer[0]});
        attempt.result = kGateFailure;
        return;
    }
    uint32_t sum = 0;
    if (!ParseHexField(line.receiveBuffer + length - 2, 2, sum)) {
        LogInfo("JYNMB> DoRead() illegal Sum Check, retry %d", attempt.number);
        attempt.result = kGateFailure;
    } else if (sum != SumCheck(line.receiveBuffer + 1, length - 3u)) {
        LogInfo("JYNMB> DoRead() Sum Check error, retry %d", attempt.number);
        attempt.result = kGateFailure;
    }
}

// A reply to a write: exactly an ACK with the request's station and PC number.
void CheckAck(const Line& line, const TransferPlan& plan, Attempt& attempt) {
    if (line.receiveLength != serial::kAckLength || line.receiveBuffer[0] != kACK ||
        !plan.SameAddress(line.receiveBuffer)) {
        LogInfo("JYNMB> DoWrite() received illegal response (%02Xh), retry %d",
                unsigned{line.receiveBuffer[0]}, attempt.number);
        attempt.result = kGateFailure;
    }
}

}  // namespace

const ServiceTexts kReadTexts = {
    "JYNMB> DoRead() Send req error retry %d",
    "JYNMB> DoRead() Read reply error (len=%u), retry %d",
    "JYNMB> DoRead() NAK received, %s, retry %d",
    "JYNMB> DoRead() line settled, %u bytes discarded",
    "JYNMB> DoRead() station %02Xh, PC %02Xh rests, %u s more",
    "JYNMB> DoRead() station %02Xh, PC %02Xh silent, rests %u s",
};

const ServiceTexts kWriteTexts = {
    "JYNMB> DoWrite() Send req error retry %d",
    "JYNMB> DoWrite() Rcv reply(%u) error retry %d",
    "JYNMB> DoWrite() NAK received, %s, retry %d",
    "JYNMB> DoWrite() line settled, %u bytes discarded",
    "JYNMB> DoWrite() station %02Xh, PC %02Xh rests, %u s more",
    "JYNMB> DoWrite() station %02Xh, PC %02Xh silent, rests %u s",
};

const char* NakText(uint32_t code, char (&storage)[kNakTextSize]) {
    if (const NakEntry* entry = FindNak(code)) return entry->text;
    std::snprintf(storage, sizeof storage, " error nr. %u", code);
    return storage;
}

void SetPauseFunction(PauseFunction pause) {
    g_pause.store(pause != nullptr ? pause : &SleepPause);
}

void Pause(unsigned milliseconds) { g_pause.load()(milliseconds); }

// A NAK answers the request by its error code. A code that was damaged on
// the line says nothing about the request, so it is retried like a
// transmission error.
void CheckNak(const Line& line, const char* format, Attempt& attempt) {
    uint32_t code = 0;
    char storage[kNakTextSize];
    if (!ParseHexField(line.receiveBuffer + 5, 2, code)) {
        LogInfo(format, kGarbledNakText, attempt.number);
        attempt.result = kGateFailure;
        attempt.settle = SettleNeed::kGap;
        attempt.nak = kGarbledNak;
        return;
    }
    attempt.nak = static_cast<int>(code);
    LogInfo(format, NakText(code, storage), attempt.number);
    const NakAction action = NakActionOf(code);
    attempt.result = action.result;
    attempt.stop = !action.retry;
}

void CheckReply(const Line& line, const TransferPlan& plan, Attempt& attempt) {
    if (plan.reply.shape == ReplyShape::kData) {
        CheckDataReply(line, plan, attempt);
    } else {
        CheckAck(line, plan, attempt);
    }
}

// A reception that did not complete: silence, or bytes that stopped with a
// time-out of silence (the line is quiet), or a buffer's worth of them (it
// may not be).
SettleNeed SettleAfter(serial::Reception reception, uint16_t length) {
    if (reception == serial::Reception::kSilent) return SettleNeed::kNone;
    return length >= kFrameBufferSize - 1 ? SettleNeed::kGap : SettleNeed::kNone;
}

// A reply that was not the answer: a frame whose sum check holds is a
// genuine answer to something else; one without (or with a wrong one) is
// noise. An ACK carries no sum check to tell the two apart, so it is taken
// for genuine.
SettleNeed SettleAfterFrame(const Line& line) {
    if (line.receiveBuffer[0] == kACK) return SettleNeed::kNone;
    return SumHolds(line.receiveBuffer, line.receiveLength) ? SettleNeed::kNone : SettleNeed::kGap;
}

bool SumHolds(const unsigned char* frame, uint16_t length) {
    uint32_t sum = 0;
    return length >= 8 && frame[0] == kSTX && frame[length - 3] == kETX &&
           ParseHexField(frame + length - 2, 2, sum) && sum == SumCheck(frame + 1, length - 3u);
}

}  // namespace jyn::protocol
