// How each transfer of a line is judged against its simulator's truth.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "host/client/records.h"
#include "multiline/soak_line.h"
#include "harness/guarded_values.h"

namespace jynmulti {

namespace {

// Lower case and extra bytes after an ACK spoil nothing: a transaction they
// hit must still succeed.
bool Harmless(jynsim::FaultKind kind) {
    return kind == jynsim::FaultKind::kLowerCase || kind == jynsim::FaultKind::kExtraAfterAck;
}

// The driver's last word on a failed transfer names the gate.
std::string FailureText(const jynharness::Gate& gate, bool write, int32_t result) {
    const bool block = gate.shape.block > 0;
    const char* format = write ? (block ? "JYNMB> BlockWrite() , ret val is %d ('%s')"
                                        : "JYNMB> SingleWrite() , ret val is %d ('%s')")
                               : (block ? "JYNMB> BlockRead(), ret val is %d ('%s')"
                                        : "JYNMB> Single Read() , ret val is %d ('%s')");
    char text[128];
    std::snprintf(text, sizeof text, format, result, gate.text.c_str());
    return text;
}

std::mutex g_print;
int g_reports = 0;

}  // namespace

void SoakLine::Transact(RunControl& control, ThreadMessages& messages) {
    std::size_t index = rng_.Next() % gates_.size();
    if (index == previousGate_) index = (index + 1) % gates_.size();  // never the same twice
    previousGate_ = index;
    Transaction t;
    t.gate = &gates_[index];
    t.write = (rng_.Next() & 1) != 0;
    jynharness::GuardedValues values(OwnedBytes(*t.gate, t.write), static_cast<uint8_t>(rng_.Next()));
    t.values = &values;
    if (t.write) NewWriteData(Sim(), *t.gate, rng_, values.Data());
    t.sent.assign(values.Data(), values.Data() + values.Owned());
    messages.Take();
    Transfer(t, control);
    if (!vanished_) Sort(t);
    Judge(t, messages, vanished_);
    if (t.result == jyn::kOk && control.Vanished() && role_ != Role::kVanishing)
        ++tally_.goodAfterVanish;
}

void SoakLine::Transfer(Transaction& t, RunControl& control) {
    jyn::GateRequest request = jynhost::MakeGateRequest(t.gate->text.c_str(), t.gate->address,
                                                        t.gate->shape.block, t.values->Data());
    const uint32_t code = jynhost::TransferFunction(t.gate->shape.block, t.write);
    Overlap::Scope inside(control.Inside());
    t.result = Call(code, &request);
}

// The simulator's records since the last look, told apart by station,
// direction and first device: a line never moves the same gate twice in a
// row. Anything else is a request this line did not send.
void SoakLine::Sort(Transaction& t) {
    Plant& plant = plants_[current_];
    const auto records = plant.line->Sim().WithEngine([&plant](jynsim::LineEngine& engine) {
        std::vector<jynsim::RequestRecord> out;
        const auto& all = engine.Records();
        for (auto it = all.rbegin(); it != all.rend() && it->seq > plant.lastSeq; ++it)
            out.insert(out.begin(), *it);
        if (!out.empty()) plant.lastSeq = out.back().seq;
        return out;
    });
    const auto matches = [](const jynsim::RequestRecord& r, const jynharness::Gate* gate,
                            bool write) {
        return gate != nullptr && r.station == gate->station.station && r.write == write &&
               r.device && *r.device == FirstDevice(*gate);
    };
    for (const jynsim::RequestRecord& record : records) {
        if (matches(record, t.gate, t.write)) {
            t.own.push_back(record);
        } else if (matches(record, plant.previous, plant.previousWrite)) {
            ++tally_.late;
        } else if (t.gate != nullptr && record.station == t.gate->station.station &&
                   !record.write && record.command.size() == 2 && record.command[1] == 'R') {
            // A read the driver chose itself (to resynchronise with the
            // station): it changes nothing, and its faults explain a failure.
            ++tally_.extraReads;
            t.own.push_back(record);
        } else {
            ++tally_.stray;
        }
    }
    plant.previous = t.gate;
    plant.previousWrite = t.write;
}

void SoakLine::Judge(Transaction& t, const ThreadMessages& messages, bool portGone) {
    ++tally_.transactions;
    ++tally_.results[static_cast<std::size_t>(t.result) % 3];
    if (BufferDamaged(t)) {
        ++tally_.bufferDamage;
        Report("value buffer touched outside the gate's bytes", t, messages);
    }
    if (portGone) {
        if (tally_.afterOwnVanish++ == 0) firstGone_ = messages.Kept();
        if (!FailedAsTheDriver(t, messages)) {
            ++tally_.badPortFailures;
            Report("a transfer on the vanished port did not fail with 2 and its message", t,
                   messages);
        }
        return;
    }
    for (const jynsim::RequestRecord& r : t.own) {
        if (r.fault) ++tally_.faultsMet[static_cast<std::size_t>(*r.fault)];
    }
    if (t.result == jyn::kOk) {
        JudgeGood(t, messages);
    } else if (t.result == jyn::kGateFailure || t.result == jyn::kDriverFailure) {
        JudgeFailed(t, messages);
    } else {
        ++tally_.unexplained;
        Report("result outside 0..2", t, messages);
    }
}

bool SoakLine::BufferDamaged(Transaction& t) const {
    const uint8_t* values = t.values->Data();
    bool damaged = !t.values->GuardsIntact();
    if (IsSingleWordOrBit(*t.gate))
        damaged = damaged || values[0] != t.values->Fill() || values[1] != t.values->Fill();
    if (t.write) damaged = damaged || std::memcmp(values, t.sent.data(), t.sent.size()) != 0;
    return damaged;
}

void SoakLine::JudgeGood(Transaction& t, const ThreadMessages& messages) {
    bool faulted = false;
    for (const jynsim::RequestRecord& r : t.own)
        faulted = faulted || (r.fault && !Harmless(*r.fault));
    if (faulted) ++tally_.recovered;
    if (!t.write) {
        const std::vector<uint8_t> expected = Expected(Sim(), *t.gate);
        const std::size_t at = IsSingleWordOrBit(*t.gate) ? 2 : 0;
        if (std::memcmp(t.values->Data() + at, expected.data(), expected.size()) != 0) {
            ++tally_.wrongValues;
            Report(("wrong value reported as good; the PLC holds " +
                    jynharness::Hex(expected.data(), expected.size()))
                       .c_str(),
                   t, messages);
        }
        return;
    }
    if (!Landed(Sim(), *t.gate, t.values->Data())) {
        ++tally_.notLanded;
        Report("write reported good that did not land", t, messages);
    }
    uint64_t applied = 0;
    for (const jynsim::RequestRecord& r : t.own) applied += r.write && r.carried_out ? 1 : 0;
    if (applied > 1) ++tally_.reapplied;
}

// A failure is real when a fault hit one of the transaction's requests or
// the station refused one itself.
void SoakLine::JudgeFailed(Transaction& t, const ThreadMessages& messages) {
    bool fault = false;
    bool refused = false;
    bool landed = false;
    for (const jynsim::RequestRecord& r : t.own) {
        fault = fault || (r.fault && !Harmless(*r.fault));
        refused = refused || (r.nak_code && !r.fault);
        landed = landed || (r.write && r.carried_out);
    }
    if (landed) ++tally_.failedWritesLanded;
    if (fault) {
        ++tally_.failedByFault;
    } else if (refused) {
        ++tally_.refused;
        Report("refused by the station (a gate outside its ranges?)", t, messages);
    } else {
        ++tally_.unexplained;
        Report("failure without a fault", t, messages);
    }
}

bool SoakLine::FailedAsTheDriver(const Transaction& t, const ThreadMessages& messages) const {
    return t.result == jyn::kDriverFailure && !messages.Kept().empty() &&
           messages.Kept().back().text == FailureText(*t.gate, t.write, jyn::kDriverFailure);
}

void SoakLine::Report(const char* what, const Transaction& t,
                      const ThreadMessages& messages) const {
    std::lock_guard<std::mutex> lock(g_print);
    if (++g_reports > 20 && !options_.verbose) return;
    std::printf("--- line %d: %s: %s %s, result %d, data %s\n", index_, what,
                t.write ? "write" : "read", t.gate->text.c_str(), t.result,
                jynharness::Hex(t.values->Data(), t.values->Owned()).c_str());
    for (const jynsim::RequestRecord& r : t.own) {
        std::printf("    request %llu %s points %u%s%s\n", static_cast<unsigned long long>(r.seq),
                    r.command.c_str(), r.points, r.carried_out ? " carried out" : "",
                    r.fault ? (std::string(" fault ") + jynsim::FaultName(*r.fault)).c_str() : "");
    }
    for (const jynhost::DriverMessage& message : messages.Kept())
        std::printf("    [%d] %s\n", message.level, message.text.c_str());
}

}  // namespace jynmulti
