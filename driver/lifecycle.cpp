// Start-up of an instance and the host's port commands.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "driver/handlers.h"
#include "driver/lines.h"
#include "interface/log.h"
#include "interface/trace_record.h"
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

// A handle that the line no longer names would hold its device until the
// process ends; a new open that succeeded replaces it for good, even when
// its close fails (nothing will close it again).
void ReplacePort(protocol::Line& line, serial::Handle handle) {
    if (line.port != nullptr && line.port != handle) serial::ReleaseReplacedPort(line.port, handle);
    line.Opened(handle);
}

// A second ColdStart starts from scratch: the buffers and the port of the
// first are given back, not left to nobody.
// A buffer left by a start that failed half-way is given back as well.
void ReleaseEarlierStart(DriverContext& context) {
    const bool started = IsStarted(context);
    std::unique_ptr<protocol::Line> line = TakeLine(context);
    if (started && line->port != nullptr) {
        serial::ReleasePort(line->port);
        context.port = nullptr;
    }
}

const char* ParityName(uint16_t parity) {
    static const char* const kNames[] = {"no parity", "odd parity", "even parity", "mark parity",
                                         "space parity"};
    return (parity & 0xFFu) < 5 ? kNames[parity & 0xFFu] : "parity code ?";
}

const char* StopBitsName(uint16_t stopBits) {
    static const char* const kNames[] = {"1 stop bit", "1.5 stop bits", "2 stop bits"};
    return (stopBits & 0xFFu) < 3 ? kNames[stopBits & 0xFFu] : "stop-bit code ?";
}

// The reply time-out as the port runs it: at least 1 ms, and a number of
// units too large for 32 bits of milliseconds at the longest wait there is.
unsigned long long PortTimeoutMs(uint32_t units) {
    const unsigned long long ms = units * 10ull;
    return ms < 1 ? 1 : ms > 0xFFFFFFFEull ? 0xFFFFFFFEull : ms;
}

// What every file of a trace begins with: who wrote it and the line it is of.
std::string TraceHeader(const protocol::Line& line, uint32_t instance) {
    const PortSettings& settings = line.settings;
    const PortName name(settings.name);
    return TraceHeaderText({JYN_VERSION, instance, name.text, unsigned{settings.baudRate},
                            unsigned{settings.dataBits & 0xFFu}, ParityName(settings.parity),
                            StopBitsName(settings.stopBits), PortTimeoutMs(line.replyTimeout)});
}

// A port command in the trace, between transactions.
void TracePort(const protocol::Line& line, const std::string& what) {
    Trace* trace = line.trace.get();
    if (trace == nullptr) return;
    trace->Record(RecordKind::kPort, what);
    trace->Flush();
}

// TRACE = path in the station file. A file that cannot be written, or that
// another instance writes already, costs the instance its trace and
// nothing else.
void OpenTrace(protocol::Line& line, uint32_t instance, const StationFileOptions& options) {
    if (!options.traced) return;
    Trace::OpenResult result = Trace::OpenResult::kOpened;
    std::unique_ptr<Trace> trace = Trace::Open(options.trace, result);
    const char* path = options.trace.path.c_str();
    if (result == Trace::OpenResult::kInUse) {
        LogError("JYNMB> ColdStart() trace '%s' is written by another instance, no trace", path);
        return;
    }
    if (trace == nullptr) {
        LogError("JYNMB> ColdStart() trace '%s' cannot be opened, no trace", path);
        return;
    }
    LogInfo("JYNMB> ColdStart() trace to '%s'", path);
    trace->SetHeader(TraceHeader(line, instance));
    trace->Flush();
    line.trace = std::move(trace);
}

void FillDefaultStations(DriverContext& context) {
    for (std::size_t i = 0; i < kStationCount; ++i) {
        context.stationTable[i] = {static_cast<uint8_t>(i), 0xFF, kCpuA};
    }
}

// The two frame buffers of a new line, with ColdStart's messages when one
// cannot be had.
protocol::Line* StartLine(DriverContext& context) {
    protocol::Line* line = NewLine();
    context.sendBuffer = line != nullptr ? line->sendBuffer : nullptr;
    context.sendLength = 0;
    if (line == nullptr) {
        LogError("JYNMB> ColdStart() Unable to allocate memory for send buffer");
        return nullptr;
    }
    const bool received = AllocateReceiveBuffer(*line);
    line->PublishBuffers(context);
    if (!received) {
        LogError("JYNMB> ColdStart() Unable to allocate memory for receive buffer");
        return nullptr;
    }
    return line;
}

void TakeSettings(PortSettings& settings, const ColdStartParams& params) {
    CopyName(settings.name, params.portName);
    settings.baudRate = params.baudRate;
    settings.dataBits = params.dataBits;
    settings.stopBits = params.stopBits;
    settings.parity = params.parity;
    settings.lineFlags = kColdStartLineFlags;
}

