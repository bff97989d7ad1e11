// How each transaction of the soak is judged against the simulator's truth.
#include <cstring>

#include "sim/hex.h"
#include "soak/fault_soak.h"
#include "harness/guarded_values.h"

namespace jynsoak {

namespace {

bool Harmless(jynsim::FaultKind kind) {
    return kind == jynsim::FaultKind::kLowerCase || kind == jynsim::FaultKind::kExtraAfterAck;
}

// Held answers of a busy or late station may come during the next few
// transactions, and a drip may have just ended.
constexpr uint64_t kBehaviourWake = 4;

bool Noisy(const jynsim::RequestRecord& r) { return r.noise_in > 0 || r.noise_out > 0; }

// A fault or noise that can spoil an attempt.
bool Spoilt(const jynsim::RequestRecord& r) { return (r.fault && !Harmless(*r.fault)) || Noisy(r); }

// A data reply whose sum check holds, as the host received it.
bool SumHolds(const std::string& reply) {
    const std::size_t etx = reply.find('\x03');
    if (reply.empty() || reply[0] != '\x02' || etx == std::string::npos || etx + 3 != reply.size())
        return false;
    const auto sum = jynsim::ParseHex(std::string_view(reply).substr(etx + 1, 2));
    return sum && *sum == jynsim::SumCheck(std::string_view(reply).substr(1, etx));
}

std::string Escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char text[8];
        std::snprintf(text, sizeof text, c < 0x20 || c > 0x7E ? "<%02X>" : "%c", c);
        out += text;
    }
    return out;
}

}  // namespace

void FaultSoak::Judge(Transaction& t) {
    ++tally_.transactions;
    for (const jynsim::RequestRecord& r : t.own) {
        if (r.fault && jynsim::IsStationBehaviour(*r.fault)) behaviourWake_ = kBehaviourWake + 1;
    }
    if (behaviourWake_ > 0) --behaviourWake_;
    tally_.requests += t.own.size();
    ++tally_.results[t.write ? 1 : 0][static_cast<std::size_t>(t.result) % 3];
    ++tally_.byKind[static_cast<std::size_t>(t.gate->shape.kind)];
    bool noisy = false;
    for (const jynsim::RequestRecord& r : t.own) {
        if (r.fault) ++tally_.faultsMet[static_cast<std::size_t>(*r.fault)];
        noisy = noisy || Noisy(r);
    }
    tally_.noisy += noisy ? 1 : 0;
    if (t.overlong) {
        ++tally_.overlong;
        Report("the transaction took longer than a dripping line may hold it", t);
    }
    const uint8_t* values = t.values->Data();
    bool damaged = !t.values->GuardsIntact();
    if (IsSingleWordOrBit(*t.gate)) {
        damaged = damaged || values[0] != t.values->Fill() || values[1] != t.values->Fill();
    }
    if (t.write) damaged = damaged || std::memcmp(values, t.sent.data(), t.sent.size()) != 0;
    if (damaged) {
        ++tally_.bufferDamage;
        Report("value buffer touched outside the gate's bytes", t);
    }
    if (t.result < 0 || t.result > 2) {
        ++tally_.unexplained;
        Report("result outside 0..2", t);
    } else if (t.result == jyn::kOk) {
        JudgeGood(t);
    } else {
        JudgeFailed(t);
    }
}

void FaultSoak::JudgeGood(Transaction& t) {
    ++tally_.goodByKind[static_cast<std::size_t>(t.gate->shape.kind)];
    bool faulted = false;
    for (const jynsim::RequestRecord& r : t.own) faulted = faulted || Spoilt(r);
    if (faulted) ++tally_.recoveredFromFault;
    jynsim::Simulator& sim = line_->Sim();
    if (!t.write && t.own.empty()) ++tally_.readAheadReads;
    if (!t.write) {
        const std::vector<uint8_t> expected = Expected(sim, *t.gate);
        const std::size_t at = IsSingleWordOrBit(*t.gate) ? 2 : 0;
        if (std::memcmp(t.values->Data() + at, expected.data(), expected.size()) != 0) {
            if (HeldWithinTheAge(t)) {
                ++tally_.servedWithinAge;
                return;
            }
            if (CarriedByUnseenNoise(t)) {
                ++tally_.unseenNoiseValues;
                return;
            }
            ++tally_.wrongValues;
            Report(("wrong value reported as good; the PLC holds " +
                    jynharness::Hex(expected.data(), expected.size()))
                       .c_str(),
                   t, true);
        }
        return;
    }
    if (!Landed(sim, *t.gate, t.values->Data())) {
        if (CarriedByUnseenNoise(t)) {
            ++tally_.unseenNoiseWrites;
        } else {
            ++tally_.notLanded;
            Report("write reported good that did not land", t, true);
        }
    }
    uint64_t applied = 0;
    for (const jynsim::RequestRecord& r : t.own) applied += r.write && r.carried_out ? 1 : 0;
    if (applied > 1) {
        ++tally_.reapplied;
        tally_.extraApplications += applied - 1;
    }
}

