// What a read request and a write request have in common: the command
// letter, the head device field in the form the station and the range call
// for, and the point count. Both builders take them from here, so a read and
// a write of the same gate always name the same devices.
#pragma once

#include <cstddef>
#include <cstdint>

#include "address/gate_kind.h"
#include "interface/host_abi.h"

namespace jyn::protocol {

enum class Operation { kRead, kWrite };

struct RequestPlan {
    const GateRequest* request;
    const StationEntry* station;
    address::GateKind kind;
    char command;             // 'B', 'W', 'J' or 'Q'
    char deviceField[24];     // zero-terminated
    std::size_t fieldLength;  // 5 or 7, longer when the number did not fit
    uint32_t points;          // bits or words, as sent in the point count
    uint32_t values;          // values the data characters carry on a block
};

// Checks that the request can be framed at all (a refusal is logged at
// level 32 with the address text and gives false) and fills `plan`. A field
// that came out longer than its form is logged as out of range and kept:
// the PLC refuses it with a NAK.
// `single` is true for the single services (codes 5 and 7), whose point
// count the host gives as 1.
bool PlanRequest(const CallBlock& block, Operation operation, bool single, RequestPlan& plan);

// Whether a transfer of `points` (bits with `bitUnits`, words otherwise)
// from `device`, the number as the line carries it, of the device `memType`
// takes the extended commands and field on this station. An unknown device
// counts as extended.
bool TakesExtendedForm(const StationEntry& station, int32_t memType, bool bitUnits, int64_t device,
                       uint32_t points);

// ENQ, station, PC number, command, `operation` letter, message wait, device
// field, point count. Returns the number of characters written.
std::size_t PutHeader(const RequestPlan& plan, Operation operation, unsigned char* buffer);

// Appends the sum check over everything after the ENQ and the terminator.
void FinishFrame(unsigned char* buffer, std::size_t end, uint16_t& length);

}  // namespace jyn::protocol
