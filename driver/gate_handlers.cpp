// The gate services of the function-code table: configuring a gate (codes 3
// and 4) and reading or writing it (codes 5, 6, 7 and 10).
#include "address/parse.h"
#include "address/validate.h"
#include "driver/handlers.h"
#include "interface/log.h"
#include "protocol/transaction.h"

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

}  // namespace

int32_t SingleAddressParser(CallBlock& block) {
    return ConfigureGate(block, &address::ValidateSingle);
}

int32_t BlockAddressParser(CallBlock& block) {
    return ConfigureGate(block, &address::ValidateBlock);
}

int32_t SingleRead(CallBlock& block) {
    return ReportFailure("JYNMB> Single Read() , ret val is %d ('%s')", block,
                         protocol::DoRead(block, kSingleRead));
}

int32_t BlockRead(CallBlock& block) {
    return ReportFailure("JYNMB> BlockRead(), ret val is %d ('%s')", block,
                         protocol::DoRead(block, kBlockRead));
}

int32_t SingleWrite(CallBlock& block) {
    return ReportFailure("JYNMB> SingleWrite() , ret val is %d ('%s')", block,
                         protocol::DoWrite(block, kSingleWrite));
}

int32_t BlockWrite(CallBlock& block) {
    return ReportFailure("JYNMB> BlockWrite() , ret val is %d ('%s')", block,
                         protocol::DoWrite(block, kBlockWrite));
}

}  // namespace jyn
