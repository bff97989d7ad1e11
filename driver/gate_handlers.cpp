// The gate services of the function-code table: configuring a gate (codes 3
// and 4) and reading or writing it (codes 5, 6, 7 and 10).
#include "address/parse.h"
#include "address/validate.h"
#include "driver/handlers.h"
#include "driver/lines.h"
#include "interface/log.h"
#include "protocol/readahead.h"
#include "protocol/transaction.h"
#include "protocol/transfer_plan.h"

namespace jyn {

namespace {

// The host hands over each gate once, before any transfer, and keeps the
// GateAddress it gets back for every request.
template <typename Validate>
int32_t ConfigureGate(CallBlock& block, Validate validate) {
    auto* gate = static_cast<GateDefinition*>(block.params);
    if (gate == nullptr || address::Parse(*gate) != kOk) return kGateFailure;
    return validate(*gate);
}

// A failed transfer is logged once more with the gate's address text, so the
// host's log says which gate the attempts above were about.
int32_t ReportFailure(const char* format, const CallBlock& block, int32_t result) {
    if (result != kOk) {
        const char* text = static_cast<const GateRequest*>(block.params)->addressText;
        LogInfo(format, result, text != nullptr ? text : "");
    }
    return result;
}

// A read or write on the instance's line: the plan is made once, here,
// and the transaction follows it; a read may be served by the line's
// read-ahead, and a write first drops what the read-ahead holds of it. The host sees the frame
// lengths in its context afterwards.
int32_t Transfer(CallBlock& block, uint32_t function) {
    protocol::Line* line = LineOf(*block.context);
    if (line == nullptr) return kDriverFailure;  // JynMain lets only started instances here
    protocol::TransferPlan plan;
    int32_t result = kGateFailure;
    if (protocol::PlanTransfer(block, function, *line, plan)) {
        if (plan.StoresData()) {
            result = protocol::ReadThroughReadAhead(*line, block, plan);
        } else {
            protocol::DropWrittenBlocks(*line, plan);
            result = protocol::DoWrite(*line, plan);
        }
    }
    line->PublishBuffers(*block.context);
    return result;
}

}  // namespace

int32_t SingleAddressParser(CallBlock& block) {
    return ConfigureGate(block, &address::ValidateSingle);
}

int32_t BlockAddressParser(CallBlock& block) {
    return ConfigureGate(block, &address::ValidateBlock);
}

int32_t SingleRead(CallBlock& block) {
    return ReportFailure("JYNMB> Single Read() , ret val is %d ('%s')", block,
                         Transfer(block, kSingleRead));
}

int32_t BlockRead(CallBlock& block) {
    return ReportFailure("JYNMB> BlockRead(), ret val is %d ('%s')", block,
                         Transfer(block, kBlockRead));
}

int32_t SingleWrite(CallBlock& block) {
    return ReportFailure("JYNMB> SingleWrite() , ret val is %d ('%s')", block,
                         Transfer(block, kSingleWrite));
}

int32_t BlockWrite(CallBlock& block) {
    return ReportFailure("JYNMB> BlockWrite() , ret val is %d ('%s')", block,
                         Transfer(block, kBlockWrite));
}

}  // namespace jyn
