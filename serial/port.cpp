#include "serial/port.h"

#include <cstring>

#include "interface/log.h"

namespace jyn::serial {

namespace {

constexpr uint32_t kQueueSize = 1200;
constexpr uint32_t kPurgeTimeoutUnits = 5;  // 50 ms for draining stale input
// The drain goes on while its reads come back full, which on a real line
// ends by itself: at the driver's rates (57600 baud at most) fewer than 512
// bytes arrive in a 50 ms read, and a full input queue (the kernel's 4 KiB)
// is taken in a few reads that return at once. A device faster than that
// (a USB bridge, a network port, a pseudo-terminal) can keep every read full
// for ever and hold the request behind it. No read is begun once the drain
// has taken this long, so a purge costs at most this plus one 50 ms read;
// an ordinary drain stays far below it and is read exactly as before.
constexpr uint64_t kPurgeLimitMs = 200;
constexpr unsigned char kErrorChar = 0xFC;

constexpr uint32_t kMaxTimeoutMs = 0xFFFFFFFEu;
// A total read time-out of 0 ms, with the other read fields 0 as OpenPort
// leaves them, tells a Win32 port to wait for the bytes however long they
// take: a silent station would hold the host's thread for ever. A reply
// time-out of 0 gets the shortest wait instead, on every platform alike.
constexpr uint32_t kMinTimeoutMs = 1u;

uint32_t UnitsToMs(uint32_t units) {
    const uint64_t ms = static_cast<uint64_t>(units) * 10u;
    if (ms < kMinTimeoutMs) return kMinTimeoutMs;
    return ms > kMaxTimeoutMs ? kMaxTimeoutMs : static_cast<uint32_t>(ms);
}

bool IsTerminated(const char (&name)[kPortNameSize]) {
    return std::memchr(name, '\0', kPortNameSize) != nullptr;
}

device::ControlMode DtrMode(uint16_t lineFlags) {
    if (lineFlags & 0x0101) return device::kLineEnable;
    if (lineFlags & 0x8000) return device::kLineHandshake;
    return device::kLineDisable;
}

void ApplySettings(device::LineSettings& dcb, uint16_t baudRate, uint16_t dataBits,
                   uint16_t stopBits, uint16_t parity, uint16_t lineFlags) {
    dcb.baudRate = baudRate;
    dcb.binary = true;
    dcb.parityCheck = true;
    dcb.outxCtsFlow = false;
    dcb.outxDsrFlow = false;
    dcb.dtrControl = DtrMode(lineFlags);
    dcb.dsrSensitivity = false;
    dcb.outX = false;
    dcb.inX = false;
    dcb.errorCharReplace = false;
    dcb.nullStrip = false;
    dcb.rtsControl = RtsMode(lineFlags);
    dcb.abortOnError = false;
    dcb.byteSize = static_cast<uint8_t>(dataBits);
    dcb.parity = static_cast<uint8_t>(parity);
    dcb.stopBits = static_cast<uint8_t>(stopBits);
    dcb.errorChar = kErrorChar;
}

}  // namespace

device::ControlMode RtsMode(uint16_t lineFlags) {
    if (lineFlags & 0x0202) return device::kLineEnable;
    if (lineFlags & 0x1000) return device::kLineHandshake;
    if (lineFlags & 0x2000) return device::kLineToggle;
    return device::kLineDisable;
}

int OpenPort(const char (&name)[kPortNameSize], uint16_t baudRate, uint16_t dataBits,
             uint16_t stopBits, uint16_t parity, uint16_t lineFlags, Handle& out) {
    out = nullptr;
    // A name that fills the whole field without a terminator names no device.
    if (!IsTerminated(name) || !device::Open(name, out)) {
        out = nullptr;
        return kPortOpenFailed;
    }
    // The null device has no line settings: it stays open as it is.
    if (std::strcmp(name, "NUL") == 0) return kPortOk;

    device::LineSettings dcb;
    if (!device::GetLineSettings(out, dcb)) {
        device::Close(out);
        out = nullptr;
        return kPortNoSettings;
    }
    device::Timeouts timeouts;
    timeouts.readTotalConstant = kOpenReadTimeoutMs;
    if (!device::SetTimeouts(out, timeouts)) {
        device::Close(out);
        out = nullptr;
        return kPortOpenFailed;
    }
    ApplySettings(dcb, baudRate, dataBits, stopBits, parity, lineFlags);
    if (!device::SetLineSettings(out, dcb)) {
        device::Close(out);
        out = nullptr;
        return kPortSettingsRefused;
    }
    device::SetupQueues(out, kQueueSize, kQueueSize);
    return kPortOk;
}

Handle OpenCom(const PortSettings& settings) {
    Handle handle = nullptr;
    if (OpenPort(settings.name, settings.baudRate, settings.dataBits, settings.stopBits,
                 settings.parity, settings.lineFlags, handle) != kPortOk) {
        LogError("JYNMB> OpenCom() exited with error");
        return nullptr;
    }
    LogInfo("JYNMB> OpenCom() exited OK, file handle %u", device::HandleNumber(handle));
    return handle;
}

int ClosePort(Handle handle) { return device::Close(handle) ? kPortOk : kPortCallFailed; }

void ReleasePort(Handle handle) {
    if (ClosePort(handle) != kPortOk) device::Abandon(handle);
}

void ReleaseReplacedPort(Handle old, Handle replacement) {
    if (device::HandleNumber(old) == device::HandleNumber(replacement)) {
        device::Abandon(old);
        return;
    }
    ReleasePort(old);
}

uint32_t ReplyTimeoutMs(uint32_t units) { return UnitsToMs(units); }

uint32_t SetReplyTimeout(Handle handle, uint32_t units) {
    return SetReadTimeoutMs(handle, UnitsToMs(units)) / 10;
}

uint32_t SetReadTimeoutMs(Handle handle, uint32_t ms) {
    device::Timeouts timeouts;
    if (!device::GetTimeouts(handle, timeouts)) return 0;
    const uint32_t previous = timeouts.readTotalConstant;
    const uint32_t wanted = ms < kMinTimeoutMs ? kMinTimeoutMs : ms;
    if (wanted != previous) {
        timeouts.readTotalConstant = wanted;
        if (!device::SetTimeouts(handle, timeouts)) return 0;
    }
    return previous;
}

uint32_t CharacterMicros(const PortSettings& settings) {
    if (settings.baudRate == 0) return 0;
    // Half bits: 1.5 stop bits is stop-bit code 1.
    static const unsigned kStopHalfBits[] = {2, 3, 4};
    const unsigned stop =
        (settings.stopBits & 0xFFu) < 3 ? kStopHalfBits[settings.stopBits & 0xFFu] : 2;
    const unsigned halfBits =
        2u * (1u + (settings.dataBits & 0xFFu) + ((settings.parity & 0xFFu) != 0 ? 1u : 0u)) + stop;
    return static_cast<uint32_t>(500000ull * halfBits / settings.baudRate);
}

int PurgePort(Handle handle, Trace* trace, uint32_t restoreMs) {
    uint32_t queued = 0;
    if (device::ClearErrors(handle, queued) && queued == 0) return 0;

    const uint32_t previous = SetReplyTimeout(handle, kPurgeTimeoutUnits);
    unsigned char scratch[kFrameBufferSize];
    bool ok = true;
    const uint64_t start = device::MonotonicMs();
    for (;;) {
        uint32_t got = 0;
        ok = device::Read(handle, scratch, sizeof scratch, got);
        if (trace != nullptr && got != 0) trace->Drained("purge", scratch, got);
        if (!ok || got != sizeof scratch) break;
        if (device::MonotonicMs() - start >= kPurgeLimitMs) break;
    }
    if (restoreMs != 0) {
        SetReadTimeoutMs(handle, restoreMs);
    } else if (previous != 0) {
        SetReplyTimeout(handle, previous);
    }
    return ok ? 0 : 1;
}

int WritePort(Handle handle, const void* bytes, uint32_t count, uint32_t* written) {
    uint32_t done = 0;
    if (!device::Write(handle, bytes, count, done)) return kPortCallFailed;
    if (written != nullptr) *written = done;
    return done == count ? kPortOk : kPortShortWrite;
}

int ReadPort(Handle handle, void* buffer, uint16_t count, uint32_t* received) {
    if (received != nullptr) *received = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        uint32_t got = 0;
        const uint16_t missing = static_cast<uint16_t>(count - total);
        if (!device::Read(handle, bytes + total, missing, got)) return kPortCallFailed;
        if (got == 0) return kPortCallFailed;
        total += got;
        if (received != nullptr) *received = total;
    }
    return kPortOk;
}

}  // namespace jyn::serial
