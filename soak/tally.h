// The figures of a soak run: what was done, what the line threw at the
// driver, what the driver answered, and every answer that was wrong.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "sim/engine.h"
#include "harness/gate_kinds.h"

namespace jynsoak {

constexpr std::size_t kKinds = 6;

struct Tally {
    uint64_t transactions = 0;
    std::array<std::array<uint64_t, 3>, 2> results{};  // [read, write][result 0..2]
    std::array<uint64_t, kKinds> byKind{};
    std::array<uint64_t, kKinds> goodByKind{};
    std::array<uint64_t, jynsim::kFaultKindCount> faultsMet{};  // on the soak's own requests
    uint64_t requests = 0;            // requests the simulator took, retries included
    uint64_t recoveredFromFault = 0;  // result 0 although a fault hit the transaction
    uint64_t failedByFault = 0;       // non-zero, and a fault hit the transaction
    uint64_t failedByPlc = 0;         // non-zero, the station itself refused
    uint64_t reapplied = 0;           // writes that landed more than once (lost ACK, retry)
    uint64_t extraApplications = 0;
    uint64_t failedWritesLanded = 0;  // reported failed, but an attempt was carried out
    uint64_t lateRecords = 0;         // requests of the previous transaction seen late
    uint64_t extraReads = 0;          // reads of the gate's station the soak did not ask for
    // Non-zero, no fault of its own, but a station behaviour (busy, late,
    // dripping) touched it or a transaction just before it.
    uint64_t failedInWake = 0;
    uint64_t noisy = 0;               // transactions whose frames noise hit
    // Noise the 8-bit sum cannot see: two bit errors that leave the sum
    // right. A value or a write the line itself changed, the protocol's limit.
    uint64_t unseenNoiseValues = 0;
    uint64_t unseenNoiseWrites = 0;
    // Read-ahead: a value the PLC held within the age before the read, and
    // changed since behind the driver's back. An older one is a wrong value.
    uint64_t servedWithinAge = 0;
    uint64_t readAheadReads = 0;  // good reads without a request on the line
    uint64_t maxMicros = 0;
    double seconds = 0;

    // Each of these must stay 0.
    uint64_t wrongValues = 0;   // a read returned 0 with another value than the PLC's
    uint64_t notLanded = 0;     // a write returned 0 but the PLC does not hold its data
    uint64_t unexplained = 0;   // a non-zero result without a fault or a refusal
    uint64_t bufferDamage = 0;  // bytes outside the gate's own touched, or a write's changed
    uint64_t strayRecords = 0;  // requests the soak did not ask for
    // Longer than a dripping line may hold a transaction (runs with a drip).
    uint64_t overlong = 0;

    bool Passed() const {
        return transactions > 0 && wrongValues == 0 && notLanded == 0 && unexplained == 0 &&
               bufferDamage == 0 && strayRecords == 0 && overlong == 0;
    }
    void Print(std::FILE* out, const jynsim::LineCounters& line) const;
};

}  // namespace jynsoak
