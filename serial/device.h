// The platform calls the port operations are written over. One file per
// platform implements them (device_posix.cpp, device_win32.cpp); unit tests
// link a scripted fake instead. The calls mirror the Win32 serial calls the
// host platform offers, so the port logic reads the same on every platform.
#pragma once

#include <cstdint>

namespace jyn::device {

using Handle = void*;  // what DriverContext.port holds; null means none

// Modes of the DTR and RTS output lines (the Win32 DCB codes).
enum ControlMode : uint8_t {
    kLineDisable = 0,
    kLineEnable = 1,
    kLineHandshake = 2,
    kLineToggle = 3,  // RTS only: on while sending (RS-485 direction control)
};

// The device's line settings. The named fields are the ones the driver sets;
// `native` keeps the platform's own record as the device reported it, so that
// every field the driver does not set is written back unchanged.
struct LineSettings {
    uint32_t baudRate = 0;
    bool binary = false;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    ControlMode dtrControl = kLineDisable;
    bool dsrSensitivity = false;
    bool outX = false;
    bool inX = false;
    bool errorCharReplace = false;
    bool nullStrip = false;
    ControlMode rtsControl = kLineDisable;
    bool abortOnError = false;
    uint8_t byteSize = 8;
    uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    uint8_t errorChar = 0;
    alignas(8) unsigned char native[128] = {};
};

// Time-outs in milliseconds. A read of n bytes returns when n bytes have
// arrived or when readTotalConstant has passed since it began, with what has
// arrived by then. 0 in the write fields means: writes have no time-out.
struct Timeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

// Opens the device by name for reading and writing, exclusively: a second
// open of a device that is already open fails. `name` is zero-terminated.
bool Open(const char* name, Handle& out);
bool Close(Handle handle);
// A handle nobody will close again (its Close failed, or its descriptor is
// known to be gone): what this layer keeps for it is freed, and the device
// is not touched.
void Abandon(Handle handle);

bool GetLineSettings(Handle handle, LineSettings& settings);
bool SetLineSettings(Handle handle, const LineSettings& settings);
bool GetTimeouts(Handle handle, Timeouts& timeouts);
bool SetTimeouts(Handle handle, const Timeouts& timeouts);
bool SetupQueues(Handle handle, uint32_t inputSize, uint32_t outputSize);

// Clears the device's error state and reports the bytes waiting to be read.
bool ClearErrors(Handle handle, uint32_t& queuedInput);

// Reads up to `count` bytes under the time-outs; `got` says how many came.
bool Read(Handle handle, void* buffer, uint32_t count, uint32_t& got);
// Writes `count` bytes; `written` says how many went out.
bool Write(Handle handle, const void* buffer, uint32_t count, uint32_t& written);

// The number a person sees for the handle in the log.
unsigned HandleNumber(Handle handle);

// Milliseconds of a clock that never goes back: what the waits between
// transactions (settling the line, resting a dead station) are measured on.
uint64_t MonotonicMs();

}  // namespace jyn::device
