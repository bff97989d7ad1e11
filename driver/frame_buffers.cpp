#include "driver/frame_buffers.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

namespace jyn {

namespace {

std::mutex g_mutex;
std::set<const unsigned char*>& Registry() {
    static std::set<const unsigned char*> registry;
    return registry;
}
std::atomic<FrameAllocator> g_allocator{nullptr};

}  // namespace

void SetFrameAllocator(FrameAllocator allocator) { g_allocator.store(allocator); }

unsigned char* AllocateFrameBuffer() {
    const FrameAllocator allocator = g_allocator.load();
    void* memory =
        allocator != nullptr ? allocator(kFrameBufferSize) : std::malloc(kFrameBufferSize);
    auto* buffer = static_cast<unsigned char*>(memory);
    if (buffer == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    Registry().insert(buffer);
    return buffer;
}

void ReleaseFrameBuffer(unsigned char* buffer) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (Registry().erase(buffer) == 0) return;
    }
    std::free(buffer);
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
