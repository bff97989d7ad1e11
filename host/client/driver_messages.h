// The driver's messages as a host receives them: the driver calls the host's
// err() in TAVORN, and TAVORN hands each formatted line to the handler the
// host set.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace jynhost {

struct DriverMessage {
    int level;  // 8 information, 32 error
    std::string text;
};

// Takes over TAVORN's handler while it lives: every message is counted, the
// first `keep` since the last Take are kept, and each is shown to `echo` as
// it comes. TAVORN has one handler, so one route at a time; the driver may
// log from whichever thread calls it.
class MessageRoute {
public:
    using Echo = std::function<void(const DriverMessage&)>;
    static constexpr std::size_t kKeepAll = std::numeric_limits<std::size_t>::max();

    explicit MessageRoute(std::size_t keep = kKeepAll, Echo echo = Echo());
    ~MessageRoute();  // TAVORN's own output again
    MessageRoute(const MessageRoute&) = delete;
    MessageRoute& operator=(const MessageRoute&) = delete;

    // The kept messages, oldest first; keeping and counting start afresh.
    std::vector<DriverMessage> Take();
    std::vector<DriverMessage> Kept() const;
    // Messages since the last Take, kept or not.
    std::size_t Count() const;

    void Add(int level, const char* text);

private:
    const std::size_t keep_;
    const Echo echo_;
    mutable std::mutex mutex_;
    std::vector<DriverMessage> kept_;
    std::size_t count_ = 0;
};

}  // namespace jynhost
