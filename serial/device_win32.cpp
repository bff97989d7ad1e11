// Serial devices on Windows, the host's platform: synchronous Win32 serial
// communications on a handle opened with share mode 0.
#include <windows.h>

#include <cstring>

#include "serial/device.h"

namespace jyn::device {

namespace {

static_assert(sizeof(DCB) <= sizeof(LineSettings::native), "DCB must fit");

HANDLE Win(Handle handle) { return static_cast<HANDLE>(handle); }

}  // namespace

bool Open(const char* name, Handle& out) {
    const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        out = nullptr;
        return false;
    }
    out = handle;
    return true;
}

bool Close(Handle handle) { return handle != nullptr && CloseHandle(Win(handle)) != FALSE; }

// The handle is the system's own, with nothing kept beside it; closing it
// again could close another object that got the same value meanwhile.
void Abandon(Handle) {}

bool GetLineSettings(Handle handle, LineSettings& settings) {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (handle == nullptr || !GetCommState(Win(handle), &dcb)) return false;
    settings.baudRate = dcb.BaudRate;
    settings.binary = dcb.fBinary != 0;
    settings.parityCheck = dcb.fParity != 0;
    settings.outxCtsFlow = dcb.fOutxCtsFlow != 0;
    settings.outxDsrFlow = dcb.fOutxDsrFlow != 0;
    settings.dtrControl = static_cast<ControlMode>(dcb.fDtrControl);
    settings.dsrSensitivity = dcb.fDsrSensitivity != 0;
    settings.outX = dcb.fOutX != 0;
    settings.inX = dcb.fInX != 0;
    settings.errorCharReplace = dcb.fErrorChar != 0;
    settings.nullStrip = dcb.fNull != 0;
    settings.rtsControl = static_cast<ControlMode>(dcb.fRtsControl);
    settings.abortOnError = dcb.fAbortOnError != 0;
    settings.byteSize = dcb.ByteSize;
    settings.parity = dcb.Parity;
    settings.stopBits = dcb.StopBits;
    settings.errorChar = static_cast<uint8_t>(dcb.ErrorChar);
    std::memcpy(settings.native, &dcb, sizeof dcb);
    return true;
}

// Every field not named here (fTXContinueOnXoff, XonLim, XoffLim, XonChar,
// XoffChar, EofChar, EvtChar) goes back as the device reported it.
bool SetLineSettings(Handle handle, const LineSettings& settings) {
    DCB dcb;
    std::memcpy(&dcb, settings.native, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = settings.baudRate;
    dcb.fBinary = settings.binary;
    dcb.fParity = settings.parityCheck;
    dcb.fOutxCtsFlow = settings.outxCtsFlow;
    dcb.fOutxDsrFlow = settings.outxDsrFlow;
    dcb.fDtrControl = settings.dtrControl;
    dcb.fDsrSensitivity = settings.dsrSensitivity;
    dcb.fOutX = settings.outX;
    dcb.fInX = settings.inX;
    dcb.fErrorChar = settings.errorCharReplace;
    dcb.fNull = settings.nullStrip;
    dcb.fRtsControl = settings.rtsControl;
    dcb.fAbortOnError = settings.abortOnError;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    dcb.ErrorChar = static_cast<char>(settings.errorChar);
    return handle != nullptr && SetCommState(Win(handle), &dcb) != FALSE;
}

bool GetTimeouts(Handle handle, Timeouts& timeouts) {
    COMMTIMEOUTS native;
    if (handle == nullptr || !GetCommTimeouts(Win(handle), &native)) return false;
    timeouts.readInterval = native.ReadIntervalTimeout;
    timeouts.readTotalMultiplier = native.ReadTotalTimeoutMultiplier;
    timeouts.readTotalConstant = native.ReadTotalTimeoutConstant;
    timeouts.writeTotalMultiplier = native.WriteTotalTimeoutMultiplier;
    timeouts.writeTotalConstant = native.WriteTotalTimeoutConstant;
    return true;
}

bool SetTimeouts(Handle handle, const Timeouts& timeouts) {
    COMMTIMEOUTS native;
    native.ReadIntervalTimeout = timeouts.readInterval;
    native.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    native.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    native.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    native.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    return handle != nullptr && SetCommTimeouts(Win(handle), &native) != FALSE;
}

bool SetupQueues(Handle handle, uint32_t inputSize, uint32_t outputSize) {
    return handle != nullptr && SetupComm(Win(handle), inputSize, outputSize) != FALSE;
}

bool ClearErrors(Handle handle, uint32_t& queuedInput) {
    queuedInput = 0;
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    if (handle == nullptr || !ClearCommError(Win(handle), &errors, &status)) return false;
    queuedInput = status.cbInQue;
    return true;
}

bool Read(Handle handle, void* buffer, uint32_t count, uint32_t& got) {
    DWORD done = 0;
    got = 0;
    if (handle == nullptr || !ReadFile(Win(handle), buffer, count, &done, nullptr)) return false;
    got = done;
    return true;
}

bool Write(Handle handle, const void* buffer, uint32_t count, uint32_t& written) {
    DWORD done = 0;
    written = 0;
    if (handle == nullptr || !WriteFile(Win(handle), buffer, count, &done, nullptr)) return false;
    written = done;
    return true;
}

unsigned HandleNumber(Handle handle) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle));
}

uint64_t MonotonicMs() { return GetTickCount64(); }

}  // namespace jyn::device