// ColdStart's open, when the host asks for it: 1 when the port cannot be
// opened.
int32_t OpenAtStart(protocol::Line& line) {
    const PortName name(line.settings.name);
    const serial::Handle handle = serial::OpenCom(line.settings);
    if (handle == nullptr) {
        LogError("JYNMB> ColdStart() unable to open %s port", name.text);
        TracePort(line, std::string(name.text) + " cannot be opened");
        return kGateFailure;
    }
    LogError("JYNMB> ColdStart() port %s opened, file handle %u", name.text,
             device::HandleNumber(handle));
    line.Opened(handle);
    line.ApplyReplyTimeout();
    TracePort(line, std::string(name.text) + " opened");
    return kOk;
}

}  // namespace

int32_t ColdStart(CallBlock& block) {
    DriverContext& context = *block.context;
    const auto& params = *static_cast<const ColdStartParams*>(block.params);

    LogInfo("JYNMB> version compiled on %s at time %s", __DATE__, __TIME__);
    ReleaseEarlierStart(context);
    protocol::Line* line = StartLine(context);
    if (line == nullptr) return kDriverFailure;

    line->replyTimeout = params.replyTimeout;
    line->port = nullptr;
    FillDefaultStations(context);
    StationFileOptions options;
    ReadInitFile(block, options);
    line->restSeconds = options.offlineSeconds;
    if (options.readAhead.ageMs != 0) {
        line->readAhead = std::make_unique<protocol::ReadAheadStore>(options.readAhead);
    }
    TakeSettings(line->settings, params);
    OpenTrace(*line, block.instance, options);

    const int32_t opened = params.openNow != 0 ? OpenAtStart(*line) : kOk;
    line->Publish(context);
    if (opened != kOk) return opened;
    LogInfo("JYNMB> ColdStart() exited, 0");
    return kOk;
}

int32_t WarmStart(CallBlock& block) {
    LogInfo("JYNMB> WarmStart() station %u", *static_cast<const uint32_t*>(block.params));
    return kOk;
}

int32_t CloseLinePort(protocol::Line& line, DriverContext& context) {
    if (line.port != nullptr) {
        if (serial::ClosePort(line.port) != serial::kPortOk) {
            LogError("JYNMB> CloseCom() exited 2");
            return kDriverFailure;
        }
        line.port = nullptr;
        context.port = nullptr;
        line.DropReadAhead();
        TracePort(line, "closed");
    }
    LogInfo("JYNMB> CloseCom() exited 0");
    return kOk;
}

int32_t CloseCom(CallBlock& block) {
    return CloseLinePort(*LineOf(*block.context), *block.context);
}

int32_t ReOpenCom(CallBlock& block) {
    DriverContext& context = *block.context;
    protocol::Line& line = *LineOf(context);
    const serial::Handle handle = serial::OpenCom(line.settings);
    if (handle == nullptr) {
        LogError("JYNMB> ReOpenCom() exited 2");
        TracePort(line, "cannot be reopened");
        return kDriverFailure;
    }
    ReplacePort(line, handle);
    // The open leaves the device's own 1000 ms; the host's reads must keep
    // to the reply time-out it set for the instance.
    line.ApplyReplyTimeout();
    line.Publish(context);
    line.WakeAll();
    TracePort(line, "reopened");
    LogInfo("JYNMB> ReOpenCom() exited 0");
    return kOk;
}

namespace {

// ChangeJynParams' changes to the stored settings: a new time-out, a new
// name (closing the port of another name), new line parameters.
void ChangeSettings(CallBlock& block, protocol::Line& line, const PortChangeParams& params) {
    PortSettings& settings = line.settings;
    // 0 and -1 keep the time-out; so does any other negative number, which
    // would otherwise become a wait of weeks.
    if (params.replyTimeout > 0) line.replyTimeout = static_cast<uint32_t>(params.replyTimeout);
    if (std::strncmp(params.portName, settings.name, kPortNameSize) != 0 && line.port != nullptr) {
        CloseCom(block);
    }
    CopyName(settings.name, params.portName);
    if (params.baudRate != 0) {
        settings.baudRate = params.baudRate;
        settings.dataBits = params.dataBits;
        settings.stopBits = params.stopBits;
        settings.parity = params.parity;
    }
    if (line.trace) line.trace->SetHeader(TraceHeader(line, block.instance));
}

}  // namespace

int32_t ChangeJynParams(CallBlock& block) {
    DriverContext& context = *block.context;
    protocol::Line& line = *LineOf(context);
    ChangeSettings(block, line, *static_cast<const PortChangeParams*>(block.params));
    const serial::Handle handle = serial::OpenCom(line.settings);
    if (handle == nullptr) {
        line.Publish(context);
        LogError("JYNMB> ChangeJynParams() exited 2");
        TracePort(line, "cannot be opened with these settings");
        return kDriverFailure;
    }
    ReplacePort(line, handle);
    line.WakeAll();
    TracePort(line, "opened");
    line.ApplyReplyTimeout();
    line.Publish(context);
    LogInfo("JYNMB> ChangeJynParams() exited 0");
    return kOk;
}

}  // namespace jyn
