#pragma once
// The simulated line: stations sharing one serial line, fed with the bytes
// the host sends and asked for the bytes they send back. It never reads a
// clock: every call carries the current time, so tests are exact.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.h"
#include "sim/noise.h"
#include "sim/request.h"
#include "sim/station.h"
#include "sim/traffic_log.h"

namespace jynsim {

using Micros = std::chrono::microseconds;

struct LineTiming {
    std::uint32_t baud = 0;  // 0: no pacing, bytes move as fast as they come
    int bits_per_char = 10;  // start + data + parity + stop bits: 10 or 11
    // The station's END processing before it answers.
    Micros turnaround = std::chrono::milliseconds(3);
    // The request's message wait (x10 ms) also holds back the answer.
    bool honor_message_wait = true;
    // A request whose next character does not come within this is dropped.
    Micros interchar_timeout = std::chrono::milliseconds(500);

    // Time n characters take on the line (0 without pacing).
    Micros CharsTime(std::uint64_t n) const;
    // The line's physical limit for one exchange: the request's characters,
    // the turnaround, the reply's characters.
    Micros ExchangeTime(std::uint64_t request_chars, std::uint64_t reply_chars) const {
        return CharsTime(request_chars) + turnaround + CharsTime(reply_chars);
    }
};

struct LineConfig {
    std::vector<StationConfig> stations;
    LineTiming timing;
    DecodePolicy decode;
    // Whether a station sends its data reply again when the host answers it
    // with NAK; the manuals suggest it does not.
    bool resend_on_nak = false;
    // A new sequence (ENQ, EOT, CL) drops a reply that has not begun to leave.
    bool new_sequence_cancels_reply = true;
    // The worst a link module with a receive buffer can do: while it holds
    // back a late answer (a slow-reply fault) it still takes the requests
    // that come, and answers them in order right after the late one, each a
    // turnaround after the answer before it. A slow-reply fault drawn for
    // such a request adds no delay of its own.
    bool queue_behind_late_answer = false;
    NoiseConfig noise;
    std::size_t log_capacity = 4096;
    std::size_t record_capacity = 100000;
};

enum class Confirmation : std::uint8_t { kNone, kAck, kNak };

// One complete (or broken) request addressed to a station, and its fate.
struct RequestRecord {
    std::uint64_t seq = 0;
    Micros time{0};  // when its last character arrived
    int station = -1;
    int pc = -1;
    std::string command;  // "WW"; empty when the frame broke before it
    std::optional<DeviceRef> device;
    std::uint32_t points = 0;
    std::string data;  // write data as sent
    bool write = false;
    // The station acted on it; for a write: memory holds the data.
    bool carried_out = false;
    std::optional<std::uint8_t> nak_code;  // the station's own refusal
    std::optional<FaultKind> fault;
    std::size_t request_chars = 0;  // as received, ENQ included
    std::string reply;              // bytes the host receives (after any fault and noise)
    std::uint32_t noise_in = 0;     // characters of the request the noise hit
    std::uint32_t noise_out = 0;    // characters of the reply the noise hit
    Micros reply_start{0};
    Confirmation confirmation = Confirmation::kNone;
};

struct LineCounters {
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    std::uint64_t requests = 0;     // complete or broken, addressed to a station
    std::uint64_t unaddressed = 0;  // for a station number no station has
    std::uint64_t carried_out = 0;
    std::uint64_t writes_carried_out = 0;
    std::uint64_t data_replies = 0;
    std::uint64_t acks = 0;
    std::uint64_t naks = 0;
    std::map<std::uint8_t, std::uint64_t> naks_by_code;
    std::uint64_t confirm_acks = 0;
    std::uint64_t confirm_naks = 0;
    std::uint64_t stray_confirmations = 0;  // with no data reply to confirm
    std::uint64_t stalled = 0;              // dropped by the inter-character time-out
    std::uint64_t resets = 0;               // EOT or CL
    std::uint64_t ignored_bytes = 0;        // outside any sequence
    std::uint64_t cancelled_replies = 0;
    std::uint64_t held_answers = 0;  // held back by a busy or late station
    std::uint64_t busy_drops = 0;    // requests a busy keep-first station dropped
    std::uint64_t dripped = 0;       // bytes a dripping line sent
    std::array<std::uint64_t, kFaultKindCount> faults{};
    NoiseCounters noise;
};

class LineEngine {
public:
    explicit LineEngine(LineConfig config);

