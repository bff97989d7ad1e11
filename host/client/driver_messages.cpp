#include "host/client/driver_messages.h"

#include <cstdio>
#include <cstdlib>

#include "host/tavorn/tavorn.h"

namespace jynhost {

namespace {

void TAVORN_CALL Route(int level, const char* text, void* route) {
    static_cast<MessageRoute*>(route)->Add(level, text);
}

// For comparing what two builds of the driver logged: when JYN_MESSAGE_DUMP
// names a file, every message is appended to it as TAVORN writes its own
// log, whoever takes the messages.
void DumpIfAsked(int level, const char* text) {
    const char* path = std::getenv("JYN_MESSAGE_DUMP");
    if (path == nullptr || *path == '\0') return;
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "[%d] %s\n", level, text);
        std::fclose(file);
    }
}

}  // namespace

MessageRoute::MessageRoute(std::size_t keep, Echo echo) : keep_(keep), echo_(std::move(echo)) {
    TavornSetHandler(&Route, this);
}

MessageRoute::~MessageRoute() { TavornSetHandler(nullptr, nullptr); }

void MessageRoute::Add(int level, const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    DumpIfAsked(level, text);
    ++count_;
    if (!echo_ && kept_.size() >= keep_) return;
    DriverMessage message{level, text};
    if (echo_) echo_(message);
    if (kept_.size() < keep_) kept_.push_back(std::move(message));
}

std::vector<DriverMessage> MessageRoute::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<DriverMessage> out;
    out.swap(kept_);
    count_ = 0;
    return out;
}

std::vector<DriverMessage> MessageRoute::Kept() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return kept_;
}

std::size_t MessageRoute::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

}  // namespace jynhost