// A failure is real when a fault hit one of the transaction's requests or
// the station refused one itself.
void FaultSoak::JudgeFailed(Transaction& t) {
    bool fault = false;
    bool refused = false;
    bool landed = false;
    for (const jynsim::RequestRecord& r : t.own) {
        fault = fault || Spoilt(r);
        refused = refused || (r.nak_code && !r.fault);
        landed = landed || (r.write && r.carried_out);
    }
    if (landed) ++tally_.failedWritesLanded;
    if (fault) {
        ++tally_.failedByFault;
    } else if (InBehavioursWake()) {
        ++tally_.failedInWake;
    } else if (refused) {
        ++tally_.failedByPlc;
        Report("refused by the station (a gate outside its ranges?)", t);
    } else {
        ++tally_.unexplained;
        Report("failure without a fault", t);
    }
}

bool FaultSoak::InBehavioursWake() const { return behaviourWake_ > 0; }

// The value was the PLC's until a change the soak made behind the driver's
// back, no longer before the read began than the age: a block may hold it.
bool FaultSoak::HeldWithinTheAge(const Transaction& t) const {
    if (options_.readAheadMs == 0 || t.index >= former_.size()) return false;
    const std::size_t at = IsSingleWordOrBit(*t.gate) ? 2 : 0;
    const auto oldest = t.begin - std::chrono::milliseconds(options_.readAheadMs);
    for (const FormerValue& former : former_[t.index]) {
        if (former.replaced >= oldest &&
            std::memcmp(t.values->Data() + at, former.bytes.data(), former.bytes.size()) == 0) {
            return true;
        }
    }
    return false;
}

// A read: the value is that of a data reply that noise had changed (or that
// answered a request noise had changed) and whose sum check still held. A
// write: the station carried out last a request noise had changed.
bool FaultSoak::CarriedByUnseenNoise(const Transaction& t) const {
    if (t.write) {
        for (auto r = t.own.rbegin(); r != t.own.rend(); ++r) {
            if (r->write && r->carried_out) return r->noise_in > 0;
        }
        return false;
    }
    const std::size_t at = IsSingleWordOrBit(*t.gate) ? 2 : 0;
    for (const jynsim::RequestRecord& r : t.own) {
        // A read the driver chose itself answers nothing of the gate's.
        const bool gates = r.noise_in > 0 || (r.device && *r.device == FirstDevice(*t.gate));
        if (!gates || !Noisy(r) || !SumHolds(r.reply)) continue;
        const std::vector<uint8_t> carried = ExpectedFromReply(*t.gate, r.reply);
        if (!carried.empty() &&
            std::memcmp(t.values->Data() + at, carried.data(), carried.size()) == 0)
            return true;
    }
    return false;
}

void FaultSoak::Report(const char* what, const Transaction& t, bool traffic) const {
    static int reports = 0;
    if (++reports > 20 && !options_.verbose) return;
    std::printf("--- %s: %s %s, result %d, data %s\n", what, t.write ? "write" : "read",
                t.gate->text.c_str(), t.result, jynharness::Hex(t.values->Data(), t.values->Owned()).c_str());
    for (const jynsim::RequestRecord& r : t.own) {
        std::printf("    request %llu %s points %u%s%s reply %s\n",
                    static_cast<unsigned long long>(r.seq), r.command.c_str(), r.points,
                    r.carried_out ? " carried out" : "",
                    r.fault ? (std::string(" fault ") + jynsim::FaultName(*r.fault)).c_str() : "",
                    Escaped(r.reply).c_str());
    }
    for (const jynhost::DriverMessage& message : driver_.Kept())
        std::printf("    [%d] %s\n", message.level, message.text.c_str());
    if (!traffic) return;
    for (const std::vector<std::string>& lines : lastTraffic_) {
        std::printf("    the line during a transaction before:\n");
        for (const std::string& line : lines) std::printf("    %s\n", line.c_str());
    }
    std::printf("    the line during this one:\n");
    for (const std::string& line : line_->Sim().TrafficLines())
        std::printf("    %s\n", line.c_str());
}

bool FaultSoak::Finish() {
    driver_.End();
    line_->Stop();
    tally_.Print(stdout, line_->Sim().Counters());
    std::fflush(stdout);
    return tally_.Passed();
}

}  // namespace jynsoak
