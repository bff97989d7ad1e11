// Format 1 has no sequence numbers: nothing in a reply says which request it
// answers, and an answer that comes after its time-out is taken by whoever
// listens next. Within one transaction that does no harm: every attempt
// sends the same request, so a late answer taken by a retry holds the same
// gate's value (for a write: says the same data landed). After the
// transaction it would be a wrong value reported as good, taken by the next
// gate of the same length. So the line must be known quiet before the next
// transaction, and before the next attempt while bytes may still arrive.
//
// What may still come after each kind of attempt:
//
// - The answer itself: nothing more for that request.
// - Silence for a whole time-out: the station may be slow, or the request
//   was lost on the line. Its answer is owed; it may come during a later
//   attempt or after the transaction.
// - A NAK: the station answered; a transmission error is retried at once.
// - A reception that ended with a time-out of silence (a reply broken off,
//   bytes that were no frame): the line has just been quiet for a whole
//   time-out, and nothing needs waiting for.
// - A reply with a wrong sum check, a NAK with an unreadable code, a buffer
//   full of bytes with no end: noise on a reply. The station sent one
//   reply and noise spoiled it, whatever station digits it carries; at most
//   its last bytes are still on the way. A short gap of quiet closes it:
//   four characters, at least 5 ms, at most a time-out.
// - A complete reply with a right sum check that does not fit the request
//   (another station or PC number, another length): a genuine answer to
//   something else, an earlier transaction's late answer for example. This
//   request's own answer may follow, and more of the earlier ones: the line
//   is let fall quiet for a whole time-out, and one more per owed answer.
//
// Owed answers. A station answers the requests it took in the order they
// came. A link module that is late with one answer still takes the retries
// that arrive meanwhile and answers them right after the late one; a station
// that is always late answers each retry as late as the first. So once a
// transaction has had its answer, the answers still owed come no further
// apart than the requests went out, one attempt apart (a reply time-out plus
// the request's own time on the line, plus the driver's few milliseconds
// between attempts, which the gap covers), or one answer apart when the
// station answers queued retries back to back (the answer's time on the line
// plus a turnaround well within the time-out; a 64-word reply at 9600 baud
// is longer than a short time-out). The window takes the longer of the two.
// The next owed answer begins within one window after the start of the last
// frame heard, or within two if the request before it was lost, and so on:
// the line is watched for `owed` windows. A transaction that failed has had
// no answer to measure from: its last silent attempts may be answered as
// late as a station can be, and the line is watched as it always was, one
// reply time-out and one more per owed answer. Either way each answer of the
// request's own shape that comes is counted off and the watch starts again
// from it; noise and foreign frames count for nothing (counting them could
// let an owed answer through) but start the watch again too. Once nothing is
// owed, only the gap remains.
#include "protocol/settle.h"

#include <algorithm>

#include "protocol/hex.h"
#include "serial/device.h"
#include "serial/frame.h"