    // Bytes the host sent, seen at `now`.
    void Receive(std::string_view bytes, Micros now);
    // Lets time pass: drops a stalled request.
    void Advance(Micros now);
    // The reply bytes that have left the station by `now`.
    std::string TakeOutput(Micros now);
    // When the engine next has something to do (output due, a stall to drop).
    std::optional<Micros> NextEvent() const;
    bool OutputPending() const { return !out_.empty(); }

    // The CPU with this station number and PC number (pc < 0: the first one
    // with the station number), or null.
    Station* FindStation(int station, int pc = -1);
    const Station* FindStation(int station, int pc = -1) const;
    const std::vector<std::unique_ptr<Station>>& Stations() const { return stations_; }
    FaultPlan& Faults() { return faults_; }
    const FaultPlan& Faults() const { return faults_; }
    TrafficLog& Log() { return log_; }
    const TrafficLog& Log() const { return log_; }
    LineCounters Counters() const;
    const std::deque<RequestRecord>& Records() const { return records_; }
    void ClearRecords() { records_.clear(); }
    const LineConfig& Config() const { return config_; }
    // Bit errors from now on (rate 0: a clean line), with fresh draws.
    void SetNoise(const NoiseConfig& noise);

private:
    enum class Phase { kIdle, kRequest, kConfirm, kSkip };
    struct OutFrame {
        std::string bytes;       // on the line, after the noise
        std::vector<bool> lost;  // characters the host never receives (empty: none)
        Micros start{0};
        std::size_t sent = 0;
        // Queued behind a late answer (`queue_behind_late_answer`), or the
        // late answer itself: a new sequence never drops it.
        bool keep = false;
    };
    struct PendingConfirm {
        int station;
        int pc;
        std::uint64_t seq;
        std::string reply;
    };

    Micros ArrivalOf(Micros now);
    void OnByte(char c, Micros t, std::optional<std::uint8_t> line_error = std::nullopt);
    // The noise on a character from the host; false when it is lost.
    bool NoiseIn(char& c, std::optional<std::uint8_t>& line_error, Micros t);
    // Gives the hits since the last call to what became of them.
    void SettleInbound(NoiseOutcome outcome, Micros t);
    void StartSequence(Phase phase, char c, Micros t);
    void DropPartial(const char* why);
    void OnRequestChar(Micros t);
    void OnConfirmation(Micros t);
    // The station a complete request is for, with the request logged and
    // counted; null (and counted as unaddressed) when none has its number.
    Station* Addressee(int station_number, int pc, const std::string& decoded);
    void HandleRequest(Micros t);
    void HandleBroken(std::uint8_t code, Micros t);
    RequestRecord NewRecord(const Request& request, Micros t);
    void Carry(Station& station, const Request& request, const Verdict& verdict,
               RequestRecord& record, Micros t);
    // `hold`: held back like a busy station's answer, whatever the station's state.
    void Answer(RequestRecord& record, const std::string& reply, Micros ready, bool keep = false,
                bool hold = false);
    struct Scheduled {
        Micros start{0};
        std::string received;  // what reaches the host
        std::uint32_t hits = 0;
        std::vector<std::string> noise;  // the hits, for the log
    };
    Scheduled Schedule(const std::string& bytes, Micros ready, bool keep = false);
    // Sends the reply now: scheduled, counted, logged, on the record.
    void Send(RequestRecord& record, const std::string& reply, Micros ready, bool keep);

