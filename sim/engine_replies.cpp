// The station side of the line: judging complete requests, answering them
// (through the fault plan), pacing the answers out, and the host's
// confirmation of a data reply.
#include <algorithm>

#include "sim/engine.h"
#include "sim/hex.h"

namespace jynsim {
namespace {

std::string ReplyHeader(int station, int pc, std::string_view text) {
    const std::string pc_text =
        pc >= 0 ? FormatHex(static_cast<std::uint32_t>(pc), 2) : std::string(text.substr(2, 2));
    return FormatHex(static_cast<std::uint32_t>(station & 0xFF), 2) + pc_text;
}

std::string DataFrame(const std::string& header, const std::string& data) {
    const std::string body = header + data + kEtxChar;
    return kStxChar + body + FormatHex(SumCheck(body), 2);
}

std::string NakFrame(const std::string& header, std::uint8_t code) {
    return kNakChar + header + FormatHex(code, 2);
}

int PcOfText(std::string_view text) {
    const auto pc = text.size() >= 4 ? ParseHex(text.substr(2, 2)) : std::nullopt;
    return pc ? static_cast<int>(*pc) : -1;
}

// What a frame the noise hit looks like to the host.
NoiseOutcome OutboundOutcome(const std::string& sent, const std::string& received, bool ends_hit) {
    if (ends_hit) return NoiseOutcome::kLostFrame;
    if (sent[0] != kStxChar) {
        return sent[0] == kAckChar || sent[0] == kNakChar ? NoiseOutcome::kChangedAckNak
                                                          : NoiseOutcome::kBadSum;
    }
    const std::size_t etx = received.find(kEtxChar);
    if (etx == std::string::npos || etx + 3 != received.size()) return NoiseOutcome::kBadSum;
    const auto sum = ParseHex(std::string_view(received).substr(etx + 1, 2));
    const bool holds = sum && *sum == SumCheck(std::string_view(received).substr(1, etx));
    return holds ? NoiseOutcome::kUnseen : NoiseOutcome::kBadSum;
}

Micros SlowDelay(const Fault& fault) {
    if (fault.delay.count() > 0) return fault.delay;
    if (fault.param > 0) return std::chrono::milliseconds(fault.param);
    return std::chrono::milliseconds(1500);
}

}  // namespace

RequestRecord LineEngine::NewRecord(const Request& request, Micros t) {
    RequestRecord record;
    record.seq = next_seq_++;
    record.time = t;
    record.request_chars = raw_.size();
    record.noise_in = inbound_hits_;
    record.station = request.station;
    record.pc = request.pc;
    if (request.command) {
        const CommandInfo& info = InfoOf(*request.command);
        record.command = info.name;
        record.write = info.write;
        if (info.write) record.data = request.data;
    }
    record.device = request.device;
    record.points = request.points;
    return record;
}

Station* LineEngine::Addressee(int station_number, int pc, const std::string& decoded) {
    Station* station = FindStation(station_number, pc);
    if (station == nullptr) station = FindStation(station_number);
    if (station == nullptr) {
        ++counters_.unaddressed;
        log_.Add({sequence_start_, Direction::kToPlc, raw_, decoded + "  -- no such station"});
        return nullptr;
    }
    log_.Add({sequence_start_, Direction::kToPlc, raw_, decoded});
    ++counters_.requests;
    return station;
}

void LineEngine::HandleRequest(Micros t) {
    Request request = DecodeRequest(body_, config_.decode);
    // A character the UART took with a framing or parity error.
    if (line_error_) request.Flag(*line_error_);
    Station* station = Addressee(request.station, request.pc, DescribeRequest(request));
    if (station == nullptr) {
        SettleInbound(NoiseOutcome::kSilence, t);
        return;
    }
    RequestRecord record = NewRecord(request, t);
    const Verdict verdict = station->Check(request);
    if (verdict.kind == Verdict::kNoAnswer) {
        Note(t, "station " + FormatHex(request.station & 0xFF, 2) + " does not answer " +
                    record.command);
        SettleInbound(NoiseOutcome::kSilence, t);
        Keep(std::move(record));
        return;
    }
    Carry(*station, request, verdict, record, t);
    SettleInbound(verdict.kind == Verdict::kNak ? NoiseOutcome::kNak : NoiseOutcome::kUnseen, t);
    Keep(std::move(record));
}

// The fault for a request: its station's spell goes on (`follower`), or
// one is drawn.
std::optional<Fault> LineEngine::FaultFor(int station, const std::string& command, ReplyKind kind,
                                          Micros t, bool& follower) {
    const Spell* spell = SpellAt(station, t);
    follower = spell != nullptr;
    if (!follower) return faults_.Next({station, command, kind});
    Fault fault;
    fault.kind = spell->kind;
    return fault;
}

// Decides the fault, carries the request out unless the fault stops it, and
// sends the reply as the fault leaves it.
void LineEngine::Carry(Station& station, const Request& request, const Verdict& verdict,
                       RequestRecord& record, Micros t) {
    const ReplyKind kind = verdict.kind == Verdict::kNak ? ReplyKind::kNak
                           : record.write                ? ReplyKind::kAck
                                                         : ReplyKind::kData;
    bool follower = false;
    const std::optional<Fault> fault = FaultFor(request.station, record.command, kind, t, follower);
    if (follower && fault->kind == FaultKind::kKeepFirst) return DropWhileBusy(record, t);
    const bool act = verdict.kind == Verdict::kExecute &&
                     (!fault || (fault->kind != FaultKind::kNak && fault->carry_out));
    std::string data;
    // A read changes nothing, so its data are fetched even for a lost request.
    if (verdict.kind == Verdict::kExecute && (act || !record.write)) {
        data = station.Execute(request);
    }
    record.carried_out = act;
    counters_.carried_out += act ? 1 : 0;
    counters_.writes_carried_out += act && record.write ? 1 : 0;
    if (verdict.kind == Verdict::kNak) record.nak_code = verdict.code;

    const std::string header = ReplyHeader(request.station, request.pc, body_);
    const std::string reply = kind == ReplyKind::kData  ? DataFrame(header, data)
                              : kind == ReplyKind::kAck ? std::string(1, kAckChar) + header
                                                        : NakFrame(header, verdict.code);
    const Micros wait = config_.timing.honor_message_wait
                            ? std::chrono::milliseconds(10 * request.wait)
                            : Micros(0);
    AnswerPlan plan{t + std::max(config_.timing.turnaround, wait)};
    std::string sent = reply;
    // Behind a late answer: answered right after it (after its own
    // turnaround), and never dropped.
    const bool queued = config_.queue_behind_late_answer && HoldingAnswers(t);
    plan.keep = queued;
    if (queued) plan.ready = std::max(plan.ready, out_free_ + config_.timing.turnaround);
    if (fault) {
        record.fault = fault->kind;
        Note(t, std::string(follower ? "still " : "fault ") + FaultName(fault->kind) +
                    (act || verdict.kind != Verdict::kExecute ? "" : ", request not carried out"));
        sent = faults_.Apply(*fault, reply);
        Behave(*fault, follower, reply, request.station, t, plan);
    } else if (drip_ && drip_->until > t) {
        record.fault = FaultKind::kDrip;  // the answer meets the drip on the line
    }
    if (queued) Note(t, "queued behind a late answer");
    if (kind == ReplyKind::kData && !sent.empty()) {
        pending_confirm_ = PendingConfirm{request.station, request.pc, record.seq, reply};
    }
    Answer(record, sent, plan.ready, plan.keep, plan.hold);
}

// Another station's answer, on the line before this station's own.
void LineEngine::SendForeign(const Fault& fault, const std::string& reply, Micros t) {
    const Micros ready = t + std::max(config_.timing.turnaround, fault.delay);
    LogOut(Schedule(ForeignAnswer(fault, reply), ready), "  -- another station's answer");
}

void LineEngine::HandleBroken(std::uint8_t code, Micros t) {
    const int station_number = StationOfText(body_);
    const int pc = PcOfText(body_);
    Station* station =
        Addressee(station_number, pc, "unreadable request: " + std::string(NakName(code)));
    if (station == nullptr) {
        SettleInbound(NoiseOutcome::kSilence, t);
        return;
    }
    if (line_error_) code = std::min(code, *line_error_);
    for (char c : body_) {
        if (static_cast<unsigned char>(c) < 0x20) code = std::min<std::uint8_t>(code, kNakProtocol);
    }
    Request partial;
    partial.station = station_number;
    partial.pc = pc;
    RequestRecord record = NewRecord(partial, t);
    record.command = body_.substr(4, 2);
    record.nak_code = code;
    const Spell* spell = SpellAt(station_number, t);
    if (spell != nullptr) record.fault = spell->kind;
    if (spell != nullptr && spell->kind == FaultKind::kKeepFirst) {
        DropWhileBusy(record, t);
        SettleInbound(NoiseOutcome::kSilence, t);
        Keep(std::move(record));
        return;
    }
    Answer(record, NakFrame(ReplyHeader(station_number, pc, body_), code),
           t + config_.timing.turnaround);
    SettleInbound(NoiseOutcome::kNak, t);
    Keep(std::move(record));
}

void LineEngine::Behave(const Fault& fault, bool follower, const std::string& reply, int station,
                        Micros t, AnswerPlan& plan) {
    switch (fault.kind) {
        case FaultKind::kSlowReply:
            if (plan.keep) break;
            plan.keep = config_.queue_behind_late_answer;
            plan.ready += SlowDelay(fault);
            break;
        case FaultKind::kForeignAnswer: SendForeign(fault, reply, t); break;
        case FaultKind::kQueueAll:
        case FaultKind::kKeepFirst:
            if (follower) break;
            spells_[station] = Spell{fault.kind, t + fault.delay};
            plan.ready = std::max(plan.ready, t + fault.delay);
            break;
        case FaultKind::kLateJitter: {
            if (!follower) {
                const Micros span = fault.span.count() > 0 ? fault.span : 10 * fault.delay;
                spells_[station] = Spell{fault.kind, t + span, fault.delay, fault.jitter};
            }
            const Spell& spell = spells_[station];
            plan.ready += spell.late + faults_.Draw(Micros(0), spell.jitter);
            break;
        }
        case FaultKind::kSlowTurnaround: plan.ready = std::max(plan.ready, t + fault.delay); break;
        case FaultKind::kForeignNak:
            // The own answer may come late: what the station takes meanwhile
            // waits behind it.
            plan.ready = std::max(plan.ready, SendForeignNak(fault, reply, t));
            plan.hold = true;
            break;
        case FaultKind::kDrip: StartDrip(fault, t); break;
        default: break;
    }
}

void LineEngine::Answer(RequestRecord& record, const std::string& reply, Micros ready, bool keep,
                        bool hold) {
    record.reply = reply;
    if (reply.empty()) {
        Note(ready, "no reply");
        return;
    }
    // Behind a busy or late station's answers: in the order taken, after them.
    if (record.station >= 0 &&
        (hold || Holds(record.station) || SpellAt(record.station, record.time))) {
        held_.push_back(Held{record.station, record.pc, record.seq, reply, ready});
        record.reply.clear();
        ++counters_.held_answers;
        Note(record.time, "answer held back");
        return;
    }
    Send(record, reply, ready, keep);
}

void LineEngine::Send(RequestRecord& record, const std::string& reply, Micros ready, bool keep) {
    const Scheduled scheduled = Schedule(reply, ready, keep);
    record.reply_start = scheduled.start;
    record.reply = scheduled.received;
    record.noise_out = scheduled.hits;
    if (reply[0] == kStxChar) ++counters_.data_replies;
    if (reply[0] == kAckChar) ++counters_.acks;
    if (reply[0] == kNakChar && reply.size() >= 7) {
        ++counters_.naks;
        const auto code = ParseHex(std::string_view(reply).substr(5, 2));
        if (code) ++counters_.naks_by_code[static_cast<std::uint8_t>(*code)];
    }
    LogOut(scheduled);
}

void LineEngine::LogOut(const Scheduled& scheduled, const std::string& remark) {
    log_.Add({scheduled.start, Direction::kFromPlc, scheduled.received,
              DescribeReply(scheduled.received) + remark});
    for (const std::string& note : scheduled.noise) Note(scheduled.start, note);
}

LineEngine::Scheduled LineEngine::Schedule(const std::string& bytes, Micros ready, bool keep) {
    Scheduled scheduled;
    scheduled.start = std::max(ready, out_free_);
    scheduled.received = bytes;
    OutFrame frame{bytes, {}, scheduled.start, 0, keep};
    NoiseOut(bytes, frame, scheduled);
    out_.push_back(std::move(frame));
    out_free_ = scheduled.start + config_.timing.CharsTime(bytes.size());
    return scheduled;
}

void LineEngine::NoiseOut(const std::string& bytes, OutFrame& frame, Scheduled& scheduled) {
    if (!noise_out_.On() || bytes.empty()) return;
    const std::size_t etx = bytes[0] == kStxChar ? bytes.find(kEtxChar) : std::string::npos;
    std::string received;
    bool ends_hit = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const CharHit hit = noise_out_.Hit(bytes[i]);
        if (hit.bits == 0) {
            received += bytes[i];
            continue;
        }
        counters_.noise.Count(hit, false);
        ++scheduled.hits;
        ends_hit = ends_hit || i == 0 || i == etx;
        scheduled.noise.push_back("noise on the station's " + Printable(bytes.substr(i, 1)) +
                                  " (character " + std::to_string(i) + "): " + HitText(hit));
        if (hit.lost) {
            frame.lost.resize(bytes.size());
            frame.lost[i] = true;
            continue;
        }
        // A serial port set up as the driver sets it (no IGNPAR, no PARMRK)
        // hands a character with a framing error over as NUL.
        frame.bytes[i] = hit.framing ? kNulChar : hit.received;
        received += frame.bytes[i];
    }
    if (scheduled.hits == 0) return;
    const NoiseOutcome outcome = OutboundOutcome(bytes, received, ends_hit);
    counters_.noise.outcomes[static_cast<std::size_t>(outcome)] += scheduled.hits;
    scheduled.received = received;
    scheduled.noise.push_back("noise: " + std::to_string(scheduled.hits) +
                              " of the station's characters hit -> " + NoiseOutcomeName(outcome));
}

