// The two 512-byte frame buffers of every started instance are the only
// memory the driver allocates. They are registered, so that a context the
// host hands in can be told started or not: a fresh context may hold any
// bytes, and only buffers the driver allocated itself may be released.
#pragma once

#include <cstddef>

#include "interface/host_abi.h"
#include "protocol/line_state.h"

namespace jyn {

// A send buffer carries the instance's line state: what the line remembers
// between transactions lives and dies with it.
unsigned char* AllocateFrameBuffer(bool carriesLineState = false);
void ReleaseFrameBuffer(unsigned char* buffer);  // ignores what is not ours
bool IsFrameBuffer(const unsigned char* buffer);
// Buffers allocated and not yet released, in all instances: malloc may hand
// a released buffer's memory out again, so a leak shows in the count only.
std::size_t FrameBufferCount();

// Both buffers allocated by ColdStart and not yet released.
bool IsStarted(const DriverContext& context);
// The line state of a started instance; null for any other context.
protocol::LineState* LineStateOf(const DriverContext& context);

// Tests replace the allocator to see how ColdStart handles a failure.
using FrameAllocator = void* (*)(std::size_t size);
void SetFrameAllocator(FrameAllocator allocator);  // null: malloc

}  // namespace jyn
