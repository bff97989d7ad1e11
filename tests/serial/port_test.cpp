// The port operations over the scripted fake device.
#include "serial/port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "tests/support/fake_device.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

using serial::Handle;

class Port : public ::testing::Test {
protected:
    void SetUp() override { ResetFake(); }

    int Open(const std::string& name, uint16_t lineFlags, Handle& handle) {
        char field[kPortNameSize];
        SetName(field, name);
        return serial::OpenPort(field, 9600, 7, 2, 1, lineFlags, handle);
    }
    Handle OpenOk() {
        Handle handle = nullptr;
        EXPECT_EQ(Open("COM1", 0x0303, handle), serial::kPortOk);
        return handle;
    }
    std::vector<uint32_t> ReadSizes() const {
        std::vector<uint32_t> sizes;
        for (const FakeCall& call : Fake().calls) {
            if (call.what == "Read") sizes.push_back(call.done);
        }
        return sizes;
    }

    LogRecorder log;
};

struct OpenCase {
    const char* name;
    void (*script)(FakeDevice&);
    int result;
    bool leftOpen;
    bool configured;  // the device carries the driver's line settings
};

TEST_F(Port, OpenPortResultsAndCleanUp) {
    const OpenCase cases[] = {
        {"COM1", [](FakeDevice&) {}, serial::kPortOk, true, true},
        {"COM1", [](FakeDevice& f) { f.missingNames.insert("COM1"); }, serial::kPortOpenFailed,
         false, false},
        {"COM1", [](FakeDevice& f) { f.failGetSettings = true; }, serial::kPortNoSettings, false,
         false},
        // A port whose time-outs cannot be set is not reconfigured either.
        {"COM1", [](FakeDevice& f) { f.failSetTimeouts = true; }, serial::kPortOpenFailed, false,
         false},
        {"COM1", [](FakeDevice& f) { f.failSetSettings = true; }, serial::kPortSettingsRefused,
         false, false},
        // The null device is not configured: its settings cannot even be read.
        {"NUL", [](FakeDevice& f) { f.failGetSettings = true; }, serial::kPortOk, true, false},
        // Only the exact name: "nul" goes through the configuration.
        {"nul", [](FakeDevice& f) { f.failGetSettings = true; }, serial::kPortNoSettings, false,
         false},
    };
    for (const OpenCase& c : cases) {
        ResetFake();
        c.script(Fake());
        Handle handle = reinterpret_cast<Handle>(1);
        SCOPED_TRACE(std::string(c.name) + " -> " + std::to_string(c.result));
        EXPECT_EQ(Open(c.name, 0x0303, handle), c.result);
        EXPECT_EQ(handle != nullptr, c.leftOpen);
        EXPECT_EQ(Fake().OpenCount(), c.leftOpen ? 1u : 0u);
        EXPECT_EQ(Fake().settingsWritten, c.configured);
    }
}

TEST_F(Port, OpenWritesTheLineSettingsTimeoutsAndQueues) {
    // A port left by another program with every mode the driver turns off.
    device::LineSettings& before = Fake().initialSettings;
    before.binary = before.parityCheck = false;
    before.outxCtsFlow = before.outxDsrFlow = before.dsrSensitivity = true;
    before.outX = before.inX = before.errorCharReplace = before.nullStrip = true;
    before.abortOnError = true;
    before.native[0] = 0x77;  // a field the driver does not set
    Fake().initialTimeouts = {11, 12, 13, 14, 15};
    Handle handle = OpenOk();
    ASSERT_NE(handle, nullptr);
    const device::LineSettings& s = Fake().settings;
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.byteSize, 7);
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_EQ(s.parity, 1);
    EXPECT_TRUE(s.binary);
    EXPECT_TRUE(s.parityCheck);
    EXPECT_FALSE(s.outxCtsFlow);
    EXPECT_FALSE(s.outxDsrFlow);
    EXPECT_FALSE(s.dsrSensitivity);
    EXPECT_FALSE(s.outX);
    EXPECT_FALSE(s.inX);
    EXPECT_FALSE(s.errorCharReplace);
    EXPECT_FALSE(s.nullStrip);
    EXPECT_FALSE(s.abortOnError);
    EXPECT_EQ(s.errorChar, 0xFC);
    EXPECT_EQ(s.native[0], 0x77);
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 1000u);
    EXPECT_EQ(Fake().timeouts.readInterval, 0u);
    EXPECT_EQ(Fake().timeouts.readTotalMultiplier, 0u);
    EXPECT_EQ(Fake().timeouts.writeTotalMultiplier, 0u);
    EXPECT_EQ(Fake().timeouts.writeTotalConstant, 0u);
    // Input and output queues of 1200 bytes each: a whole frame fits twice.
    std::vector<std::pair<uint32_t, uint32_t>> queues;
    for (const FakeCall& call : Fake().calls) {
        if (call.what == "SetupQueues") queues.emplace_back(call.asked, call.done);
    }
    EXPECT_EQ(queues, (std::vector<std::pair<uint32_t, uint32_t>>{{1200u, 1200u}}));
}

