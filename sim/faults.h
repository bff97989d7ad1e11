#pragma once
// Faults a station or the line can put on a reply: scripted (a queue, each
// entry applied to the next request it matches) or random (seeded, with a
// probability per class). Deciding a fault and applying it to the reply bytes
// are separate, so that the station knows before it acts whether the request
// is carried out at all.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace jynsim {

enum class FaultKind : std::uint8_t {
    kNoReply,        // nothing at all
    kCutReply,       // only the first `param` bytes (default 3)
    kStrayByte,      // byte `param` before the reply
    kWrongStation,   // station number + `param` (default 1), sum kept right
    kWrongPc,        // PC number + `param` (default 1), sum kept right
    kBadSum,         // data reply with the sum check off by `param` (default 1)
    kLowerCase,      // data reply in lower-case hexadecimal, sum over what is sent
    kNak,            // NAK with code `param` instead of the reply; never carried out
    kSlowReply,      // reply held back by `delay`
    kGarbage,        // `bytes` (or `param` random bytes, default 8) instead of the reply
    kExtraAfterAck,  // ACK followed by `bytes` (or `param` random bytes, default 3)
    // Another station's answer (station number + `param`, default 1, sum kept
    // right) comes `delay` after the request, and the true answer right after it.
    kForeignAnswer,
    // Station behaviours that outlast one reply. Each starts with the
    // request it is drawn for and marks the records of the requests it
    // touches.
    //
    // The station is busy for `delay`: it takes every request that comes
    // meanwhile and answers them all back to back when the busy is over,
    // in the order it took them, the first one first.
    kQueueAll,
    // The station is busy for `delay`: it drops every request that comes
    // meanwhile (not carried out, no answer) and answers the first late.
    kKeepFirst,
    // The station is late with every answer for `span`: each comes `delay`
    // plus up to `jitter` (drawn per answer) after its request, never
    // before the station's answer before it, and no new sequence drops it.
    kLateJitter,
    // This answer comes `delay` after the request (a turnaround longer than
    // a host's short quiet gap, shorter than its reply time-out).
    kSlowTurnaround,
    // Another station's NAK (station number + `param`, default 1, code 02h)
    // comes `delay` after the request, this station's own answer `after`
    // it; no new sequence drops the own answer.
    kForeignNak,
    // The line drips: one printable byte (never a frame start) every
    // `param` ms (default 90) for `delay`, towards the host, whatever else
    // is on the line. The request itself is answered as usual.
    kDrip,
};
inline constexpr std::size_t kFaultKindCount = 18;
// The classes before kQueueAll: faults of one reply, which a random draw
// over "every class" means unless the station behaviours are asked for.
inline constexpr std::size_t kReplyFaultKindCount = 12;
inline bool IsStationBehaviour(FaultKind kind) {
    return static_cast<std::size_t>(kind) >= kReplyFaultKindCount;
}
const char* FaultName(FaultKind kind);  // "no-reply", "cut-reply", ...
std::optional<FaultKind> FaultFromName(const std::string& name);

enum class ReplyKind : std::uint8_t { kData, kAck, kNak };

struct Fault {
    FaultKind kind = FaultKind::kNoReply;
    int param = 0;  // 0 = the class's default
    std::chrono::microseconds delay{0};
    std::string bytes;
    // False: the request is lost on its way in (not carried out) rather than
    // the reply on its way out. A NAK fault is never carried out.
    bool carry_out = true;
    // Which requests it may hit: a station number and a command ("WW"); -1
    // and empty match any.
    int station = -1;
    std::string command;
    int times = 1;  // how many matching requests it hits
    // late-jitter: the most each answer is late beyond `delay`, and how long
    // the station stays late (0: ten times `delay`).
    std::chrono::microseconds jitter{0};
    std::chrono::microseconds span{0};
    // foreign-nak: the own answer's time after the foreign NAK.
    std::chrono::microseconds after{0};
};

