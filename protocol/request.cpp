#include "protocol/request.h"

#include "protocol/device_field.h"

namespace jyn::protocol {

bool BuildRequest(const CallBlock& block, unsigned char* buffer, uint16_t& length) {
    RequestPlan plan;
    const bool single = IsSingle(block.function, kSingleRead);
    if (!PlanRequest(block, Operation::kRead, single, plan)) return false;
    FinishFrame(buffer, PutHeader(plan, Operation::kRead, buffer), length);
    return true;
}

}  // namespace jyn::protocol
