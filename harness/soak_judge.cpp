#include "harness/soak_judge.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "sim/hex.h"

namespace jynharness {

namespace {

using Messages = std::vector<jynhost::DriverMessage>;

// Lower case and extra bytes after an ACK spoil nothing: a transaction they
// hit must still succeed.
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

std::size_t ValueAt(const Gate& gate) { return IsSingleWordOrBit(gate) ? 2 : 0; }

bool Holds(const Transaction& t, const std::vector<uint8_t>& bytes) {
    return std::memcmp(t.values->Data() + ValueAt(*t.gate), bytes.data(), bytes.size()) == 0;
}

// A read: the value is that of a data reply that noise had changed (or that
// answered a request noise had changed) and whose sum check still held. A
// write: the station carried out last a request noise had changed.
bool CarriedByUnseenNoise(const Transaction& t) {
    if (t.write) {
        for (auto r = t.own.rbegin(); r != t.own.rend(); ++r) {
            if (r->write && r->carried_out) return r->noise_in > 0;
        }
        return false;
    }
    for (const jynsim::RequestRecord& r : t.own) {
        // A read the driver chose itself answers nothing of the gate's.
        const bool gates = r.noise_in > 0 || (r.device && *r.device == FirstDevice(*t.gate));
        if (!gates || !Noisy(r) || !SumHolds(r.reply)) continue;
        const std::vector<uint8_t> carried = ExpectedFromReply(*t.gate, r.reply);
        if (!carried.empty() && Holds(t, carried)) return true;
    }
    return false;
}

// The driver's last word on a failed transfer names the gate.
std::string FailureText(const Gate& gate, bool write, int32_t result) {
    const bool block = gate.shape.block > 0;
    const char* format = write ? (block ? "JYNMB> BlockWrite() , ret val is %d ('%s')"
                                        : "JYNMB> SingleWrite() , ret val is %d ('%s')")
                               : (block ? "JYNMB> BlockRead(), ret val is %d ('%s')"
                                        : "JYNMB> Single Read() , ret val is %d ('%s')");
    char text[128];
    std::snprintf(text, sizeof text, format, result, gate.text.c_str());
    return text;
}

bool Matches(const jynsim::RequestRecord& r, const Gate* gate, bool write) {
    return gate != nullptr && r.station == gate->station.station && r.write == write && r.device &&
           *r.device == FirstDevice(*gate);
}

std::mutex g_print;
int g_reports = 0;

}  // namespace

void Sort(Transaction& t, jynsim::Simulator& sim, uint64_t& lastSeq, const Gate* previous,
          bool previousWrite, Tally& tally) {
    const auto records = sim.WithEngine([&lastSeq](jynsim::LineEngine& engine) {
        std::vector<jynsim::RequestRecord> out;
        const auto& all = engine.Records();
        for (auto it = all.rbegin(); it != all.rend() && it->seq > lastSeq; ++it)
            out.insert(out.begin(), *it);
        if (!out.empty()) lastSeq = out.back().seq;
        return out;
    });
    for (const jynsim::RequestRecord& r : records) {
        // Noise may have changed its station or device: sent all the same.
        if (Matches(r, t.gate, t.write) || r.noise_in > 0) {
            t.own.push_back(r);
        } else if (Matches(r, previous, previousWrite)) {
            ++tally[kLate];
        } else if (r.station == t.gate->station.station && !r.write && r.command.size() == 2 &&
                   r.command[1] == 'R') {
            // A read the driver chose itself (to resynchronise with the
            // station): it changes nothing, and its faults explain a failure.
            ++tally[kExtraReads];
            t.own.push_back(r);
        } else {
            ++tally[kStray];
        }
    }
}

bool BufferDamaged(Transaction& t) {
    const uint8_t* values = t.values->Data();
    bool damaged = !t.values->GuardsIntact();
    if (IsSingleWordOrBit(*t.gate))
        damaged = damaged || values[0] != t.values->Fill() || values[1] != t.values->Fill();
    if (t.write) damaged = damaged || std::memcmp(values, t.sent.data(), t.sent.size()) != 0;
    return damaged;
}

bool FailedAsTheDriver(const Transaction& t, const Messages& messages) {
    return t.result == jyn::kDriverFailure && !messages.empty() &&
           messages.back().text == FailureText(*t.gate, t.write, jyn::kDriverFailure);
}

void Judge::Transfer(jynharness::Transaction& t, jynsim::Simulator* sim, const Messages& messages) {
    ++tally_[kTransactions];
    ++tally_.results[t.write ? 1 : 0][static_cast<std::size_t>(t.result) % 3];
    if (BufferDamaged(t)) {
        ++tally_[kBufferDamage];
        Report("value buffer touched outside the gate's bytes", t, messages);
    }
    if (sim == nullptr) {
        ++tally_[kAfterOwnVanish];
        if (FailedAsTheDriver(t, messages)) return;
        ++tally_[kBadPortFailures];
        Report("a transfer on the vanished port did not fail with 2 and its message", t, messages);
        return;
    }
    bool noisy = false;
    for (const jynsim::RequestRecord& r : t.own) {
        if (r.fault && jynsim::IsStationBehaviour(*r.fault)) behaviourWake_ = kBehaviourWake + 1;
        if (r.fault) ++tally_.faultsMet[static_cast<std::size_t>(*r.fault)];
        noisy = noisy || Noisy(r);
    }
    if (behaviourWake_ > 0) --behaviourWake_;
    tally_[kRequests] += t.own.size();
    tally_[kNoisy] += noisy ? 1 : 0;
    ++tally_.byKind[static_cast<std::size_t>(t.gate->shape.kind)];
    if (t.overlong) {
        ++tally_[kOverlong];
        Report("the transaction took longer than a dripping line may hold it", t, messages);
    }
    if (t.result < 0 || t.result > 2) {
        ++tally_[kUnexplained];
        Report("result outside 0..2", t, messages);
    } else if (t.result == jyn::kOk) {
        Good(t, *sim, messages);
    } else {
        Failed(t, messages);
    }
}

void Judge::Good(jynharness::Transaction& t, jynsim::Simulator& sim, const Messages& messages) {
    ++tally_.goodByKind[static_cast<std::size_t>(t.gate->shape.kind)];
    bool faulted = false;
    for (const jynsim::RequestRecord& r : t.own) faulted = faulted || Spoilt(r);
    if (faulted) ++tally_[kRecovered];
    if (!t.write) {
        if (t.own.empty()) ++tally_[kReadAheadReads];
        const std::vector<uint8_t> expected = Expected(sim, *t.gate);
        if (Holds(t, expected)) return;
        if (HeldWithinTheAge(t)) {
            ++tally_[kServedWithinAge];
        } else if (CarriedByUnseenNoise(t)) {
            ++tally_[kUnseenNoiseValues];
        } else {
            ++tally_[kWrongValues];
            const std::string what = "wrong value reported as good; the PLC holds " +
                                     Hex(expected.data(), expected.size());
            Report(what.c_str(), t, messages, &sim);
        }
        return;
    }
    if (!Landed(sim, *t.gate, t.values->Data())) {
        if (CarriedByUnseenNoise(t)) {
            ++tally_[kUnseenNoiseWrites];
        } else {
            ++tally_[kNotLanded];
            Report("write reported good that did not land", t, messages, &sim);
        }
    }
    uint64_t applied = 0;
    for (const jynsim::RequestRecord& r : t.own) applied += r.write && r.carried_out ? 1 : 0;
    if (applied > 1) {
        ++tally_[kReapplied];
        tally_[kExtraApplications] += applied - 1;
    }
}

// A failure is real when a fault hit one of the transaction's requests or
// the station refused one itself.
void Judge::Failed(jynharness::Transaction& t, const Messages& messages) {
    bool fault = false;
    bool refused = false;
    bool landed = false;
    for (const jynsim::RequestRecord& r : t.own) {
        fault = fault || Spoilt(r);
        refused = refused || (r.nak_code && !r.fault);
        landed = landed || (r.write && r.carried_out);
    }
    if (landed) ++tally_[kFailedWritesLanded];
    if (fault) {
        ++tally_[kFailedByFault];
    } else if (behaviourWake_ > 0) {
        ++tally_[kFailedInWake];
    } else if (refused) {
        ++tally_[kFailedByPlc];
        Report("refused by the station (a gate outside its ranges?)", t, messages);
    } else {
        ++tally_[kUnexplained];
        Report("failure without a fault", t, messages);
    }
}

void Judge::ChangeBehindTheDriver(jynsim::Simulator& sim, const std::vector<Gate>& gates,
                                  jynsim::SplitMix& rng) {
    former_.resize(gates.size());
    std::vector<std::vector<uint8_t>> before;
    for (const Gate& gate : gates) before.push_back(Expected(sim, gate));
    Randomize(sim, gates[rng.Next() % gates.size()], rng);
    const auto now = std::chrono::steady_clock::now();
    const auto forgotten = now - std::chrono::milliseconds(readAheadMs_ + 1000);
    for (std::size_t i = 0; i < gates.size(); ++i) {
        std::vector<FormerValue>& former = former_[i];
        while (!former.empty() && former.front().replaced < forgotten) former.erase(former.begin());
        if (Expected(sim, gates[i]) != before[i]) former.push_back({before[i], now});
    }
}

// The value was the PLC's until a change the soak made behind the driver's
// back, no longer before the read began than the age: a block may hold it.
bool Judge::HeldWithinTheAge(const jynharness::Transaction& t) const {
    if (readAheadMs_ == 0 || t.index >= former_.size()) return false;
    const auto oldest = t.begin - std::chrono::milliseconds(readAheadMs_);
    for (const FormerValue& former : former_[t.index]) {
        if (former.replaced >= oldest && Holds(t, former.bytes)) return true;
    }
    return false;
}

void Judge::KeepTraffic(jynsim::Simulator& sim) {
    lastTraffic_.push_back(sim.TrafficLines());
    if (lastTraffic_.size() > 3) lastTraffic_.pop_front();
}

void Judge::Report(const char* what, const jynharness::Transaction& t, const Messages& messages,
                   jynsim::Simulator* sim) const {
    std::lock_guard<std::mutex> lock(g_print);
    if (++g_reports > 20 && !verbose_) return;
    const std::string line = line_ < 0 ? "" : "line " + std::to_string(line_) + ": ";
    std::printf("--- %s%s: %s %s, result %d, data %s\n", line.c_str(), what,
                t.write ? "write" : "read", t.gate->text.c_str(), t.result,
                Hex(t.values->Data(), t.values->Owned()).c_str());
    for (const jynsim::RequestRecord& r : t.own) {
        std::printf("    request %llu %s points %u%s%s reply %s\n",
                    static_cast<unsigned long long>(r.seq), r.command.c_str(), r.points,
                    r.carried_out ? " carried out" : "",
                    r.fault ? (std::string(" fault ") + jynsim::FaultName(*r.fault)).c_str() : "",
                    jynsim::Printable(r.reply).c_str());
    }
    for (const jynhost::DriverMessage& message : messages)
        std::printf("    [%d] %s\n", message.level, message.text.c_str());
    if (sim == nullptr) return;
    for (const std::vector<std::string>& lines : lastTraffic_) {
        std::printf("    the line during a transaction before:\n");
        for (const std::string& text : lines) std::printf("    %s\n", text.c_str());
    }
    std::printf("    the line during this one:\n");
    for (const std::string& text : sim->TrafficLines()) std::printf("    %s\n", text.c_str());
}

}  // namespace jynharness