TEST_F(Port, NameWithoutTerminatorIsNotOpened) {
    char field[kPortNameSize];
    std::memset(field, 'C', sizeof field);
    Handle handle = nullptr;
    EXPECT_EQ(serial::OpenPort(field, 9600, 8, 0, 0, 0, handle), serial::kPortOpenFailed);
    EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(Port, LineFlagsChooseDtrAndRts) {
    using device::ControlMode;
    const struct {
        uint16_t flags;
        ControlMode dtr, rts;
    } cases[] = {
        {0x0303, device::kLineEnable, device::kLineEnable},
        {0x0000, device::kLineDisable, device::kLineDisable},
        {0x8000, device::kLineHandshake, device::kLineDisable},
        {0x8001, device::kLineEnable, device::kLineDisable},
        {0x0100, device::kLineEnable, device::kLineDisable},
        {0x3000, device::kLineDisable, device::kLineHandshake},
        {0x2000, device::kLineDisable, device::kLineToggle},
        {0x2200, device::kLineDisable, device::kLineEnable},
        {0x1002, device::kLineDisable, device::kLineEnable},
    };
    for (const auto& c : cases) {
        ResetFake();
        Handle handle = nullptr;
        ASSERT_EQ(Open("COM1", c.flags, handle), serial::kPortOk);
        EXPECT_EQ(Fake().settings.dtrControl, c.dtr) << std::hex << c.flags;
        EXPECT_EQ(Fake().settings.rtsControl, c.rts) << std::hex << c.flags;
    }
}

TEST_F(Port, OpenComLogsItsOutcome) {
    PortSettings settings{};
    SetName(settings.name, "COM4");
    settings.baudRate = 9600;
    settings.dataBits = 8;
    Handle handle = serial::OpenCom(settings);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kLevelInfo,
                                                   "JYNMB> OpenCom() exited OK, file handle " +
                                                       std::to_string(Fake().HandleNumber(handle))}}));
    log.Clear();
    EXPECT_EQ(serial::OpenCom(settings), nullptr);  // held exclusively
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kLevelError, "JYNMB> OpenCom() exited with error"}}));
}

TEST_F(Port, SetReplyTimeoutWritesOnlyAChange) {
    Handle handle = OpenOk();
    const int writesAtOpen = Fake().setTimeoutsCalls;
    EXPECT_EQ(serial::SetReplyTimeout(handle, 100), 100u);  // 1000 ms already
    EXPECT_EQ(Fake().setTimeoutsCalls, writesAtOpen);
    EXPECT_EQ(serial::SetReplyTimeout(handle, 5), 100u);
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 50u);
    EXPECT_EQ(serial::SetReplyTimeout(handle, 0xFFFFFFFFu), 5u);  // clamped, not wrapped
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 0xFFFFFFFEu);
    // 0 ms would be no time-out at all on a Win32 port.
    EXPECT_EQ(serial::SetReplyTimeout(handle, 0), 0xFFFFFFFEu / 10);
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 1u);
    Fake().failGetTimeouts = true;
    EXPECT_EQ(serial::SetReplyTimeout(handle, 7), 0u);
    Fake().failGetTimeouts = false;
    Fake().failSetTimeouts = true;
    EXPECT_EQ(serial::SetReplyTimeout(handle, 7), 0u);
}

