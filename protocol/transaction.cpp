// Placeholder until the transactions land.
#include "driver/handlers.h"

namespace jyn {
int32_t SingleRead(CallBlock&) { return kDriverFailure; }
int32_t BlockRead(CallBlock&) { return kDriverFailure; }
int32_t SingleWrite(CallBlock&) { return kDriverFailure; }
int32_t BlockWrite(CallBlock&) { return kDriverFailure; }
}  // namespace jyn
