#include "harness/soak_tally.h"

namespace jynharness {

namespace {

void Row(std::FILE* out, const char* what, uint64_t value) {
    std::fprintf(out, "%-44s %llu\n", what, static_cast<unsigned long long>(value));
}

template <typename Array>
void Add(Array& to, const Array& from) {
    for (std::size_t i = 0; i < to.size(); ++i) to[i] += from[i];
}

void PrintResults(std::FILE* out, const Tally& tally) {
    const char* kOps[] = {"reads", "writes"};
    for (std::size_t op = 0; op < 2; ++op) {
        std::fprintf(out, "%-21s 0: %llu   1: %llu   2: %llu\n", kOps[op],
                     static_cast<unsigned long long>(tally.results[op][0]),
                     static_cast<unsigned long long>(tally.results[op][1]),
                     static_cast<unsigned long long>(tally.results[op][2]));
    }
    for (std::size_t kind = 0; kind < kKinds; ++kind) {
        std::fprintf(out, "  %-18s %8llu transactions, %llu good\n",
                     KindName(static_cast<Kind>(kind)),
                     static_cast<unsigned long long>(tally.byKind[kind]),
                     static_cast<unsigned long long>(tally.goodByKind[kind]));
    }
}

struct Text {
    Figure count;
    const char* what;
    bool always;
};

// The figures after the results, in the order the report gives them.
const Text kFigures[] = {
    {kRecovered, "good despite a fault in the transaction", true},
    {kFailedByFault, "failed, with faults or noise in the transaction", true},
    {kFailedByPlc, "failed, refused by the station itself", true},
    {kFailedInWake, "failed in a station behaviour's wake", false},
    {kExtraReads, "reads of the gate's station the driver chose", false},
    {kReapplied, "writes that landed twice (lost ACK, retried)", true},
    {kExtraApplications, "  extra applications of the same value", true},
    {kFailedWritesLanded, "writes reported failed that landed anyway", true},
    {kLate, "requests of a finished transaction seen late", true},
    {kUnseenNoiseValues, "values noise changed, unseen by the sum check", true},
    {kUnseenNoiseWrites, "writes noise changed, unseen by the sum check", true},
};

const Text kMustBeZero[] = {
    {kWrongValues, "wrong values reported as good", true},
    {kNotLanded, "writes reported good that did not land", true},
    {kUnexplained, "failures without a fault or a refusal", true},
    {kBufferDamage, "value buffer bytes touched outside the gate's", true},
    {kStray, "requests the soak never asked for", true},
    {kOverlong, "transactions a dripping line held too long", false},
    {kBadPortFailures, "closed or vanished port: not 2 with its message", false},
    {kBadPortCommands, "port commands that went wrong", false},
};

}  // namespace

Tally& Tally::operator+=(const Tally& other) {
    Add(n, other.n);
    for (std::size_t op = 0; op < 2; ++op) Add(results[op], other.results[op]);
    Add(byKind, other.byKind);
    Add(goodByKind, other.goodByKind);
    Add(faultsMet, other.faultsMet);
    maxMicros = std::max(maxMicros, other.maxMicros);
    return *this;
}

uint64_t Tally::MustBeZero() const {
    uint64_t sum = 0;
    for (std::size_t c = kFirstMustBeZero; c < kCounts; ++c) sum += n[c];
    return sum;
}

void Tally::PrintMustBeZero(std::FILE* out, bool all) const {
    std::fprintf(out, "--- must be 0\n");
    for (const Text& row : kMustBeZero) {
        if (all || row.always || n[row.count] != 0) Row(out, row.what, n[row.count]);
    }
}

void Tally::PrintFaults(std::FILE* out, const FaultCounts& injected) const {
    uint64_t all = 0;
    for (uint64_t count : injected) all += count;
    std::fprintf(out,
                 "faults injected       %llu (by class: injected on the line / met by the"
                 " soak's transactions)\n",
                 static_cast<unsigned long long>(all));
    for (std::size_t i = 0; i < jynsim::kFaultKindCount; ++i) {
        std::fprintf(out, "  %-18s %8llu / %llu\n",
                     jynsim::FaultName(static_cast<jynsim::FaultKind>(i)),
                     static_cast<unsigned long long>(injected[i]),
                     static_cast<unsigned long long>(faultsMet[i]));
    }
}

void Tally::Print(std::FILE* out, const jynsim::LineCounters& line) const {
    std::fprintf(out, "=== JYNMB fault soak\n");
    Row(out, "transactions", n[kTransactions]);
    Row(out, "requests on the line (retries included)", n[kRequests]);
    std::fprintf(out, "%-44s %.1f s (longest transaction %.1f ms)\n", "run time", seconds,
                 static_cast<double>(maxMicros) / 1000.0);
    PrintFaults(out, line.faults);
    if (line.noise.Hits() > 0) {
        std::fprintf(out, "noise                 %s\n", jynsim::NoiseSummary(line.noise).c_str());
        Row(out, "transactions whose frames noise hit", n[kNoisy]);
    }
    PrintResults(out, *this);
    for (const Text& row : kFigures) {
        if (row.always || n[row.count] != 0) Row(out, row.what, n[row.count]);
    }
    if (n[kReadAheadReads] != 0) {
        Row(out, "reads served by the read-ahead, no request", n[kReadAheadReads]);
        Row(out, "  values held within the age, changed since", n[kServedWithinAge]);
    }
    PrintMustBeZero(out, false);
    std::fprintf(out, "=== %s\n", Passed() ? "PASSED" : "FAILED");
}

}  // namespace jynharness
