#include "harness/thread_messages.h"

#include <chrono>
#include <thread>

namespace jynharness {

namespace {

thread_local ThreadMessages* t_messages = nullptr;
// A transaction that meets every fault says a lot; more than this many
// messages in one call would only be the same lines again.
constexpr std::size_t kKeptPerCall = 200;

}  // namespace

MessageSorter::MessageSorter(uint32_t logDelayMs)
    : route_(0, [this, logDelayMs](const jynhost::DriverMessage& message) {
          if (logDelayMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(logDelayMs));
          // The main thread's start-up and EndJyn keep none.
          ThreadMessages* own = t_messages;
          if (own != nullptr && own->kept_.size() < kKeptPerCall) own->kept_.push_back(message);
      }) {}

ThreadMessages::ThreadMessages() : outer_(t_messages) { t_messages = this; }

ThreadMessages::~ThreadMessages() { t_messages = outer_; }

std::vector<jynhost::DriverMessage> ThreadMessages::Take() {
    std::vector<jynhost::DriverMessage> out;
    out.swap(kept_);
    return out;
}

bool ThreadMessages::Has(const std::string& text) const {
    for (const jynhost::DriverMessage& message : kept_) {
        if (message.text == text) return true;
    }
    return false;
}

bool MessagesArrive(const jynhost::DriverLibrary& library) {
    ThreadMessages messages;
    jyn::DriverInfo info{};
    library.Call(nullptr, jyn::kGetJynInfo, &info, 0);
    return messages.Has("JYNMB> GetJynInfo() exited");
}

}  // namespace jynharness
