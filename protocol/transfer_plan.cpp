#include "protocol/transfer_plan.h"

#include <cstring>

#include "address/gate_kind.h"
#include "protocol/hex.h"
#include "protocol/request.h"
#include "serial/frame.h"

namespace jyn::protocol {

namespace {

constexpr uint16_t kFrameOverhead = 8;  // STX, station, PC number, ETX, sum check

// The data characters of a good read reply, and the kind letter the log
// names the gate by.
uint32_t DataLength(const GateRequest& gate, char& kind) {
    if (address::HasStringMarker(gate.addressText)) {
        kind = 'S';
        return 2u * address::RoundedStringLength(gate.addressText);
    }
    const uint16_t count = static_cast<uint16_t>(gate.count);
    switch (gate.gateAddress.bitWidth) {
        case 8: kind = 'B'; return count;
        case 16: kind = 'W'; return static_cast<uint16_t>(4u * count);
        default:
            // 32-bit values are checked like the others: a short reply would
            // otherwise let stale bytes of an earlier reply pass as values.
            kind = 'D';
            return static_cast<uint16_t>(8u * count);
    }
}

}  // namespace

ExpectedReply ExpectedReplyOf(const GateRequest& gate, Operation operation) {
    ExpectedReply reply;
    if (operation == Operation::kWrite) {
        reply.shape = ReplyShape::kAck;
        reply.length = serial::kAckLength;
        return reply;
    }
    reply.shape = ReplyShape::kData;
    reply.dataLength = DataLength(gate, reply.kind);
    reply.length = static_cast<uint16_t>(kFrameOverhead + reply.dataLength);
    return reply;
}

bool TransferPlan::SameAddress(const unsigned char* frame) const {
    return std::memcmp(frame + 1, address, sizeof address) == 0;
}

bool PlanTransfer(const CallBlock& block, uint32_t function, Line& line, TransferPlan& plan) {
    const bool write = function == kSingleWrite || function == kBlockWrite;
    plan.operation = write ? Operation::kWrite : Operation::kRead;
    RequestPlan request;
    const bool built =
        write ? BuildWriteRequest(block, line.sendBuffer, line.sendLength, function, &request)
              : BuildRequest(block, line.sendBuffer, line.sendLength, &request);
    if (!built) return false;
    plan.function = function;
    plan.gate = request.request;
    plan.station = {request.station->stationNumber, request.station->pcNumber};
    PutHex(reinterpret_cast<unsigned char*>(plan.address), plan.station.station, 2);
    PutHex(reinterpret_cast<unsigned char*>(plan.address) + 2, plan.station.pc, 2);
    plan.command = request.command;
    std::memcpy(plan.deviceField, request.deviceField, sizeof plan.deviceField);
    plan.points = request.points;
    plan.request = line.sendBuffer;
    plan.requestLength = line.sendLength;
    plan.reply = ExpectedReplyOf(*plan.gate, plan.operation);
    return true;
}

}  // namespace jyn::protocol