bool LineEngine::HoldingAnswers(Micros t) const {
    return std::any_of(out_.begin(), out_.end(), [t](const OutFrame& frame) {
        return frame.keep && frame.sent == 0 && frame.start > t;
    });
}

void LineEngine::CancelUnsent(Micros t) {
    const std::size_t before = out_.size();
    out_.erase(std::remove_if(out_.begin(), out_.end(),
                              [t](const OutFrame& frame) {
                                  return frame.sent == 0 && frame.start > t && !frame.keep;
                              }),
               out_.end());
    const std::size_t cancelled = before - out_.size();
    if (cancelled == 0) return;
    counters_.cancelled_replies += cancelled;
    out_free_ =
        out_.empty() ? t : out_.back().start + config_.timing.CharsTime(out_.back().bytes.size());
    Note(t, "reply not yet sent dropped by the new sequence");
}

std::optional<Micros> LineEngine::NextFrameChar() const {
    if (out_.empty()) return std::nullopt;
    const OutFrame& frame = out_.front();
    return frame.start + config_.timing.CharsTime(frame.sent + 1);
}

// The stations' frames and a dripping line's bytes, in the order of their time.
std::string LineEngine::TakeOutput(Micros now) {
    ReleaseHeld(now);
    std::string out;
    for (;;) {
        const std::optional<Micros> frame_at = NextFrameChar();
        const bool drip_due = drip_ && drip_->next <= now && (!frame_at || drip_->next < *frame_at);
        if (drip_due) {
            out += faults_.Text(1);
            ++counters_.dripped;
            drip_->next += drip_->interval;
            if (drip_->next > drip_->until) drip_.reset();
            continue;
        }
        if (!frame_at || *frame_at > now) break;
        // A character the noise lost still took its time on the line.
        OutFrame& frame = out_.front();
        if (frame.lost.empty() || !frame.lost[frame.sent]) out += frame.bytes[frame.sent];
        if (++frame.sent == frame.bytes.size()) out_.pop_front();
    }
    counters_.bytes_out += out.size();
    return out;
}

std::optional<Micros> LineEngine::NextEvent() const {
    std::optional<Micros> next = NextFrameChar();
    const auto earlier = [&next](Micros t) {
        if (!next || t < *next) next = t;
    };
    if (phase_ != Phase::kIdle) earlier(last_char_ + config_.timing.interchar_timeout + Micros(1));
    if (drip_) earlier(drip_->next);
    if (const auto release = NextRelease()) earlier(*release);
    return next;
}

}  // namespace jynsim
