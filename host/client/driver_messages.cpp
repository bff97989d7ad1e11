#include "host/client/driver_messages.h"

#include "host/tavorn/tavorn.h"

namespace jynhost {

namespace {

void TAVORN_CALL Route(int level, const char* text, void* route) {
    static_cast<MessageRoute*>(route)->Add(level, text);
}

}  // namespace

MessageRoute::MessageRoute(std::size_t keep, Echo echo) : keep_(keep), echo_(std::move(echo)) {
    TavornSetHandler(&Route, this);
}

MessageRoute::~MessageRoute() { TavornSetHandler(nullptr, nullptr); }

void MessageRoute::Add(int level, const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
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
