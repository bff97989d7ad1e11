#include "protocol/request.h"

#include "protocol/device_field.h"

namespace jyn::protocol {

bool BuildRequest(const CallBlock& block, unsigned char* buffer, uint16_t& length,
                  RequestPlan* planned) {
    RequestPlan plan;
    const bool single = IsSingle(block.function, kSingleRead);
    if (!PlanRequest(block, Operation::kRead, single, plan)) return false;
    FinishFrame(buffer, PutHeader(plan, Operation::kRead, buffer), length);
    if (planned != nullptr) *planned = plan;
    return true;
}

}  // namespace jyn::protocol
