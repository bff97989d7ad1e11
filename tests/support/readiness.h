// A readiness signal between threads: workers say when something changed,
// and a test waits (bounded) until what it waits for holds, without polling.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace jyn::testing {

class Readiness {
public:
    // After each change a waiter may care about. Taking the lock orders the
    // change before the waiter's next look, so no change goes unseen.
    void Changed() {
        { std::lock_guard<std::mutex> lock(mutex_); }
        changed_.notify_all();
    }
    // True once `done` holds; false when `limit` passed first.
    template <typename Done>
    bool WaitFor(Done done, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, done);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace jyn::testing