TEST_F(Port, PurgeDrainsStaleInputAndRestoresTheTimeout) {
    Handle handle = OpenOk();
    serial::SetReplyTimeout(handle, 30);
    Fake().Arrive(Bytes(1100, 'x'));
    Fake().calls.clear();
    EXPECT_EQ(serial::PurgePort(handle), 0);
    EXPECT_EQ(ReadSizes(), (std::vector<uint32_t>{512, 512, 76}));
    EXPECT_EQ(Fake().Pending(), 0u);
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 300u);
    std::vector<uint32_t> timeoutsWritten;
    for (const FakeCall& call : Fake().calls) {
        if (call.what == "SetTimeouts") timeoutsWritten.push_back(call.asked);
    }
    EXPECT_EQ(timeoutsWritten, (std::vector<uint32_t>{50, 300}));

    // The time-out the caller says the port carries goes back, even one
    // below 10 ms that the port's own report in units of 10 ms cannot hold.
    serial::SetReplyTimeout(handle, 0);
    Fake().Arrive(Bytes(3, 'x'));
    EXPECT_EQ(serial::PurgePort(handle, nullptr, serial::ReplyTimeoutMs(0)), 0);
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 1u);
    serial::SetReplyTimeout(handle, 30);

    // Nothing waiting: the time-out is not touched.
    Fake().calls.clear();
    EXPECT_EQ(serial::PurgePort(handle), 0);
    ASSERT_EQ(Fake().calls.size(), 1u);
    EXPECT_EQ(Fake().calls[0].what, "ClearErrors");

    // A failed read ends the drain with 1.
    Fake().Arrive(Bytes(10, 'y'));
    Fake().failRead = true;
    EXPECT_EQ(serial::PurgePort(handle), 1);
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 300u);
}

// A device faster than any serial rate (a USB bridge, a pseudo-terminal)
// that never pauses keeps every drain read full: the purge must still end
// soon and leave the request its turn.
TEST_F(Port, PurgeOfALineThatNeverPausesEndsInTime) {
    Handle handle = OpenOk();
    serial::SetReplyTimeout(handle, 30);
    for (uint32_t ms = 0; ms < 20000; ms += 10) Fake().Arrive(Bytes(512, 'x'), ms);
    const uint64_t start = Fake().NowMs();
    EXPECT_EQ(serial::PurgePort(handle), 0);
    EXPECT_LE(Fake().NowMs() - start, 250u) << "one 50 ms read past the drain's limit at most";
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 300u);
}

TEST_F(Port, PurgeWithoutAPortIsHarmless) {
    EXPECT_EQ(serial::PurgePort(nullptr), 1);
}

TEST_F(Port, WritePortReportsShortAndFailedWrites) {
    Handle handle = OpenOk();
    const uint8_t frame[12] = {};
    uint32_t written = 99;
    EXPECT_EQ(serial::WritePort(handle, frame, 12, &written), serial::kPortOk);
    EXPECT_EQ(written, 12u);
    Fake().writeLimit = 10;
    EXPECT_EQ(serial::WritePort(handle, frame, 12, &written), serial::kPortShortWrite);
    EXPECT_EQ(written, 10u);
    Fake().failWrite = true;
    written = 99;
    EXPECT_EQ(serial::WritePort(handle, frame, 12, &written), serial::kPortCallFailed);
    EXPECT_EQ(written, 99u);
    EXPECT_EQ(serial::WritePort(nullptr, frame, 12, nullptr), serial::kPortCallFailed);
}

TEST_F(Port, ReadPortGathersBurstsWithinEachTimeout) {
    Handle handle = OpenOk();
    serial::SetReplyTimeout(handle, 10);  // 100 ms per read
    uint8_t buffer[6] = {};
    uint32_t received = 99;

    Fake().Arrive("abcd");
    Fake().Arrive("ef", 150);  // after the first read has timed out with four
    EXPECT_EQ(serial::ReadPort(handle, buffer, 6, &received), serial::kPortOk);
    EXPECT_EQ(received, 6u);
    EXPECT_EQ(std::string(buffer, buffer + 6), "abcdef");

    Fake().Arrive("ghij");
    const uint64_t start = Fake().NowMs();
    EXPECT_EQ(serial::ReadPort(handle, buffer, 6, &received), serial::kPortCallFailed);
    EXPECT_EQ(received, 4u);
    // One time-out for the read that got four, one for the read that got none.
    EXPECT_EQ(Fake().NowMs() - start, 200u);

    Fake().failRead = true;
    EXPECT_EQ(serial::ReadPort(handle, buffer, 1, &received), serial::kPortCallFailed);
    EXPECT_EQ(received, 0u);
}

}  // namespace
}  // namespace jyn::testing
