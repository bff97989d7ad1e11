#include "driver/frame_buffers.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace jyn {

namespace {

// Each buffer the driver allocated, with the line state a send buffer
// carries (null for a receive buffer).
using Registered = std::map<const unsigned char*, std::unique_ptr<protocol::LineState>>;

std::mutex g_mutex;
Registered& Registry() {
    static Registered registry;
    return registry;
}
std::atomic<FrameAllocator> g_allocator{nullptr};

}  // namespace

void SetFrameAllocator(FrameAllocator allocator) { g_allocator.store(allocator); }

unsigned char* AllocateFrameBuffer(bool carriesLineState) {
    const FrameAllocator allocator = g_allocator.load();
    void* memory =
        allocator != nullptr ? allocator(kFrameBufferSize) : std::malloc(kFrameBufferSize);
    auto* buffer = static_cast<unsigned char*>(memory);
    if (buffer == nullptr) return nullptr;
    std::unique_ptr<protocol::LineState> state;
    if (carriesLineState) {
        state.reset(new (std::nothrow) protocol::LineState);
        if (!state) {
            std::free(buffer);
            return nullptr;
        }
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    Registry().emplace(buffer, std::move(state));
    return buffer;
}

void ReleaseFrameBuffer(unsigned char* buffer) {
    std::unique_ptr<protocol::LineState> state;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        const auto it = Registry().find(buffer);
        if (it == Registry().end()) return;
        state = std::move(it->second);
        Registry().erase(it);
    }
    std::free(buffer);
}

protocol::LineState* LineStateOf(const DriverContext& context) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = Registry().find(context.sendBuffer);
    return it != Registry().end() ? it->second.get() : nullptr;
}

bool IsFrameBuffer(const unsigned char* buffer) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Registry().count(buffer) != 0;
}

std::size_t FrameBufferCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Registry().size();
}

bool IsStarted(const DriverContext& context) {
    return context.sendBuffer != context.receiveBuffer && IsFrameBuffer(context.sendBuffer) &&
           IsFrameBuffer(context.receiveBuffer);
}

}  // namespace jyn
