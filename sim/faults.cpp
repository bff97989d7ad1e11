#include "sim/faults.h"

#include "sim/hex.h"

namespace jynsim {
namespace {

const std::array<const char*, kFaultKindCount> kFaultNames = {
    "no-reply",   "cut-reply", "stray-byte", "wrong-station", "wrong-pc",        "bad-sum",
    "lower-case", "nak",       "slow-reply", "garbage",       "extra-after-ack", "foreign-answer",
    "queue-all",  "keep-first", "late-jitter", "slow-turnaround", "foreign-nak",   "drip"};

bool Applies(FaultKind kind, ReplyKind reply) {
    switch (kind) {
        case FaultKind::kBadSum:
        case FaultKind::kLowerCase: return reply == ReplyKind::kData;
        case FaultKind::kExtraAfterAck: return reply == ReplyKind::kAck;
        // A NAK is not compared with the request: another station's NAK
        // would be this one's refusal, which no host can tell apart.
        case FaultKind::kForeignAnswer: return reply != ReplyKind::kNak;
        default: return true;
    }
}

bool Matches(const Fault& fault, const FaultQuery& query) {
    if (fault.station >= 0 && fault.station != query.station) return false;
    if (!fault.command.empty() && fault.command != query.command) return false;
    return Applies(fault.kind, query.reply);
}

int ParamOr(const Fault& fault, int fallback) { return fault.param != 0 ? fault.param : fallback; }

// A data reply's sum covers station number through ETX.
void Resum(std::string& reply) {
    if (reply.size() < 4 || reply[0] != kStxChar) return;
    const std::size_t sum_at = reply.size() - 2;
    reply.replace(sum_at, 2, FormatHex(SumCheck(std::string_view(reply).substr(1, sum_at - 1)), 2));
}

void ShiftField(std::string& reply, std::size_t at, int by) {
    if (reply.size() < at + 2) return;
    const auto value = ParseHex(std::string_view(reply).substr(at, 2)).value_or(0);
    reply.replace(at, 2, FormatHex((value + static_cast<std::uint32_t>(by)) & 0xFF, 2));
}

std::string LowerCase(std::string reply) {
    const std::size_t sum_at = reply.size() - 2;
    for (std::size_t i = 1; i < sum_at; ++i) {
        if (reply[i] >= 'A' && reply[i] <= 'F') reply[i] = static_cast<char>(reply[i] + 32);
    }
    Resum(reply);
    for (std::size_t i = sum_at; i < reply.size(); ++i) {
        if (reply[i] >= 'A' && reply[i] <= 'F') reply[i] = static_cast<char>(reply[i] + 32);
    }
    return reply;
}

}  // namespace

const char* FaultName(FaultKind kind) { return kFaultNames[static_cast<std::size_t>(kind)]; }

std::optional<FaultKind> FaultFromName(const std::string& name) {
    for (std::size_t i = 0; i < kFaultKindCount; ++i) {
        if (name == kFaultNames[i]) return static_cast<FaultKind>(i);
    }
    return std::nullopt;
}

std::uint64_t SplitMix::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void FaultPlan::SetRandom(const RandomFaults& random) {
    random_ = random;
    rng_ = SplitMix(random.seed);
}

void FaultPlan::Clear() {
    queue_.clear();
    random_.reset();
}

std::optional<Fault> FaultPlan::Next(const FaultQuery& query) {
    std::optional<Fault> fault = NextScripted(query);
    if (!fault) fault = NextRandom(query);
    if (fault) ++injected_[static_cast<std::size_t>(fault->kind)];
    return fault;
}

std::optional<Fault> FaultPlan::NextScripted(const FaultQuery& query) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (!Matches(*it, query)) continue;
        Fault fault = *it;
        if (--it->times <= 0) queue_.erase(it);
        return fault;
    }
    return std::nullopt;
}

