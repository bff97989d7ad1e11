// Station behaviours that outlast one reply: a link module busy with its
// CPU (queueing or dropping what comes meanwhile), a station late with
// every answer, another station's NAK on the line, and a device that drips
// bytes onto the line. Whatever a station holds back it answers in the
// order it took the requests, as a link module does.
#include <algorithm>
#include <set>

#include "sim/engine.h"
#include "sim/hex.h"

namespace jynsim {

const LineEngine::Spell* LineEngine::SpellAt(int station, Micros t) {
    const auto it = spells_.find(station);
    if (it == spells_.end()) return nullptr;
    if (it->second.until > t) return &it->second;
    Note(it->second.until, "station " + FormatHex(static_cast<std::uint32_t>(station & 0xFF), 2) +
                               " no longer " + FaultName(it->second.kind));
    spells_.erase(it);
    return nullptr;
}

bool LineEngine::Holds(int station) const {
    return std::any_of(held_.begin(), held_.end(),
                       [station](const Held& held) { return held.station == station; });
}

// Another station's NAK, then this station's own answer `after` it.
Micros LineEngine::SendForeignNak(const Fault& fault, const std::string& reply, Micros t) {
    const Micros ready = t + std::max(config_.timing.turnaround, fault.delay);
    const std::string nak = ForeignNak(fault, reply);
    const Scheduled scheduled = Schedule(nak, ready);
    LogOut(scheduled, "  -- another station's NAK");
    return scheduled.start + config_.timing.CharsTime(nak.size()) + fault.after;
}

void LineEngine::DropWhileBusy(RequestRecord& record, Micros t) {
    record.fault = FaultKind::kKeepFirst;
    record.carried_out = false;
    ++counters_.busy_drops;
    Note(t, "station busy: request dropped");
}

Micros LineEngine::DueOf(const Held& held) const {
    const auto free = station_free_.find(held.station);
    if (free == station_free_.end()) return held.ready;
    return std::max(held.ready, free->second + config_.timing.turnaround);
}

// Each station's held answers leave one after the other; one station's do
// not hold back another's.
void LineEngine::ReleaseHeld(Micros now) {
    std::set<int> waiting;
    for (auto it = held_.begin(); it != held_.end();) {
        if (waiting.count(it->station) != 0) {
            ++it;
            continue;
        }
        const Micros due = DueOf(*it);
        if (due > now) {
            waiting.insert(it->station);
            ++it;
            continue;
        }
        const Held held = *it;
        it = held_.erase(it);
        Release(held, due);
    }
}

void LineEngine::Release(const Held& held, Micros due) {
    RequestRecord scratch;
    RequestRecord* record = RecordOf(held.seq);
    Send(record != nullptr ? *record : scratch, held.bytes, due, true);
    const RequestRecord& sent = record != nullptr ? *record : scratch;
    station_free_[held.station] = sent.reply_start + config_.timing.CharsTime(held.bytes.size());
    if (held.bytes[0] == kStxChar) {
        pending_confirm_ = PendingConfirm{held.station, held.pc, held.seq, held.bytes};
    }
}

std::optional<Micros> LineEngine::NextRelease() const {
    std::optional<Micros> next;
    std::set<int> seen;
    for (const Held& held : held_) {
        if (!seen.insert(held.station).second) continue;
        const Micros due = DueOf(held);
        if (!next || due < *next) next = due;
    }
    return next;
}

void LineEngine::StartDrip(const Fault& fault, Micros t) {
    const Micros interval = std::chrono::milliseconds(fault.param > 0 ? fault.param : 90);
    const Micros until = t + fault.delay;
    if (drip_) {
        drip_->until = std::max(drip_->until, until);
        return;
    }
    drip_ = Drip{t + interval, until, interval};
    Note(t, "the line drips a byte every " + std::to_string(interval.count() / 1000) + " ms");
}

}  // namespace jynsim
