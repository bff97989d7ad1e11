// How the transactions judge one reply: the NAK codes, the length, framing,
// station and sum check of a data reply, the ACK of a write, and what each
// reply that was not the answer leaves on the line. Private to the
// transactions (transaction.cpp).
#pragma once

#include <cstdint>

#include "protocol/line.h"
#include "protocol/transfer_plan.h"
#include "serial/frame.h"

namespace jyn::protocol {

// What an attempt leaves on the line. Answers owed to the station are its
// debt (transaction.cpp); only a spoilt reply's tail is waited for.
enum class SettleNeed {
    kNone,  // silence, a whole frame, or a reception ended by a time-out of silence
    kGap,   // a spoilt reply: its last bytes may still be coming
};

constexpr int kGarbledNak = 0x100;  // a NAK whose code characters are no number

// Where the transaction stands after one attempt.
struct Attempt {
    int number = 0;     // 1 for the first attempt, 10 for the last
    bool stop = false;  // no further attempt
    int32_t result = kOk;
    SettleNeed settle = SettleNeed::kNone;
    int nak = -1;         // the NAK code it got; kGarbledNak for an unreadable one
    bool proved = false;  // a resynchronising read was answered: nothing owed
};

// The log texts in which DoRead and DoWrite differ.
struct ServiceTexts {
    const char* sendError;
    const char* receiveError;
    const char* nakReceived;
    const char* settled;
    const char* resting;
    const char* restBegins;
};
extern const ServiceTexts kReadTexts;
extern const ServiceTexts kWriteTexts;

// A NAK in the receive buffer: its code, logged with `format`, and the
// action the code calls for.
void CheckNak(const Line& line, const char* format, Attempt& attempt);
// Any other complete reply, by the shape the plan expects.
void CheckReply(const Line& line, const TransferPlan& plan, Attempt& attempt);

// A reception that did not complete, and a complete frame that was not the
// answer: what each leaves on the line.
SettleNeed SettleAfter(serial::Reception reception, uint16_t length);
SettleNeed SettleAfterFrame(const Line& line);

// A data reply, STX to its sum characters, whose sum check holds: a frame
// that crossed the line whole, whoever it answers.
bool SumHolds(const unsigned char* frame, uint16_t length);

// The pause after some malformed replies.
void Pause(unsigned milliseconds);

}  // namespace jyn::protocol
