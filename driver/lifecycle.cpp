// Start-up of an instance and the host's port commands.
#include <cstring>

#include "driver/frame_buffers.h"
#include "driver/handlers.h"
#include "interface/log.h"
#include "serial/port.h"

namespace jyn {

namespace {

constexpr uint16_t kColdStartLineFlags = 0x0303;  // DTR and RTS held on

// Port names arrive in 12-character fields that a careless host may fill
// without a terminator; messages quote this bounded copy.
struct PortName {
    char text[kPortNameSize + 1];
    explicit PortName(const char (&field)[kPortNameSize]) {
        std::memcpy(text, field, kPortNameSize);
        text[kPortNameSize] = '\0';
    }
};

void CopyName(char (&to)[kPortNameSize], const char (&from)[kPortNameSize]) {
    std::memcpy(to, from, kPortNameSize);
}

// A handle that the context no longer names would hold its device until the
// process ends; a new open that succeeded replaces it for good.
void ReplacePort(DriverContext& context, serial::Handle handle) {
    if (context.port != nullptr && context.port != handle) serial::ClosePort(context.port);
    context.port = handle;
}

// A second ColdStart starts from scratch: the buffers and the port of the
// first are given back, not left to nobody.
// A buffer left by a start that failed half-way is given back as well.
void ReleaseEarlierStart(DriverContext& context) {
    if (IsStarted(context) && context.port != nullptr) {
        serial::ClosePort(context.port);
        context.port = nullptr;
    }
    ReleaseFrameBuffer(context.sendBuffer);
    ReleaseFrameBuffer(context.receiveBuffer);
}

void FillDefaultStations(DriverContext& context) {
    for (std::size_t i = 0; i < kStationCount; ++i) {
        context.stationTable[i] = {static_cast<uint8_t>(i), 0xFF, kCpuA};
    }
}

}  // namespace

int32_t ColdStart(CallBlock& block) {
    DriverContext& context = *block.context;
    const auto& params = *static_cast<const ColdStartParams*>(block.params);

    LogInfo("JYNMB> version compiled on %s at time %s", __DATE__, __TIME__);
    ReleaseEarlierStart(context);

    context.sendBuffer = AllocateFrameBuffer(true);
    context.sendLength = 0;
    if (context.sendBuffer == nullptr) {
        LogError("JYNMB> ColdStart() Unable to allocate memory for send buffer");
        return kDriverFailure;
    }
    context.receiveBuffer = AllocateFrameBuffer();
    context.receiveLength = 0;
    if (context.receiveBuffer == nullptr) {
        LogError("JYNMB> ColdStart() Unable to allocate memory for receive buffer");
        return kDriverFailure;
    }
    context.replyTimeout = params.replyTimeout;
    context.port = nullptr;
    FillDefaultStations(context);
    StationFileOptions options;
    ReadInitFile(block, options);
    LineStateOf(context)->restSeconds = options.offlineSeconds;

    PortSettings& settings = context.portSettings;
    CopyName(settings.name, params.portName);
    settings.baudRate = params.baudRate;
    settings.dataBits = params.dataBits;
    settings.stopBits = params.stopBits;
    settings.parity = params.parity;
    settings.lineFlags = kColdStartLineFlags;

    if (params.openNow != 0) {
        const PortName name(settings.name);
        const serial::Handle handle = serial::OpenCom(settings);
        if (handle == nullptr) {
            LogError("JYNMB> ColdStart() unable to open %s port", name.text);
            return kGateFailure;
        }
        LogError("JYNMB> ColdStart() port %s opened, file handle %u", name.text,
                 device::HandleNumber(handle));
        context.port = handle;
        serial::SetReplyTimeout(handle, params.replyTimeout);
    }
    LogInfo("JYNMB> ColdStart() exited, 0");
    return kOk;
}

int32_t WarmStart(CallBlock& block) {
    LogInfo("JYNMB> WarmStart() station %u", *static_cast<const uint32_t*>(block.params));
    return kOk;
}

int32_t CloseCom(CallBlock& block) {
    DriverContext& context = *block.context;
    if (context.port != nullptr) {
        if (serial::ClosePort(context.port) != serial::kPortOk) {
            LogError("JYNMB> CloseCom() exited 2");
            return kDriverFailure;
        }
        context.port = nullptr;
    }
    LogInfo("JYNMB> CloseCom() exited 0");
    return kOk;
}

int32_t ReOpenCom(CallBlock& block) {
    DriverContext& context = *block.context;
    const serial::Handle handle = serial::OpenCom(context.portSettings);
    if (handle == nullptr) {
        LogError("JYNMB> ReOpenCom() exited 2");
        return kDriverFailure;
    }
    ReplacePort(context, handle);
    LineStateOf(context)->WakeAll();
    LogInfo("JYNMB> ReOpenCom() exited 0");
    return kOk;
}

int32_t ChangeJynParams(CallBlock& block) {
    DriverContext& context = *block.context;
    const auto& params = *static_cast<const PortChangeParams*>(block.params);
    PortSettings& settings = context.portSettings;

    // 0 and -1 keep the time-out; so does any other negative number, which
    // would otherwise become a wait of weeks.
    if (params.replyTimeout > 0) context.replyTimeout = static_cast<uint32_t>(params.replyTimeout);
    if (std::strncmp(params.portName, settings.name, kPortNameSize) != 0 &&
        context.port != nullptr) {
        CloseCom(block);
    }
    CopyName(settings.name, params.portName);
    if (params.baudRate != 0) {
        settings.baudRate = params.baudRate;
        settings.dataBits = params.dataBits;
        settings.stopBits = params.stopBits;
        settings.parity = params.parity;
    }
    const serial::Handle handle = serial::OpenCom(settings);
    if (handle == nullptr) {
        LogError("JYNMB> ChangeJynParams() exited 2");
        return kDriverFailure;
    }
    ReplacePort(context, handle);
    LineStateOf(context)->WakeAll();
    serial::SetReplyTimeout(handle, context.replyTimeout);
    LogInfo("JYNMB> ChangeJynParams() exited 0");
    return kOk;
}

}  // namespace jyn