namespace jyn::protocol {

namespace {

constexpr uint32_t kMinGapMs = 5;
constexpr uint32_t kGapCharacters = 4;
// A line that never falls silent cannot hold the host: a settle reads at
// most this many bytes.
constexpr uint32_t kDrainLimit = 4 * kFrameBufferSize;

uint32_t CeilMs(uint64_t micros) { return static_cast<uint32_t>((micros + 999) / 1000); }

uint32_t LineMs(uint16_t characters, const SettleTimes& times) {
    return CeilMs(uint64_t{characters} * times.charMicros);
}

// Sets the port's read time-out for a settle and puts the line's own back.
class ReadTimeout {
public:
    ReadTimeout(const Line& line, uint32_t ms) : line_(line) { Set(ms); }
    ~ReadTimeout() { serial::SetReadTimeoutMs(line_.port, line_.portTimeoutMs); }
    ReadTimeout(const ReadTimeout&) = delete;
    ReadTimeout& operator=(const ReadTimeout&) = delete;
    void Set(uint32_t ms) {
        serial::SetReadTimeoutMs(line_.port, ms);
        ms_ = ms;
    }
    uint32_t Ms() const { return ms_; }

private:
    const Line& line_;
    uint32_t ms_ = 0;
};

}  // namespace

SettleTimes SettleTimesOf(const Line& line, const TransferPlan& plan) {
    SettleTimes times{};
    const uint32_t timeout = line.portTimeoutMs;
    const uint16_t requestLength = plan.requestLength;
    const uint16_t answerLength = plan.reply.length;
    times.timeoutMs = timeout != 0 ? timeout : 1;
    times.charMicros = serial::CharacterMicros(line.settings);
    const uint32_t gap = std::max(kMinGapMs, CeilMs(uint64_t{kGapCharacters} * times.charMicros));
    times.gapMs = std::min(gap, times.timeoutMs);
    times.windowMs =
        times.timeoutMs + LineMs(std::max(requestLength, answerLength), times) + times.gapMs;
    return times;
}

bool IsAnswer(const TransferPlan& plan, const unsigned char* frame, uint16_t length) {
    if (length < 5 || !plan.SameAddress(frame)) return false;
    if (plan.reply.shape == ReplyShape::kAck) {
        return length == serial::kAckLength && frame[0] == serial::kACK;
    }
    uint32_t sum = 0;
    return length == plan.reply.length && frame[0] == serial::kSTX &&
           frame[length - 3] == serial::kETX && ParseHexField(frame + length - 2, 2, sum) &&
           sum == SumCheck(frame + 1, length - 3u);
}

uint32_t SettleGap(const Line& line, const SettleTimes& times) {
    const ReadTimeout quiet(line, times.gapMs);
    return serial::DrainLine(line.port, 1, line.trace.get());
}

uint32_t SettleFully(const Line& line, int owed) {
    return serial::DrainLine(line.port, static_cast<uint32_t>(owed) + 1, line.trace.get());
}

namespace {

// How long the line is watched for owed answers: `owed` windows (plus
// `extra`) from the start of the last frame heard.
struct Watch {
    uint64_t startMs;
    uint32_t windowMs;
    int extra;
    uint64_t EndMs(int owed) const {
        return startMs + uint64_t{windowMs} * static_cast<uint64_t>(owed + extra);
    }
};

// One frame (or silence) while owed answers are watched for: false once
// the line has been quiet to the end of the watch.
bool HearOne(const Line& line, const SettleTimes& times, ReadTimeout& timeout,
             const TransferPlan& plan, int& owed, Watch& watch, uint32_t& dropped) {
    unsigned char frame[kFrameBufferSize];
    uint16_t length = 0;
    const serial::Reception reception =
        serial::ReceiveReply(line.port, frame, kFrameBufferSize, length, line.trace.get());
    dropped += length;
    if (reception == serial::Reception::kSilent) {
        if (line.trace) line.trace->Silence(timeout.Ms());
        return false;
    }
    // Cut off by quiet before the buffer was full: quiet till the end.
    if (reception == serial::Reception::kBroken && length < kFrameBufferSize - 1) return false;
    if (reception == serial::Reception::kComplete && IsAnswer(plan, frame, length)) --owed;
    const uint64_t heard = device::MonotonicMs();
    watch.startMs = heard - std::min<uint64_t>(heard, LineMs(length, times));
    return true;
}

uint32_t WatchForOwed(const Line& line, const SettleTimes& times, int owed, Watch watch,
                      const TransferPlan& plan) {
    ReadTimeout timeout(line, times.gapMs);
    uint32_t dropped = 0;
    while (owed > 0 && dropped < kDrainLimit) {
        const uint64_t end = watch.EndMs(owed);
        const uint64_t now = device::MonotonicMs();
        if (now >= end) break;
        // Within a frame the wait for each byte is never shorter than the gap.
        timeout.Set(static_cast<uint32_t>(std::max<uint64_t>(end - now, times.gapMs)));
        if (!HearOne(line, times, timeout, plan, owed, watch, dropped)) break;
    }
    if (owed == 0) {
        timeout.Set(times.gapMs);
        dropped += serial::DrainLine(line.port, 1, line.trace.get());
    }
    return dropped;
}

}  // namespace

uint32_t SettleOwedAfterSuccess(const Line& line, const SettleTimes& times, int owed,
                                LastFrame last, const TransferPlan& plan) {
    const uint64_t start = last.endMs - std::min<uint64_t>(last.endMs, LineMs(last.length, times));
    return WatchForOwed(line, times, owed, {start, times.windowMs, 0}, plan);
}

uint32_t SettleOwedAfterFailure(const Line& line, const SettleTimes& times, int owed,
                                const TransferPlan& plan) {
    return WatchForOwed(line, times, owed, {device::MonotonicMs(), times.timeoutMs, 1}, plan);
}

}  // namespace jyn::protocol