struct RandomFaults {
    std::uint64_t seed = 1;
    std::array<double, kFaultKindCount> probability{};  // per request, by kind
    std::uint8_t nak_code = 0x02;
    int cut_after = 3;
    std::chrono::microseconds slow_delay = std::chrono::milliseconds(1500);
    // Above `slow_delay`: each slow reply is late by a delay drawn evenly
    // from `slow_delay` to this.
    std::chrono::microseconds slow_delay_max{0};
    // A foreign answer comes after a delay drawn evenly from 0 to this.
    std::chrono::microseconds foreign_delay_max{0};
    // Share of no-reply and garbage faults where the request itself was lost.
    double lost_request_share = 0.5;
    // queue-all and keep-first: how long the station is busy, drawn evenly
    // from `busy_delay` to `busy_delay_max`.
    std::chrono::microseconds busy_delay = std::chrono::milliseconds(6500);
    std::chrono::microseconds busy_delay_max{0};
    // late-jitter: each answer `late_delay` plus 0 to `late_jitter` late,
    // for `late_span`.
    std::chrono::microseconds late_delay = std::chrono::milliseconds(600);
    std::chrono::microseconds late_jitter = std::chrono::milliseconds(20);
    std::chrono::microseconds late_span = std::chrono::milliseconds(6000);
    // slow-turnaround: drawn evenly from the one to the other.
    std::chrono::microseconds turnaround_delay = std::chrono::milliseconds(20);
    std::chrono::microseconds turnaround_delay_max = std::chrono::milliseconds(200);
    // foreign-nak: the NAK after 0 to `foreign_delay_max`, the own answer
    // 0 to this after it.
    std::chrono::microseconds foreign_after_max = std::chrono::milliseconds(500);
    // drip: how long, and the time between two bytes.
    std::chrono::microseconds drip_span = std::chrono::milliseconds(8000);
    int drip_interval_ms = 90;
};

// What the engine asks about a request before it acts.
struct FaultQuery {
    int station;
    std::string command;
    ReplyKind reply;
};

// Deterministic across platforms (the standard distributions are not).
class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    std::uint64_t state_;
};

// The frame of a foreign-answer fault: the reply with another station number.
std::string ForeignAnswer(const Fault& fault, const std::string& reply);
// The frame of a foreign-nak fault: another station's NAK 02h.
std::string ForeignNak(const Fault& fault, const std::string& reply);

class FaultPlan {
public:
    FaultPlan() : rng_(1) {}
    void Add(const Fault& fault) { queue_.push_back(fault); }
    void SetRandom(const RandomFaults& random);
    void Clear();
    std::size_t Pending() const { return queue_.size(); }

    // The fault to apply to this request, if any (scripted first, then random).
    std::optional<Fault> Next(const FaultQuery& query);
    // The reply as the host will see it (may be empty).
    std::string Apply(const Fault& fault, const std::string& reply);
    std::uint64_t Injected(FaultKind kind) const {
        return injected_[static_cast<std::size_t>(kind)];
    }
    // A delay drawn evenly from `low` to `high` (the seeded draws).
    std::chrono::microseconds Draw(std::chrono::microseconds low, std::chrono::microseconds high) {
        return RandomDelay(low, high);
    }
    // `count` printable bytes, never a frame start.
    std::string Text(std::size_t count) { return RandomBytes(count); }

private:
    std::optional<Fault> NextScripted(const FaultQuery& query);
    std::optional<Fault> NextRandom(const FaultQuery& query);
    void DrawBehaviour(Fault& fault);
    std::string RandomBytes(std::size_t count);
    std::chrono::microseconds RandomDelay(std::chrono::microseconds low,
                                          std::chrono::microseconds high);

    std::deque<Fault> queue_;
    std::optional<RandomFaults> random_;
    SplitMix rng_;
    std::array<std::uint64_t, kFaultKindCount> injected_{};
};

}  // namespace jynsim
