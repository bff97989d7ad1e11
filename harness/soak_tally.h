// The figures of a soak, a line's or a whole run's: what was done, what the
// line threw at the driver, what the driver answered, and every answer that
// was wrong.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "harness/gate_kinds.h"
#include "sim/engine.h"

namespace jynharness {

constexpr std::size_t kKinds = 6;

enum Figure : std::size_t {
    kTransactions,
    kRequests,       // requests the simulator took, retries included
    kNoisy,          // transactions whose frames noise hit
    kRecovered,      // result 0 although a fault hit the transaction
    kFailedByFault,  // non-zero, and a fault hit the transaction
    kFailedByPlc,    // non-zero, the station itself refused
    kFailedInWake,   // non-zero, in a station behaviour's wake (busy, late, dripping)
    kExtraReads,     // reads of the gate's station the driver chose itself
    kReapplied,      // writes that landed more than once (lost ACK, retry)
    kExtraApplications,
    kFailedWritesLanded,  // reported failed, but an attempt was carried out
    kLate,                // requests of the previous transaction seen late
    // Noise the 8-bit sum cannot see: a value or a write the line itself
    // changed, the protocol's limit.
    kUnseenNoiseValues,
    kUnseenNoiseWrites,
    kReadAheadReads,   // good reads without a request on the line
    kServedWithinAge,  // a value held within the read-ahead age, changed since
    kPortCommands,
    kGoodAfterVanish,  // good while another line's port had vanished
    kAfterOwnVanish,   // transfers on the line's own vanished port
    // Each of these must stay 0.
    kWrongValues,      // a read returned 0 with another value than the PLC's
    kNotLanded,        // a write returned 0 but the PLC does not hold its data
    kUnexplained,      // a non-zero result without a fault or a refusal
    kBufferDamage,     // bytes outside the gate's own touched, or a write's changed
    kStray,            // requests nobody asked for
    kOverlong,         // longer than a dripping line may hold a transaction
    kBadPortFailures,  // on a closed or vanished port: not 2, or silent
    kBadPortCommands,
    kCounts
};
constexpr std::size_t kFirstMustBeZero = kWrongValues;

using FaultCounts = std::array<uint64_t, jynsim::kFaultKindCount>;

struct Tally {
    std::array<uint64_t, kCounts> n{};
    std::array<std::array<uint64_t, 3>, 2> results{};  // [read, write][result 0..2]
    std::array<uint64_t, kKinds> byKind{};
    std::array<uint64_t, kKinds> goodByKind{};
    FaultCounts faultsMet{};  // on the transactions' own requests
    uint64_t maxMicros = 0;
    double seconds = 0;

    uint64_t& operator[](Figure c) { return n[c]; }
    uint64_t operator[](Figure c) const { return n[c]; }
    Tally& operator+=(const Tally& other);
    uint64_t MustBeZero() const;
    bool Passed() const { return n[kTransactions] > 0 && MustBeZero() == 0; }
    // Injected on the line, and met by the transactions.
    void PrintFaults(std::FILE* out, const FaultCounts& injected) const;
    // The one-line soak's report.
    void Print(std::FILE* out, const jynsim::LineCounters& line) const;
    // The rows every must-be-zero report ends with: the first five always,
    // the others where not 0, unless `all`.
    void PrintMustBeZero(std::FILE* out, bool all) const;
};

}  // namespace jynharness
