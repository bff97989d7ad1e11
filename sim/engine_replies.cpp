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
    const Request request = DecodeRequest(body_, config_.decode);
    Station* station = Addressee(request.station, request.pc, DescribeRequest(request));
    if (station == nullptr) return;
    RequestRecord record = NewRecord(request, t);
    const Verdict verdict = station->Check(request);
    if (verdict.kind == Verdict::kNoAnswer) {
        Note(t, "station " + FormatHex(request.station & 0xFF, 2) + " does not answer " +
                    record.command);
        Keep(std::move(record));
        return;
    }
    Carry(*station, request, verdict, record, t);
    Keep(std::move(record));
}

// Decides the fault, carries the request out unless the fault stops it, and
// sends the reply as the fault leaves it.
void LineEngine::Carry(Station& station, const Request& request, const Verdict& verdict,
                       RequestRecord& record, Micros t) {
    const ReplyKind kind = verdict.kind == Verdict::kNak ? ReplyKind::kNak
                           : record.write                ? ReplyKind::kAck
                                                         : ReplyKind::kData;
    const std::optional<Fault> fault = faults_.Next({request.station, record.command, kind});
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
    Micros ready = t + std::max(config_.timing.turnaround, wait);
    std::string sent = reply;
    if (fault) {
        record.fault = fault->kind;
        Note(t, std::string("fault ") + FaultName(fault->kind) +
                    (act || verdict.kind != Verdict::kExecute ? "" : ", request not carried out"));
        sent = faults_.Apply(*fault, reply);
        if (fault->kind == FaultKind::kSlowReply) ready += SlowDelay(*fault);
    }
    if (kind == ReplyKind::kData && !sent.empty()) {
        pending_confirm_ = PendingConfirm{request.station, request.pc, record.seq, reply};
    }
    Answer(record, sent, ready);
}

void LineEngine::HandleBroken(std::uint8_t code, Micros t) {
    const int station_number = StationOfText(body_);
    const int pc = PcOfText(body_);
    Station* station =
        Addressee(station_number, pc, "unreadable request: " + std::string(NakName(code)));
    if (station == nullptr) return;
    for (char c : body_) {
        if (static_cast<unsigned char>(c) < 0x20) code = std::min<std::uint8_t>(code, kNakProtocol);
    }
    Request partial;
    partial.station = station_number;
    partial.pc = pc;
    RequestRecord record = NewRecord(partial, t);
    record.command = body_.substr(4, 2);
    record.nak_code = code;
    Answer(record, NakFrame(ReplyHeader(station_number, pc, body_), code),
           t + config_.timing.turnaround);
    Keep(std::move(record));
}

void LineEngine::Answer(RequestRecord& record, const std::string& reply, Micros ready) {
    record.reply = reply;
    if (reply.empty()) {
        Note(ready, "no reply");
        return;
    }
    record.reply_start = Schedule(reply, ready);
    const std::string decoded = DescribeReply(reply);
    if (reply[0] == kStxChar) ++counters_.data_replies;
    if (reply[0] == kAckChar) ++counters_.acks;
    if (reply[0] == kNakChar && reply.size() >= 7) {
        ++counters_.naks;
        const auto code = ParseHex(std::string_view(reply).substr(5, 2));
        if (code) ++counters_.naks_by_code[static_cast<std::uint8_t>(*code)];
    }
    log_.Add({record.reply_start, Direction::kFromPlc, reply, decoded});
}

Micros LineEngine::Schedule(const std::string& bytes, Micros ready) {
    const Micros start = std::max(ready, out_free_);
    out_.push_back({bytes, start, 0});
    out_free_ = start + config_.timing.CharsTime(bytes.size());
    return start;
}

void LineEngine::CancelUnsent(Micros t) {
    const std::size_t before = out_.size();
    out_.erase(
        std::remove_if(out_.begin(), out_.end(),
                       [t](const OutFrame& frame) { return frame.sent == 0 && frame.start > t; }),
        out_.end());
    const std::size_t cancelled = before - out_.size();
    if (cancelled == 0) return;
    counters_.cancelled_replies += cancelled;
    out_free_ =
        out_.empty() ? t : out_.back().start + config_.timing.CharsTime(out_.back().bytes.size());
    Note(t, "reply not yet sent dropped by the new sequence");
}

std::string LineEngine::TakeOutput(Micros now) {
    std::string out;
    const LineTiming& timing = config_.timing;
    while (!out_.empty()) {
        OutFrame& frame = out_.front();
        while (frame.sent < frame.bytes.size() &&
               frame.start + timing.CharsTime(frame.sent + 1) <= now) {
            out += frame.bytes[frame.sent++];
        }
        if (frame.sent < frame.bytes.size()) break;
        out_.pop_front();
    }
    counters_.bytes_out += out.size();
    return out;
}

std::optional<Micros> LineEngine::NextEvent() const {
    std::optional<Micros> next;
    if (!out_.empty()) {
        const OutFrame& frame = out_.front();
        next = frame.start + config_.timing.CharsTime(frame.sent + 1);
    }
    if (phase_ != Phase::kIdle) {
        const Micros stall = last_char_ + config_.timing.interchar_timeout + Micros(1);
        if (!next || stall < *next) next = stall;
    }
    return next;
}

}  // namespace jynsim
