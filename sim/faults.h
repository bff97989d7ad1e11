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
};
inline constexpr std::size_t kFaultKindCount = 12;
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

private:
    std::optional<Fault> NextScripted(const FaultQuery& query);
    std::optional<Fault> NextRandom(const FaultQuery& query);
    std::string RandomBytes(std::size_t count);
    std::chrono::microseconds RandomDelay(std::chrono::microseconds low,
                                          std::chrono::microseconds high);

    std::deque<Fault> queue_;
    std::optional<RandomFaults> random_;
    SplitMix rng_;
    std::array<std::uint64_t, kFaultKindCount> injected_{};
};

}  // namespace jynsim
