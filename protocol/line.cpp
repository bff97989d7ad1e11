#include "protocol/line.h"

#include <cstdlib>

#include "protocol/readahead.h"

namespace jyn::protocol {

Line::Line() = default;

Line::~Line() {
    std::free(sendBuffer);
    std::free(receiveBuffer);
}

uint64_t Debt::Count() const {
    uint64_t count = 0;
    for (const Run& run : runs_) count += run.count;
    return count;
}

bool Debt::Owes(uint16_t answerLength) const {
    for (const Run& run : runs_) {
        if (run.length == answerLength) return true;
    }
    return false;
}

void Debt::Add(uint16_t answerLength, uint64_t sentMs) {
    if (!runs_.empty() && runs_.back().length == answerLength) {
        ++runs_.back().count;
        runs_.back().lastSentMs = sentMs;
    } else {
        runs_.push_back({answerLength, 1, sentMs, sentMs});
    }
}

bool Debt::Settle(uint16_t answerLength, uint64_t& sentMs) {
    for (auto it = runs_.begin(); it != runs_.end(); ++it) {
        if (it->length != answerLength) continue;
        sentMs = it->firstSentMs;
        if (--it->count == 0) {
            ++it;
        } else {
            it->firstSentMs = it->count == 1 ? it->lastSentMs : 0;
        }
        runs_.erase(runs_.begin(), it);
        return true;
    }
    return false;
}

void Line::Opened(serial::Handle handle) {
    // The port may now reach other stations than the blocks came from.
    DropReadAhead();
    port = handle;
    for (auto& entry : stations) entry.second.debt.Clear();
    portTimeoutMs = serial::kOpenReadTimeoutMs;
}

void Line::ApplyReplyTimeout() {
    serial::SetReplyTimeout(port, replyTimeout);
    portTimeoutMs = serial::ReplyTimeoutMs(replyTimeout);
}

void Line::DropReadAhead() {
    if (readAhead) readAhead->DropAll();
}

void Line::WakeAll() {
    for (auto& entry : stations) entry.second.resting = false;
}

void Line::PublishBuffers(DriverContext& context) const {
    context.sendBuffer = sendBuffer;
    context.receiveBuffer = receiveBuffer;
    context.sendLength = sendLength;
    context.receiveLength = receiveLength;
}

void Line::Publish(DriverContext& context) const {
    PublishBuffers(context);
    context.replyTimeout = replyTimeout;
    context.port = port;
    context.portSettings = settings;
}

}  // namespace jyn::protocol
