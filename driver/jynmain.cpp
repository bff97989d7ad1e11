// The library's one export and its function-code table.
#include <atomic>
#include <memory>

#include "driver/banner.h"
#include "driver/handlers.h"
#include "driver/lines.h"
#include "interface/baud_rates.h"
#include "interface/host_abi.h"
#include "interface/log.h"

namespace jyn {

namespace {

// One flag for the whole process: ending one instance ends them all. Hosts
// may call different instances from different threads.
std::atomic<bool> g_ended{false};

struct Slot {
    Handler handler;
    bool needsContext;
    bool needsStarted;  // the instance must have been through ColdStart
    bool needsParams;
};

// Indexed by function code; codes 0, 8, 9 and 16 have no service.
const Slot kTable[kFunctionSlots + 1] = {
    {nullptr, false, false, false},
    {&ColdStart, true, false, true},
    {&WarmStart, false, false, true},
    {&SingleAddressParser, false, false, true},
    {&BlockAddressParser, false, false, true},
    {&SingleRead, true, true, true},
    {&BlockRead, true, true, true},
    {&SingleWrite, true, true, true},
    {nullptr, false, false, false},
    {nullptr, false, false, false},
    {&BlockWrite, true, true, true},
    {&EndJyn, false, false, false},
    {&CloseCom, true, true, false},
    {&ReOpenCom, true, true, false},
    {&GetJynInfo, false, false, true},
    {&ChangeJynParams, true, true, true},
    {nullptr, false, false, false},
};

int32_t Dispatch(CallBlock& block) {
    if (block.function == 0 || block.function > kFunctionSlots) return kDriverFailure;
    const Slot& slot = kTable[block.function];
    if (slot.handler == nullptr) return kDriverFailure;
    if ((slot.needsContext && block.context == nullptr) ||
        (slot.needsParams && block.params == nullptr)) {
        LogError("JYNMB> JynMain() function %u called without its record", block.function);
        return kDriverFailure;
    }
    // A context that never went through ColdStart holds no buffers and no
    // port of ours: touching its pointers could crash the host.
    if (slot.needsStarted && !IsStarted(*block.context)) {
        LogError("JYNMB> JynMain() function %u called before ColdStart", block.function);
        return kDriverFailure;
    }
    return slot.handler(block);
}

}  // namespace

bool DriverEnded() { return g_ended.load(); }

int32_t GetJynInfo(CallBlock& block) {
    auto& info = *static_cast<DriverInfo*>(block.params);
    info.infoCode = 70;
    info.name = kDriverName;
    info.banner = kBanner;
    info.contextSize = static_cast<uint32_t>(sizeof(DriverContext));
    info.infoValue = 4;
    info.defaultBaudRate = kDefaultBaudRate;
    info.defaultDataBits = 8;
    info.defaultStopBits = 0;
    info.defaultParity = 0;
    info.infoFlags = 3;
    LogInfo("JYNMB> GetJynInfo() exited");
    return kOk;
}

int32_t EndJyn(CallBlock& block) {
    // The host is ending the driver whatever it passed: no later call may
    // find it still running.
    g_ended.store(true);
    if (block.context == nullptr) {
        LogError("JYNMB> JynMain() function %u called without its record", block.function);
        return kDriverFailure;
    }
    DriverContext& context = *block.context;
    int32_t result = kOk;
    // A port is the line's only once a start got past both buffers; a line
    // left by a start that failed on the receive buffer is given back all
    // the same. The line's trace ends with it, before the port closes.
    const bool started = IsStarted(context);
    std::unique_ptr<protocol::Line> line = TakeLine(context);
    if (line) line->trace.reset();
    if (started) result = CloseLinePort(*line, context);
    LogInfo("JYNMB> EndJyn() exited, %d", result);
    return result;
}

}  // namespace jyn

extern "C" JYN_EXPORT int32_t JYN_CALL JynMain(jyn::CallBlock* block) {
    if (jyn::g_ended.load()) return jyn::kOk;
    if (block == nullptr) return jyn::kDriverFailure;
    return jyn::Dispatch(*block);
}
