#include "protocol/line.h"

#include <cstdlib>

#include "protocol/readahead.h"

namespace jyn::protocol {

Line::Line() = default;

Line::~Line() {
    std::free(sendBuffer);
    std::free(receiveBuffer);
}

void Line::Opened(serial::Handle handle) {
    // The port may now reach other stations than the blocks came from.
    DropReadAhead();
    port = handle;
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
