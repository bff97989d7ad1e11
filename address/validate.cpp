// Placeholder until the address parser lands.
#include "driver/handlers.h"

namespace jyn {
int32_t SingleAddressParser(CallBlock&) { return kDriverFailure; }
int32_t BlockAddressParser(CallBlock&) { return kDriverFailure; }
}  // namespace jyn
