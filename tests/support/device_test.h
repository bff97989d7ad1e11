// What the port operations need of every platform's device, as a fixture
// and checks that the POSIX and the Win32 device tests share; each test
// brings its own line.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>

#include "serial/device.h"
#include "serial/port.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {

using Clock = std::chrono::steady_clock;

inline long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

struct LineSettings {
    uint16_t baud, bits, stop, parity;
};

class DeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (handle != nullptr) serial::ClosePort(handle);
    }

    int Open(const std::string& name, uint16_t baud = 9600, uint16_t bits = 8, uint16_t stop = 0,
             uint16_t parity = 0, uint16_t flags = 0x0303) {
        char field[kPortNameSize];
        SetName(field, name);
        return serial::OpenPort(field, baud, bits, stop, parity, flags, handle);
    }

    // With nothing waiting a read fails empty after the whole reply time-out
    // (150 ms, less at most `earlyMs`), and not long after it.
    void ExpectReadWaitsOutItsTimeout(const std::string& port, long earlyMs) {
        ASSERT_EQ(Open(port), serial::kPortOk);
        serial::SetReplyTimeout(handle, 15);
        uint8_t buffer[5];
        uint32_t received = 99;
        const auto start = Clock::now();
        EXPECT_EQ(serial::ReadPort(handle, buffer, 5, &received), serial::kPortCallFailed);
        const long ms = ElapsedMs(start);
        EXPECT_EQ(received, 0u);
        EXPECT_GE(ms, 150 - earlyMs);
        EXPECT_LT(ms, 150 + 1000) << "the wait must end near the time-out";
    }

    // The null device reads nothing at once, takes every byte written, and
    // several instances may share it.
    void ExpectNullDevice() {
        ASSERT_EQ(Open("NUL"), serial::kPortOk);
        ASSERT_NE(handle, nullptr);
        uint8_t buffer[4];
        uint32_t received = 99;
        const auto start = Clock::now();
        EXPECT_EQ(serial::ReadPort(handle, buffer, 4, &received), serial::kPortCallFailed);
        EXPECT_EQ(received, 0u);
        EXPECT_LT(ElapsedMs(start), 500);
        uint32_t written = 0;
        EXPECT_EQ(serial::WritePort(handle, "abc", 3, &written), serial::kPortOk);
        EXPECT_EQ(written, 3u);
        serial::Handle second = nullptr;
        char field[kPortNameSize];
        SetName(field, "NUL");
        EXPECT_EQ(serial::OpenPort(field, 9600, 8, 0, 0, 0, second), serial::kPortOk);
        serial::ClosePort(second);
    }

    // Each is refused, and the failed opens give the device back.
    void ExpectRefused(const std::string& port, std::initializer_list<LineSettings> settings) {
        for (const LineSettings& s : settings) {
            EXPECT_EQ(Open(port, s.baud, s.bits, s.stop, s.parity), serial::kPortSettingsRefused)
                << s.baud << " baud, " << s.bits << " bits, stop " << s.stop << ", parity "
                << s.parity;
            EXPECT_EQ(handle, nullptr);
        }
        EXPECT_EQ(Open(port), serial::kPortOk);
    }

    // The total time-out bounds the whole read, not the gap between bytes:
    // bytes that arrive in two bursts well within it are read as one.
    template <class FarEnd>
    void ExpectBurstsReadWhole(const std::string& port, const FarEnd& remote) {
        ASSERT_EQ(Open(port), serial::kPortOk);
        serial::SetReplyTimeout(handle, 200);  // 2 s: far longer than the gap
        std::thread sender([&remote] {
            remote.Send("abc");
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            remote.Send("def");
        });
        uint8_t buffer[6] = {};
        uint32_t received = 0;
        EXPECT_EQ(serial::ReadPort(handle, buffer, 6, &received), serial::kPortOk);
        sender.join();
        EXPECT_EQ(received, 6u);
        EXPECT_EQ(std::string(buffer, buffer + 6), "abcdef");
    }

    template <class FarEnd>
    void ExpectWritesReachTheFarEnd(const std::string& port, const FarEnd& remote) {
        ASSERT_EQ(Open(port), serial::kPortOk);
        const std::string frame =
            "\x05"
            "00FFWR0D0100012C";
        uint32_t written = 0;
        EXPECT_EQ(
            serial::WritePort(handle, frame.data(), static_cast<uint32_t>(frame.size()), &written),
            serial::kPortOk);
        EXPECT_EQ(written, frame.size());
        EXPECT_EQ(remote.Receive(frame.size(), 2000), frame);
    }

    // A purge empties the input queue, puts the reply time-out back and
    // leaves nothing stale for the next reply.
    template <class FarEnd>
    void ExpectPurgeThrowsAwayStaleInput(const std::string& port, const FarEnd& remote) {
        ASSERT_EQ(Open(port), serial::kPortOk);
        serial::SetReplyTimeout(handle, 20);
        remote.Send(std::string(1100, 'z'));
        // Wait (bounded) until the port holds all of it.
        uint32_t queued = 0;
        const auto start = Clock::now();
        while (ElapsedMs(start) < 3000 && device::ClearErrors(handle, queued) && queued < 1100) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(queued, 1100u);
        EXPECT_EQ(serial::PurgePort(handle), 0);
        ASSERT_TRUE(device::ClearErrors(handle, queued));
        EXPECT_EQ(queued, 0u);
        EXPECT_EQ(serial::SetReplyTimeout(handle, 20), 20u) << "the reply time-out is put back";
        remote.Send("ok");
        uint8_t buffer[2] = {};
        EXPECT_EQ(serial::ReadPort(handle, buffer, 2, nullptr), serial::kPortOk);
        EXPECT_EQ(std::string(buffer, buffer + 2), "ok");
    }

    LogRecorder log;
    serial::Handle handle = nullptr;
};

}  // namespace jyn::testing