    // Station behaviours that outlast a reply (busy, late), by station number.
    struct Spell {
        FaultKind kind;
        Micros until;
        Micros late{0};
        Micros jitter{0};
    };
    // An answer a busy or late station holds back, in the order taken.
    struct Held {
        int station;
        int pc;
        std::uint64_t seq;
        std::string bytes;
        Micros ready;
    };
    struct Drip {
        Micros next;
        Micros until;
        Micros interval;
    };
    // The spell the station is in at `t`, or null (an ended one is forgotten).
    const Spell* SpellAt(int station, Micros t);
    bool Holds(int station) const;
    // Starts what the fault does beyond the reply's bytes, and sets when
    // the answer goes and how.
    struct AnswerPlan {
        Micros ready;
        bool keep = false;  // no new sequence drops it
        bool hold = false;  // held back, as a busy station's answer
    };
    void Behave(const Fault& fault, bool follower, const std::string& reply, int station, Micros t,
                AnswerPlan& plan);
    std::optional<Fault> FaultFor(int station, const std::string& command, ReplyKind kind, Micros t,
                                  bool& follower);
    Micros SendForeignNak(const Fault& fault, const std::string& reply, Micros t);
    void DropWhileBusy(RequestRecord& record, Micros t);
    // When a held answer may start: at its time, and a turnaround after the
    // station's answer before it.
    Micros DueOf(const Held& held) const;
    void ReleaseHeld(Micros now);
    void Release(const Held& held, Micros due);
    std::optional<Micros> NextRelease() const;
    void StartDrip(const Fault& fault, Micros t);
    std::optional<Micros> NextFrameChar() const;
    // Noise on a frame the station sends: the line's characters and the
    // host's, with the hits counted.
    void NoiseOut(const std::string& bytes, OutFrame& frame, Scheduled& scheduled);
    // The frame as sent, then its hits.
    void LogOut(const Scheduled& scheduled, const std::string& remark = "");
    // A late answer, or one queued behind it, has not begun to leave.
    bool HoldingAnswers(Micros t) const;
    void SendForeign(const Fault& fault, const std::string& reply, Micros t);
    void CancelUnsent(Micros t);
    void FlushIgnored();
    void Note(Micros t, const std::string& text);
    void Keep(RequestRecord record);
    RequestRecord* RecordOf(std::uint64_t seq);

    LineConfig config_;
    std::vector<std::unique_ptr<Station>> stations_;
    FaultPlan faults_;
    TrafficLog log_;
    LineCounters counters_;
    std::deque<RequestRecord> records_;
    std::uint64_t next_seq_ = 1;
    LineNoise noise_in_;
    LineNoise noise_out_;
    std::uint32_t inbound_hits_ = 0;  // host's characters hit since the last outcome
    // The character being taken was hit; it counts with the sequence it
    // ends up in (a character that became ENQ, with the request it starts).
    bool char_hit_ = false;
    void TakeCharHit() {
        inbound_hits_ += char_hit_ ? 1 : 0;
        char_hit_ = false;
    }

    Phase phase_ = Phase::kIdle;
    std::string body_;  // characters after the sequence's first byte, NULs left out
    std::string raw_;   // the sequence as it came, for the log
    std::optional<std::uint8_t> line_error_;  // a framing or parity error in the sequence
    Micros sequence_start_{0};
    Micros last_char_{0};
    std::string ignored_;
    Micros ignored_start_{0};
    std::optional<PendingConfirm> pending_confirm_;

    Micros burst_start_{0};  // inbound pacing: the current run of characters
    std::uint64_t burst_chars_ = 0;
    std::deque<OutFrame> out_;
    Micros out_free_{0};  // when the last queued reply has left
    std::map<int, Spell> spells_;
    std::deque<Held> held_;
    std::map<int, Micros> station_free_;  // when each station's last held answer has left
    std::optional<Drip> drip_;
};

}  // namespace jynsim
