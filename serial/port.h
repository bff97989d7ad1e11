// The COM port: open and configure, close, reply time-out, purge, write and
// read. Every operation blocks the calling thread until the device answers;
// every read is bounded by the port's total read time-out.
#pragma once

#include <cstdint>

#include "interface/host_abi.h"
#include "interface/trace.h"
#include "serial/device.h"

namespace jyn::serial {

using Handle = device::Handle;

enum PortResult : int {
    kPortOk = 0,
    kPortOpenFailed = 1,  // not opened, or its time-outs could not be set
    kPortShortWrite = 2,  // fewer bytes went out than asked
    kPortNoSettings = 4,  // the current settings could not be read
    kPortSettingsRefused = 5,
    kPortCallFailed = 7,  // a read, write or close failed, or a read got nothing
};

// The RTS mode PortSettings.lineFlags chooses (RTS toggle is the RS-485
// direction control a POSIX device has to build itself).
device::ControlMode RtsMode(uint16_t lineFlags);

// Opens and configures the port the settings describe and logs the outcome;
// returns the handle, or null.
Handle OpenCom(const PortSettings& settings);

int OpenPort(const char (&name)[kPortNameSize], uint16_t baudRate, uint16_t dataBits,
             uint16_t stopBits, uint16_t parity, uint16_t lineFlags, Handle& out);
int ClosePort(Handle handle);
// Closes a handle the caller lets go of for good: one whose close fails is
// abandoned, so nothing kept for it outlives the caller's last reference.
void ReleasePort(Handle handle);
// Lets go of the handle a reopen replaced. The system hands out only a
// descriptor (or handle) number that is free, so a replacement that got the
// old handle's number means the old one was closed behind the driver's
// back: closing it would close the replacement. It is abandoned instead.
void ReleaseReplacedPort(Handle old, Handle replacement);

// The total read time-out OpenPort gives a port.
constexpr uint32_t kOpenReadTimeoutMs = 1000;

// The total read time-out a reply time-out of `units` x 10 ms sets.
uint32_t ReplyTimeoutMs(uint32_t units);
// Sets the total read time-out to units x 10 ms; returns the previous one in
// the same units, or 0 on failure.
uint32_t SetReplyTimeout(Handle handle, uint32_t units);
// The same in milliseconds (at least 1): returns the previous time-out in
// milliseconds, or 0 on failure.
uint32_t SetReadTimeoutMs(Handle handle, uint32_t ms);

// How long one character takes on a line with these settings: start bit,
// data bits, parity bit and stop bits, in microseconds (0 without a rate).
uint32_t CharacterMicros(const PortSettings& settings);

// Clears line errors and throws away unread input; 0 or 1. What it throws
// away goes to `trace` when one is given. After its short drain it puts back
// `restoreMs` when given (the time-out the caller knows the port carries),
// else the time-out it found.
int PurgePort(Handle handle, Trace* trace = nullptr, uint32_t restoreMs = 0);

int WritePort(Handle handle, const void* bytes, uint32_t count, uint32_t* written);
int ReadPort(Handle handle, void* buffer, uint16_t count, uint32_t* received);

}  // namespace jyn::serial
