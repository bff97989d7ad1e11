// The lines of all started instances, and how the driver finds an
// instance's line from the context the host hands in.
//
// The one way: the context's send buffer pointer. ColdStart allocates the
// instance's Line with its two frame buffers and writes the buffers'
// addresses into the context; every later call looks the send buffer
// address up among the live lines. A set of live lines is needed because a
// context the host hands in may hold any bytes (a host need not clear it,
// and may call anything before ColdStart): only an address the driver
// handed out itself may be followed, and the lookup tells one from garbage
// without touching the memory it points at.
#pragma once

#include <cstddef>
#include <memory>

#include "interface/host_abi.h"
#include "protocol/line.h"

namespace jyn {

// ColdStart: a new line with its send buffer, registered under it; null
// (nothing kept) when either cannot be allocated.
protocol::Line* NewLine();
// ColdStart: the receive buffer of a new line; false when it cannot be
// allocated (the line stays registered, half started, until it is given
// back).
bool AllocateReceiveBuffer(protocol::Line& line);

// The line the context names, started or not; null for any other context.
protocol::Line* LineOf(const DriverContext& context);
// The context names a line that got both its buffers. The driver follows
// the line's own buffer pointers, never the context's copies.
bool IsStarted(const DriverContext& context);
// Takes the line the context names out of the live set (the caller ends
// it); null for any other context.
std::unique_ptr<protocol::Line> TakeLine(const DriverContext& context);
// Gives back the line the context names; ignores what is not ours.
void ReleaseLine(const DriverContext& context);

// Frame buffers of live lines, in all instances: malloc may hand a released
// buffer's memory out again, so a leak shows in the count only.
std::size_t FrameBufferCount();
bool IsFrameBuffer(const unsigned char* buffer);

// Tests replace the allocator to see how ColdStart handles a failure.
using FrameAllocator = void* (*)(std::size_t size);
void SetFrameAllocator(FrameAllocator allocator);  // null: malloc

}  // namespace jyn
