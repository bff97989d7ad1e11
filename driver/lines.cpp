#include "driver/lines.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

namespace jyn {

namespace {

// Every live line, under its send buffer's address. Instances may be called
// from different threads (one thread per instance): the set is guarded, a
// line itself is used by its own instance's thread only.
using Lines = std::map<const unsigned char*, std::unique_ptr<protocol::Line>>;

std::mutex g_mutex;
Lines& Live() {
    static Lines lines;
    return lines;
}
std::atomic<FrameAllocator> g_allocator{nullptr};

unsigned char* AllocateFrameBuffer() {
    const FrameAllocator allocator = g_allocator.load();
    void* memory =
        allocator != nullptr ? allocator(kFrameBufferSize) : std::malloc(kFrameBufferSize);
    return static_cast<unsigned char*>(memory);
}

}  // namespace

void SetFrameAllocator(FrameAllocator allocator) { g_allocator.store(allocator); }

protocol::Line* NewLine() {
    std::unique_ptr<protocol::Line> line(new (std::nothrow) protocol::Line);
    if (!line) return nullptr;
    line->sendBuffer = AllocateFrameBuffer();
    if (line->sendBuffer == nullptr) return nullptr;
    protocol::Line* kept = line.get();
    std::lock_guard<std::mutex> lock(g_mutex);
    Live().emplace(kept->sendBuffer, std::move(line));
    return kept;
}

bool AllocateReceiveBuffer(protocol::Line& line) {
    line.receiveBuffer = AllocateFrameBuffer();
    return line.receiveBuffer != nullptr;
}

protocol::Line* LineOf(const DriverContext& context) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = Live().find(context.sendBuffer);
    return it != Live().end() ? it->second.get() : nullptr;
}

bool IsStarted(const DriverContext& context) {
    const protocol::Line* line = LineOf(context);
    return line != nullptr && line->Started();
}

std::unique_ptr<protocol::Line> TakeLine(const DriverContext& context) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = Live().find(context.sendBuffer);
    if (it == Live().end()) return nullptr;
    std::unique_ptr<protocol::Line> line = std::move(it->second);
    Live().erase(it);
    return line;
}

void ReleaseLine(const DriverContext& context) { TakeLine(context); }

std::size_t FrameBufferCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::size_t count = 0;
    for (const auto& entry : Live()) count += entry.second->receiveBuffer != nullptr ? 2 : 1;
    return count;
}

bool IsFrameBuffer(const unsigned char* buffer) {
    if (buffer == nullptr) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const auto& entry : Live()) {
        if (entry.second->sendBuffer == buffer || entry.second->receiveBuffer == buffer)
            return true;
    }
    return false;
}

}  // namespace jyn
