// The shared library's own translation unit. JynMain lives in the static
// jyn_driver library, and a linker takes from a static library only what
// something already linked refers to: this reference pulls it (and the
// whole driver behind it) into RAVEVUD.
#include "interface/host_abi.h"

namespace jyn {
extern "C" JYN_EXPORT int32_t JYN_CALL JynMain(CallBlock* block);
using EntryPoint = int32_t(JYN_CALL*)(CallBlock*);
[[maybe_unused]] EntryPoint g_keepEntryPoint = &JynMain;
}  // namespace jyn
