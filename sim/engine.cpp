#include "sim/engine.h"

#include <algorithm>

#include "sim/hex.h"

namespace jynsim {

Micros LineTiming::CharsTime(std::uint64_t n) const {
    if (baud == 0) return Micros(0);
    const std::uint64_t bits = n * static_cast<std::uint64_t>(bits_per_char);
    return Micros(static_cast<std::int64_t>(bits * 1000000u / baud));
}

LineEngine::LineEngine(LineConfig config) : config_(std::move(config)), log_(config_.log_capacity) {
    for (const StationConfig& station : config_.stations) {
        stations_.push_back(std::make_unique<Station>(station));
    }
    SetNoise(config_.noise);
}

void LineEngine::SetNoise(const NoiseConfig& noise) {
    config_.noise = noise;
    const int bits = config_.timing.bits_per_char;
    noise_in_.Set(noise, noise.flips_in, bits);
    NoiseConfig outbound = noise;
    outbound.seed = noise.seed ^ 0x6A09E667F3BCC909ull;  // the other direction draws its own
    noise_out_.Set(outbound, noise.flips_out, bits);
}

const Station* LineEngine::FindStation(int station, int pc) const {
    for (const auto& candidate : stations_) {
        const StationConfig& config = candidate->Config();
        if (config.station == station && (pc < 0 || config.pc == pc)) return candidate.get();
    }
    return nullptr;
}

Station* LineEngine::FindStation(int station, int pc) {
    return const_cast<Station*>(static_cast<const LineEngine&>(*this).FindStation(station, pc));
}

LineCounters LineEngine::Counters() const {
    LineCounters counters = counters_;
    for (std::size_t i = 0; i < kFaultKindCount; ++i) {
        counters.faults[i] = faults_.Injected(static_cast<FaultKind>(i));
    }
    return counters;
}

// A character cannot arrive sooner than the line carries it after the one
// before it: a burst written at once arrives one character time apart.
Micros LineEngine::ArrivalOf(Micros now) {
    const LineTiming& timing = config_.timing;
    if (now >= burst_start_ + timing.CharsTime(burst_chars_)) {
        burst_start_ = now;
        burst_chars_ = 0;
    }
    ++burst_chars_;
    return burst_start_ + timing.CharsTime(burst_chars_);
}

void LineEngine::Receive(std::string_view bytes, Micros now) {
    for (char c : bytes) {
        ++counters_.bytes_in;
        const Micros t = ArrivalOf(now);
        std::optional<std::uint8_t> line_error;
        if (NoiseIn(c, line_error, t)) OnByte(c, t, line_error);
    }
    FlushIgnored();
}

void LineEngine::Advance(Micros now) {
    ReleaseHeld(now);
    if (phase_ != Phase::kIdle && now - last_char_ > config_.timing.interchar_timeout) {
        ++counters_.stalled;
        DropPartial("stalled, dropped");
    }
}

void LineEngine::OnByte(char c, Micros t, std::optional<std::uint8_t> line_error) {
    Advance(t);
    switch (c) {
        case kNulChar:  // ignored inside a message, as outside
            TakeCharHit();
            if (phase_ != Phase::kIdle) raw_ += c;
            return;
        case kEotChar:
        case kClChar:
            FlushIgnored();
            DropPartial("reset");
            ++counters_.resets;
            if (config_.new_sequence_cancels_reply) CancelUnsent(t);
            log_.Add({t, Direction::kToPlc, std::string(1, c), "sequence reset"});
            TakeCharHit();
            SettleInbound(NoiseOutcome::kSilence, t);
            return;
        case kEnqChar:
            StartSequence(Phase::kRequest, c, t);
            line_error_ = line_error;
            TakeCharHit();
            return;
        case kAckChar:
        case kNakChar:
            StartSequence(Phase::kConfirm, c, t);
            TakeCharHit();
            return;
        default: break;
    }
    TakeCharHit();
    if (phase_ == Phase::kIdle) {
        if (ignored_.empty()) ignored_start_ = t;
        ignored_ += c;
        ++counters_.ignored_bytes;
        return;
    }
    last_char_ = t;
    raw_ += c;
    body_ += c;
    if (line_error && (!line_error_ || *line_error < *line_error_)) line_error_ = line_error;
    if (phase_ == Phase::kRequest) {
        OnRequestChar(t);
    } else if (body_.size() == 4) {
        OnConfirmation(t);
    }
}

void LineEngine::StartSequence(Phase phase, char c, Micros t) {
    FlushIgnored();
    DropPartial("interrupted by a new sequence");
    if (phase == Phase::kRequest) {
        if (config_.new_sequence_cancels_reply) CancelUnsent(t);
        pending_confirm_.reset();
    }
    phase_ = phase;
    line_error_.reset();
    body_.clear();
    raw_ = std::string(1, c);
    sequence_start_ = t;
    last_char_ = t;
}

void LineEngine::DropPartial(const char* why) {
    if (phase_ == Phase::kIdle) return;
    phase_ = Phase::kIdle;
    log_.Add({sequence_start_, Direction::kToPlc, raw_,
              std::string("incomplete (") + std::to_string(body_.size()) + " chars): " + why});
    SettleInbound(NoiseOutcome::kSilence, sequence_start_);
}

void LineEngine::OnRequestChar(Micros t) {
    const Measure measure = MeasureRequest(body_);
    if (measure.state == Measure::kNeedMore) return;
    phase_ = Phase::kIdle;
    if (measure.state == Measure::kBroken) {
        HandleBroken(measure.code, t);
    } else {
        HandleRequest(t);
    }
}

void LineEngine::OnConfirmation(Micros t) {
    phase_ = Phase::kIdle;
    const bool ack = raw_[0] == kAckChar;
    const int station = StationOfText(body_);
    const auto pc_value = ParseHex(std::string_view(body_).substr(2, 2));
    const int pc = pc_value ? static_cast<int>(*pc_value) : -1;
    std::string decoded = std::string(ack ? "confirm ACK" : "confirm NAK") + " st " +
                          body_.substr(0, 2) + " pc " + body_.substr(2, 2);
    SettleInbound(NoiseOutcome::kConfirmation, sequence_start_);
    if (!pending_confirm_ || pending_confirm_->station != station || pending_confirm_->pc != pc) {
        ++counters_.stray_confirmations;
        log_.Add({sequence_start_, Direction::kToPlc, raw_, decoded + "  -- nothing to confirm"});
        return;
    }
    log_.Add({sequence_start_, Direction::kToPlc, raw_, decoded});
    if (RequestRecord* record = RecordOf(pending_confirm_->seq)) {
        record->confirmation = ack ? Confirmation::kAck : Confirmation::kNak;
    }
    ++(ack ? counters_.confirm_acks : counters_.confirm_naks);
    if (!ack && config_.resend_on_nak) {
        RequestRecord again;
        Answer(again, pending_confirm_->reply, t + config_.timing.turnaround);
        return;
    }
    pending_confirm_.reset();
}

void LineEngine::FlushIgnored() {
    if (ignored_.empty()) return;
    log_.Add({ignored_start_, Direction::kToPlc, ignored_, "ignored, outside any sequence"});
    ignored_.clear();
    // Characters between a data reply and the next request: its confirmation.
    SettleInbound(pending_confirm_ ? NoiseOutcome::kConfirmation : NoiseOutcome::kSilence,
                  ignored_start_);
}

bool LineEngine::NoiseIn(char& c, std::optional<std::uint8_t>& line_error, Micros t) {
    if (!noise_in_.On()) return true;
    const CharHit hit = noise_in_.Hit(c);
    if (hit.bits == 0) return true;
    counters_.noise.Count(hit, true);
    Note(t, "noise on the host's " + Printable(std::string(1, c)) + ": " + HitText(hit));
    if (hit.lost) {
        ++inbound_hits_;
        return false;
    }
    char_hit_ = true;
    if (hit.framing) line_error = kNakFraming;
    if (hit.parity) line_error = kNakParity;  // the lower code
    c = hit.received;
    return true;
}

void LineEngine::SettleInbound(NoiseOutcome outcome, Micros t) {
    if (inbound_hits_ == 0) return;
    counters_.noise.outcomes[static_cast<std::size_t>(outcome)] += inbound_hits_;
    Note(t, "noise: " + std::to_string(inbound_hits_) + " of the host's characters hit -> " +
                NoiseOutcomeName(outcome));
    inbound_hits_ = 0;
}

void LineEngine::Note(Micros t, const std::string& text) {
    log_.Add({t, Direction::kNote, std::string(), text});
}

void LineEngine::Keep(RequestRecord record) {
    if (config_.record_capacity == 0) return;
    if (records_.size() == config_.record_capacity) records_.pop_front();
    records_.push_back(std::move(record));
}

RequestRecord* LineEngine::RecordOf(std::uint64_t seq) {
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
        if (it->seq == seq) return &*it;
    }
    return nullptr;
}

}  // namespace jynsim
