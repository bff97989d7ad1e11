// The POSIX device reads a reply from the kernel in one go and serves the
// driver's one-byte reads from what it took. These tests hold it to the
// behaviour the port layer relies on: the same bytes in the same order, the
// same time-outs, and bytes taken ahead still count as input waiting on the
// port, for ClearErrors and for the purge.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "serial/device.h"
#include "serial/frame.h"
#include "serial/port.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"
#include "tests/support/pty_pair.h"

namespace jyn::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kTimeoutUnits = 10;  // 100 ms
constexpr long kTimeoutMs = 100;

// STX, station 01, PC FF, one word, ETX, sum check.
const std::string kReply =
    "\x02"
    "01FF1234\x03"
    "BA";

class PosixDeviceReadAhead : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        char field[kPortNameSize];
        SetName(field, pty.PortName());
        ASSERT_EQ(serial::OpenPort(field, 9600, 8, 0, 0, 0x0303, handle), serial::kPortOk);
        serial::SetReplyTimeout(handle, kTimeoutUnits);
    }
    void TearDown() override {
        if (handle != nullptr) serial::ClosePort(handle);
    }

    uint32_t Queued() const {
        uint32_t queued = 0;
        EXPECT_TRUE(device::ClearErrors(handle, queued));
        return queued;
    }
    // Sends `bytes` and waits (bounded) until the port holds `total` bytes.
    void SendQueued(const std::string& bytes, uint32_t total) {
        pty.Send(bytes);
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (Queued() < total && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(Queued(), total);
    }
    std::string ReadOneByOne(std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char byte = 0;
            uint32_t received = 0;
            if (serial::ReadPort(handle, &byte, 1, &received) != serial::kPortOk) break;
            out += static_cast<char>(byte);
        }
        return out;
    }

    LogRecorder log;
    PtyPair pty;
    serial::Handle handle = nullptr;
};

TEST_F(PosixDeviceReadAhead, OneByteReadsSeeEveryByteInOrderThenTheLineIsSilent) {
    SendQueued(kReply, static_cast<uint32_t>(kReply.size()));
    EXPECT_EQ(ReadOneByOne(kReply.size()), kReply);
    unsigned char byte = 0;
    uint32_t received = 99;
    const auto start = Clock::now();
    EXPECT_EQ(serial::ReadPort(handle, &byte, 1, &received), serial::kPortCallFailed);
    EXPECT_EQ(received, 0u);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs));
}

TEST_F(PosixDeviceReadAhead, BytesTakenAheadStillCountAsQueuedInput) {
    SendQueued("abcdef", 6);
    const std::string expected = "abcdef";
    for (uint32_t taken = 1; taken <= 6; ++taken) {
        SCOPED_TRACE(taken);
        EXPECT_EQ(ReadOneByOne(1), expected.substr(taken - 1, 1));
        EXPECT_EQ(Queued(), 6 - taken);
    }
}

TEST_F(PosixDeviceReadAhead, PurgeThrowsAwayBytesTakenAhead) {
    SendQueued("abcdef", 6);
    ASSERT_EQ(ReadOneByOne(1), "a");
    EXPECT_EQ(serial::PurgePort(handle), 0);
    EXPECT_EQ(Queued(), 0u);
    EXPECT_EQ(serial::SetReplyTimeout(handle, kTimeoutUnits), kTimeoutUnits);  // restored
    // What comes next is new input, not the rest of the old.
    SendQueued("XY", 2);
    EXPECT_EQ(ReadOneByOne(2), "XY");
}

TEST_F(PosixDeviceReadAhead, ALongerReadJoinsBytesTakenAheadAndBytesStillInTheKernel) {
    SendQueued("abc", 3);
    ASSERT_EQ(ReadOneByOne(1), "a");
    SendQueued("de", 4);
    unsigned char buffer[4] = {};
    uint32_t received = 0;
    EXPECT_EQ(serial::ReadPort(handle, buffer, 4, &received), serial::kPortOk);
    EXPECT_EQ(received, 4u);
    EXPECT_EQ(std::string(buffer, buffer + 4), "bcde");
}

// As without the read-ahead: the device read waits out its time-out for the
// missing byte, and the port's next read finds nothing.
TEST_F(PosixDeviceReadAhead, AReadTheBytesTakenAheadCannotFillWaitsOutItsTimeout) {
    SendQueued("abc", 3);
    ASSERT_EQ(ReadOneByOne(1), "a");
    unsigned char buffer[3] = {};
    uint32_t received = 0;
    const auto start = Clock::now();
    EXPECT_EQ(serial::ReadPort(handle, buffer, 3, &received), serial::kPortCallFailed);
    EXPECT_EQ(received, 2u);
    EXPECT_EQ(std::string(buffer, buffer + 2), "bc");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2 * kTimeoutMs));
}

// A reply with stray bytes behind it: the reception takes the frame only,
// and the purge before the next attempt finds and drains the rest.
TEST_F(PosixDeviceReadAhead, StrayBytesBehindAReplyAreLeftForThePurge) {
    unsigned char receive[kFrameBufferSize] = {};
    uint16_t length = 0;
    SendQueued(kReply + "zz", static_cast<uint32_t>(kReply.size() + 2));
    EXPECT_EQ(serial::ReceiveReply(handle, receive, kFrameBufferSize, length),
              serial::Reception::kComplete);
    EXPECT_EQ(length, kReply.size());
    EXPECT_EQ(std::string(receive, receive + kReply.size()), kReply);
    EXPECT_EQ(Queued(), 2u);
    EXPECT_EQ(serial::PurgePort(handle), 0);
    EXPECT_EQ(Queued(), 0u);
}

}  // namespace
}  // namespace jyn::testing
