// Placeholder until the station configuration file reader lands.
#include "driver/handlers.h"

namespace jyn {
void ReadInitFile(CallBlock&) {}
}  // namespace jyn