std::optional<Fault> FaultPlan::NextRandom(const FaultQuery& query) {
    if (!random_) return std::nullopt;
    // One draw per request; the classes share the unit interval.
    double draw = rng_.Uniform();
    for (std::size_t i = 0; i < kFaultKindCount; ++i) {
        draw -= random_->probability[i];
        if (draw >= 0) continue;
        Fault fault;
        fault.kind = static_cast<FaultKind>(i);
        if (!Applies(fault.kind, query.reply)) return std::nullopt;
        if (fault.kind == FaultKind::kNak) fault.param = random_->nak_code;
        if (fault.kind == FaultKind::kCutReply) fault.param = random_->cut_after;
        if (fault.kind == FaultKind::kSlowReply)
            fault.delay = RandomDelay(random_->slow_delay, random_->slow_delay_max);
        if (fault.kind == FaultKind::kForeignAnswer)
            fault.delay = RandomDelay(std::chrono::microseconds(0), random_->foreign_delay_max);
        if (fault.kind == FaultKind::kNoReply || fault.kind == FaultKind::kGarbage) {
            fault.carry_out = rng_.Uniform() >= random_->lost_request_share;
        }
        if (IsStationBehaviour(fault.kind)) DrawBehaviour(fault);
        return fault;
    }
    return std::nullopt;
}

void FaultPlan::DrawBehaviour(Fault& fault) {
    const RandomFaults& r = *random_;
    switch (fault.kind) {
        case FaultKind::kQueueAll:
        case FaultKind::kKeepFirst: fault.delay = RandomDelay(r.busy_delay, r.busy_delay_max); break;
        case FaultKind::kLateJitter:
            fault.delay = r.late_delay;
            fault.jitter = r.late_jitter;
            fault.span = r.late_span;
            break;
        case FaultKind::kSlowTurnaround:
            fault.delay = RandomDelay(r.turnaround_delay, r.turnaround_delay_max);
            break;
        case FaultKind::kForeignNak:
            fault.delay = RandomDelay(std::chrono::microseconds(0), r.foreign_delay_max);
            fault.after = RandomDelay(std::chrono::microseconds(0), r.foreign_after_max);
            break;
        case FaultKind::kDrip:
            fault.delay = r.drip_span;
            fault.param = r.drip_interval_ms;
            break;
        default: break;
    }
}

std::string FaultPlan::RandomBytes(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) {
        bytes += static_cast<char>(0x20 + rng_.Next() % 0x5F);  // printable, never a frame start
    }
    return bytes;
}

std::chrono::microseconds FaultPlan::RandomDelay(std::chrono::microseconds low,
                                                 std::chrono::microseconds high) {
    if (high <= low) return low;
    const auto span = static_cast<double>((high - low).count());
    return low + std::chrono::microseconds(static_cast<std::int64_t>(span * rng_.Uniform()));
}

std::string ForeignAnswer(const Fault& fault, const std::string& reply) {
    std::string out = reply;
    ShiftField(out, 1, ParamOr(fault, 1));
    Resum(out);
    return out;
}

std::string ForeignNak(const Fault& fault, const std::string& reply) {
    std::string out = std::string(1, kNakChar) + reply.substr(1, 4) + "02";
    ShiftField(out, 1, ParamOr(fault, 1));
    return out;
}

std::string FaultPlan::Apply(const Fault& fault, const std::string& reply) {
    switch (fault.kind) {
        case FaultKind::kNoReply: return {};
        case FaultKind::kCutReply:
            return reply.substr(0, static_cast<std::size_t>(ParamOr(fault, 3)));
        case FaultKind::kStrayByte: return static_cast<char>(fault.param) + reply;
        case FaultKind::kWrongStation: return ForeignAnswer(fault, reply);
        case FaultKind::kWrongPc: {
            std::string out = reply;
            ShiftField(out, 3, ParamOr(fault, 1));
            Resum(out);
            return out;
        }
        case FaultKind::kBadSum: {
            std::string out = reply;
            ShiftField(out, out.size() - 2, ParamOr(fault, 1));
            return out;
        }
        case FaultKind::kLowerCase: return LowerCase(reply);
        case FaultKind::kNak:
            return std::string(1, kNakChar) + reply.substr(1, 4) + FormatHex(fault.param & 0xFF, 2);
        case FaultKind::kSlowReply:
        case FaultKind::kForeignAnswer:
        case FaultKind::kQueueAll:
        case FaultKind::kKeepFirst:
        case FaultKind::kLateJitter:
        case FaultKind::kSlowTurnaround:
        case FaultKind::kForeignNak:
        case FaultKind::kDrip: return reply;
        case FaultKind::kGarbage:
            return fault.bytes.empty() ? RandomBytes(static_cast<std::size_t>(ParamOr(fault, 8)))
                                       : fault.bytes;
        case FaultKind::kExtraAfterAck:
            return reply + (fault.bytes.empty()
                                ? RandomBytes(static_cast<std::size_t>(ParamOr(fault, 3)))
                                : fault.bytes);
    }
    return reply;
}

}  // namespace jynsim
