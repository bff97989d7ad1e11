// The driver's messages, sorted by the host thread whose call made them.
// TAVORN has one handler for the whole process, and the driver logs on the
// thread that called it: each line's host thread keeps its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/client/driver_library.h"
#include "host/client/driver_messages.h"

namespace jynharness {

// Takes over TAVORN's handler while it lives; one per process.
class MessageSorter {
public:
    // `logDelayMs`: a host whose logging call takes that long each time.
    explicit MessageSorter(uint32_t logDelayMs = 0);

private:
    jynhost::MessageRoute route_;
};

// What the driver said on this thread while this object lives here. The
// object belongs to the thread that made it.
class ThreadMessages {
public:
    ThreadMessages();
    ~ThreadMessages();
    ThreadMessages(const ThreadMessages&) = delete;
    ThreadMessages& operator=(const ThreadMessages&) = delete;

    std::vector<jynhost::DriverMessage> Take();
    const std::vector<jynhost::DriverMessage>& Kept() const { return kept_; }
    // Whether any kept message has exactly this text.
    bool Has(const std::string& text) const;

private:
    friend class MessageSorter;
    std::vector<jynhost::DriverMessage> kept_;
    ThreadMessages* outer_;
};

// Whether the driver's messages reach this host: a driver that found another
// copy of TAVORN beside itself logs into that one, and every check of the
// driver's messages would fail. Asks GetJynInfo, which says so.
bool MessagesArrive(const jynhost::DriverLibrary& library);
inline constexpr char kMessagesLost[] =
    "the driver's messages do not reach this program: the driver uses another libTAVORN.so than "
    "it does";

}  // namespace jynharness
