#include "soak/tally.h"

namespace jynsoak {

namespace {

void PrintFaults(std::FILE* out, const Tally& tally, const jynsim::LineCounters& line) {
    uint64_t injected = 0;
    for (uint64_t count : line.faults) injected += count;
    std::fprintf(out,
                 "faults injected       %llu (by class: injected on the line / met by the"
                 " soak's transactions)\n",
                 static_cast<unsigned long long>(injected));
    for (std::size_t i = 0; i < jynsim::kFaultKindCount; ++i) {
        std::fprintf(out, "  %-18s %8llu / %llu\n",
                     jynsim::FaultName(static_cast<jynsim::FaultKind>(i)),
                     static_cast<unsigned long long>(line.faults[i]),
                     static_cast<unsigned long long>(tally.faultsMet[i]));
    }
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
                     jynharness::KindName(static_cast<jynharness::Kind>(kind)),
                     static_cast<unsigned long long>(tally.byKind[kind]),
                     static_cast<unsigned long long>(tally.goodByKind[kind]));
    }
}

void Line(std::FILE* out, const char* what, uint64_t value) {
    std::fprintf(out, "%-44s %llu\n", what, static_cast<unsigned long long>(value));
}

}  // namespace

void Tally::Print(std::FILE* out, const jynsim::LineCounters& line) const {
    std::fprintf(out, "=== JYNMB fault soak\n");
    Line(out, "transactions", transactions);
    Line(out, "requests on the line (retries included)", requests);
    std::fprintf(out, "%-44s %.1f s (longest transaction %.1f ms)\n", "run time", seconds,
                 static_cast<double>(maxMicros) / 1000.0);
    PrintFaults(out, *this, line);
    if (line.noise.Hits() > 0) {
        std::fprintf(out, "noise                 %s\n", jynsim::NoiseSummary(line.noise).c_str());
        Line(out, "transactions whose frames noise hit", noisy);
    }
    PrintResults(out, *this);
    Line(out, "good despite a fault in the transaction", recoveredFromFault);
    Line(out, "failed, with faults or noise in the transaction", failedByFault);
    Line(out, "failed, refused by the station itself", failedByPlc);
    if (failedInWake != 0) Line(out, "failed in a station behaviour's wake", failedInWake);
    if (extraReads != 0) Line(out, "reads of the gate's station the driver chose", extraReads);
    Line(out, "writes that landed twice (lost ACK, retried)", reapplied);
    Line(out, "  extra applications of the same value", extraApplications);
    Line(out, "writes reported failed that landed anyway", failedWritesLanded);
    Line(out, "requests of a finished transaction seen late", lateRecords);
    Line(out, "values noise changed, unseen by the sum check", unseenNoiseValues);
    Line(out, "writes noise changed, unseen by the sum check", unseenNoiseWrites);
    if (readAheadReads != 0) {
        Line(out, "reads served by the read-ahead, no request", readAheadReads);
        Line(out, "  values held within the age, changed since", servedWithinAge);
    }
    std::fprintf(out, "--- must be 0\n");
    Line(out, "wrong values reported as good", wrongValues);
    Line(out, "writes reported good that did not land", notLanded);
    Line(out, "failures without a fault or a refusal", unexplained);
    Line(out, "value buffer bytes touched outside the gate's", bufferDamage);
    Line(out, "requests the soak never asked for", strayRecords);
    if (overlong != 0) Line(out, "transactions a dripping line held too long", overlong);
    std::fprintf(out, "=== %s\n", Passed() ? "PASSED" : "FAILED");
}

}  // namespace jynsoak
