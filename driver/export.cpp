// The shared library's own translation unit: it keeps the exported entry
// point in the link (JynMain lives in jyn_core).
#include "interface/host_abi.h"

namespace jyn {
extern "C" JYN_EXPORT int32_t JYN_CALL JynMain(CallBlock* block);
using EntryPoint = int32_t(JYN_CALL*)(CallBlock*);
[[maybe_unused]] EntryPoint g_keepEntryPoint = &JynMain;
}  // namespace jyn
