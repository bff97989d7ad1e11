// Start-up and port commands through JynMain, on the scripted fake device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "driver/lines.h"
#include "interface/host_abi.h"
#include "serial/port.h"
#include "tests/support/fake_device.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { ResetFake(); }
    void TearDown() override { SetFrameAllocator(nullptr); }

    unsigned Handle(const Instance& instance) const {
        return Fake().HandleNumber(const_cast<Instance&>(instance).Context().port);
    }

    LogRecorder log;
    Instance host;
};

TEST_F(Lifecycle, ColdStartWithoutOpenStoresSettingsAndDefaultStations) {
    ASSERT_EQ(host.ColdStart("COM3", false, 25), kOk) << log.Dump();
    const DriverContext& context = host.Context();
    EXPECT_EQ(context.port, nullptr);
    EXPECT_TRUE(Fake().opened.empty());
    EXPECT_STREQ(context.portSettings.name, "COM3");
    EXPECT_EQ(context.portSettings.baudRate, 9600);
    EXPECT_EQ(context.portSettings.dataBits, 8);
    EXPECT_EQ(context.portSettings.lineFlags, 0x0303);
    EXPECT_EQ(context.replyTimeout, 25u);
    EXPECT_EQ(context.sendLength, 0);
    EXPECT_EQ(context.receiveLength, 0);
    for (int i : {0, 1, 0x7F, 0xFF}) {
        EXPECT_EQ(context.stationTable[i].stationNumber, i);
        EXPECT_EQ(context.stationTable[i].pcNumber, 0xFF);
        EXPECT_EQ(context.stationTable[i].cpuType, kCpuA);
    }
    const auto lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front().level, kLevelInfo);
    EXPECT_EQ(lines.front().text.rfind("JYNMB> version compiled on ", 0), 0u) << log.Dump();
    EXPECT_NE(lines.front().text.find(" at time "), std::string::npos);
    EXPECT_EQ(lines.back(), (LogLine{kLevelInfo, "JYNMB> ColdStart() exited, 0"}));

    // The stored settings are what a later ReOpenCom opens with.
    log.Clear();
    ASSERT_EQ(host.Call(kReOpenCom), kOk) << log.Dump();
    ASSERT_NE(context.port, nullptr);
    EXPECT_EQ(Fake().opened, std::vector<std::string>{"COM3"});
    EXPECT_EQ(Fake().settings.baudRate, 9600u);
    EXPECT_EQ(log.Lines(),
              (std::vector<LogLine>{{kLevelInfo, "JYNMB> OpenCom() exited OK, file handle " +
                                                     std::to_string(Handle(host))},
                                    {kLevelInfo, "JYNMB> ReOpenCom() exited 0"}}));

    // A station that never answers costs the host ten of its own reply
    // time-outs (250 ms here), not ten of the device's 1000 ms.
    unsigned char value[4] = {};
    GateRequest request{"01WD100", 0, {1, 'D', 100, -1, 16}, 0, 1, 0, value};
    const uint64_t start = Fake().NowMs();
    EXPECT_EQ(host.Call(kSingleRead, &request), kDriverFailure);
    EXPECT_EQ(Fake().NowMs() - start, 10u * 250u);
}

TEST_F(Lifecycle, ColdStartOpensThePortAndAppliesTheReplyTimeout) {
    ASSERT_EQ(host.ColdStart("COM1", true, 7), kOk) << log.Dump();
    ASSERT_NE(host.Context().port, nullptr);
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 70u);
    EXPECT_TRUE(log.Has(kLevelError, "JYNMB> ColdStart() port COM1 opened, file handle " +
                                         std::to_string(Handle(host))))
        << log.Dump();
}

TEST_F(Lifecycle, ColdStartOpenFailureKeepsSettingsForReOpenCom) {
    Fake().missingNames.insert("COM9");
    ASSERT_EQ(host.ColdStart("COM9", true), kGateFailure);
    EXPECT_EQ(host.Context().port, nullptr);
    EXPECT_STREQ(host.Context().portSettings.name, "COM9");
    EXPECT_TRUE(log.Has(kLevelError, "JYNMB> OpenCom() exited with error"));
    EXPECT_TRUE(log.Has(kLevelError, "JYNMB> ColdStart() unable to open COM9 port"));
    EXPECT_FALSE(log.Has(kLevelInfo, "JYNMB> ColdStart() exited, 0"));

    EXPECT_EQ(host.Call(kReOpenCom), kDriverFailure);
    EXPECT_TRUE(log.Has(kLevelError, "JYNMB> ReOpenCom() exited 2"));
    Fake().missingNames.clear();
    EXPECT_EQ(host.Call(kReOpenCom), kOk) << log.Dump();
    EXPECT_NE(host.Context().port, nullptr);
}

TEST_F(Lifecycle, PortNameFillingTheWholeFieldNamesNoDevice) {
    ColdStartParams params = MakeColdStart("", true);
    std::memset(params.portName, 'A', kPortNameSize);  // no terminator
    ASSERT_EQ(host.Call(kColdStart, &params), kGateFailure);
    EXPECT_TRUE(Fake().opened.empty());
    EXPECT_TRUE(log.Has(kLevelError, "JYNMB> ColdStart() unable to open AAAAAAAAAAAA port"))
        << log.Dump();
}

void* FailFirst(std::size_t) { return nullptr; }
int g_allocations = 0;
void* FailSecond(std::size_t size) { return ++g_allocations == 2 ? nullptr : std::malloc(size); }

TEST_F(Lifecycle, AllocationFailuresAreReported) {
    SetFrameAllocator(&FailFirst);
    EXPECT_EQ(host.ColdStart("COM1", true), kDriverFailure);
    EXPECT_TRUE(
        log.Has(kLevelError, "JYNMB> ColdStart() Unable to allocate memory for send buffer"));

    g_allocations = 0;
    SetFrameAllocator(&FailSecond);
    Instance other;
    const std::size_t live = FrameBufferCount();
    EXPECT_EQ(other.ColdStart("COM1", true), kDriverFailure);
    EXPECT_TRUE(
        log.Has(kLevelError, "JYNMB> ColdStart() Unable to allocate memory for receive buffer"));
    EXPECT_TRUE(Fake().opened.empty());
    // The send buffer it did get is released with the next start.
    EXPECT_TRUE(IsFrameBuffer(other.Context().sendBuffer));
    EXPECT_EQ(FrameBufferCount(), live + 1);
    SetFrameAllocator(nullptr);
    ASSERT_EQ(other.ColdStart("COM1", false), kOk);
    EXPECT_EQ(FrameBufferCount(), live + 2);
}

TEST_F(Lifecycle, SecondColdStartReleasesBuffersAndClosesThePort) {
    ASSERT_EQ(host.ColdStart("COM1", true), kOk);
    void* oldPort = host.Context().port;
    const std::size_t live = FrameBufferCount();

    // The same device opens again because the first handle was closed.
    ASSERT_EQ(host.ColdStart("COM1", true), kOk) << log.Dump();
    EXPECT_EQ(Fake().closed, std::vector<void*>{oldPort});
    EXPECT_EQ(Fake().OpenCount(), 1u);
    EXPECT_TRUE(IsStarted(host.Context()));
    EXPECT_EQ(FrameBufferCount(), live);  // the old two given back, two new ones
}

TEST_F(Lifecycle, CloseCom) {
    ASSERT_EQ(host.ColdStart("COM1", false), kOk);
    log.Clear();
    EXPECT_EQ(host.Call(kCloseCom), kOk);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kLevelInfo, "JYNMB> CloseCom() exited 0"}}));
    EXPECT_TRUE(Fake().closed.empty());

    ASSERT_EQ(host.Call(kReOpenCom), kOk);
    void* port = host.Context().port;
    Fake().failClose = true;
    log.Clear();
    EXPECT_EQ(host.Call(kCloseCom), kDriverFailure);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kLevelError, "JYNMB> CloseCom() exited 2"}}));
    EXPECT_EQ(host.Context().port, port);

    Fake().failClose = false;
    EXPECT_EQ(host.Call(kCloseCom), kOk);
    EXPECT_EQ(host.Context().port, nullptr);
    EXPECT_EQ(Fake().OpenCount(), 0u);
}

TEST_F(Lifecycle, WarmStartOnlyLogs) {
    ASSERT_EQ(host.ColdStart("COM1", false), kOk);
    const DriverContext before = host.Context();
    uint32_t station = 7;
    log.Clear();
    EXPECT_EQ(host.Call(kWarmStart, &station), kOk);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kLevelInfo, "JYNMB> WarmStart() station 7"}}));
    EXPECT_EQ(std::memcmp(&before, &host.Context(), sizeof before), 0);
}

PortChangeParams MakeChange(const std::string& name, int32_t timeout, uint16_t baud) {
    PortChangeParams params{};
    SetName(params.portName, name);
    params.replyTimeout = timeout;
    params.baudRate = baud;
    params.dataBits = 7;
    params.stopBits = 2;
    params.parity = 2;
    return params;
}

struct KeepCase {
    int32_t timeout;
    uint16_t baud;
    uint32_t expectTimeout;
    uint16_t expectBaud, expectData, expectStop, expectParity;
};

TEST_F(Lifecycle, ChangeJynParamsKeepsWhatTheHostLeavesOut) {
    const KeepCase cases[] = {
        {0, 0, 10, 9600, 8, 0, 0},
        {-1, 0, 10, 9600, 8, 0, 0},
        {-5, 19200, 10, 19200, 7, 2, 2},
        {30, 4800, 30, 4800, 7, 2, 2},
    };
    for (const KeepCase& c : cases) {
        ResetFake();
        Instance instance;
        ASSERT_EQ(instance.ColdStart("COM1", false, 10), kOk);
        PortChangeParams params = MakeChange("COM2", c.timeout, c.baud);
        ASSERT_EQ(instance.Call(kChangeJynParams, &params), kOk) << log.Dump();
        const DriverContext& context = instance.Context();
        SCOPED_TRACE(c.timeout);
        EXPECT_EQ(context.replyTimeout, c.expectTimeout);
        EXPECT_STREQ(context.portSettings.name, "COM2");
        EXPECT_EQ(context.portSettings.baudRate, c.expectBaud);
        EXPECT_EQ(context.portSettings.dataBits, c.expectData);
        EXPECT_EQ(context.portSettings.stopBits, c.expectStop);
        EXPECT_EQ(context.portSettings.parity, c.expectParity);
        EXPECT_EQ(context.portSettings.lineFlags, 0x0303);
        EXPECT_EQ(Fake().timeouts.readTotalConstant, c.expectTimeout * 10);
        EXPECT_EQ(Fake().settings.baudRate, c.expectBaud);
    }
}

TEST_F(Lifecycle, ChangeJynParamsToTheSamePortKeepsTheOldHandle) {
    ASSERT_EQ(host.ColdStart("COM1", true, 10), kOk);
    void* port = host.Context().port;
    const device::LineSettings before = Fake().settings;
    log.Clear();
    PortChangeParams params = MakeChange("COM1", 50, 19200);
    EXPECT_EQ(host.Call(kChangeJynParams, &params), kDriverFailure);
    EXPECT_EQ(host.Context().port, port);
    EXPECT_TRUE(Fake().closed.empty());
    EXPECT_EQ(Fake().settings.baudRate, before.baudRate);
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 100u);
    EXPECT_EQ(log.Lines(),
              (std::vector<LogLine>{{kLevelError, "JYNMB> OpenCom() exited with error"},
                                    {kLevelError, "JYNMB> ChangeJynParams() exited 2"}}));
}

TEST_F(Lifecycle, ChangeJynParamsToAnotherPortClosesTheFirst) {
    ASSERT_EQ(host.ColdStart("COM1", true, 10), kOk);
    void* first = host.Context().port;
    log.Clear();
    PortChangeParams params = MakeChange("COM2", -1, 0);
    ASSERT_EQ(host.Call(kChangeJynParams, &params), kOk);
    EXPECT_EQ(Fake().closed, std::vector<void*>{first});
    EXPECT_EQ(Fake().timeouts.readTotalConstant, 100u);
    const auto texts = log.Texts();
    ASSERT_EQ(texts.size(), 3u) << log.Dump();
    EXPECT_EQ(texts[0], "JYNMB> CloseCom() exited 0");
    EXPECT_EQ(texts[2], "JYNMB> ChangeJynParams() exited 0");
}

// A port replaced while its close fails: the old handle is let go of for
// good, by each command that replaces a port.
TEST_F(Lifecycle, AReplacedPortWhoseCloseFailsIsAbandoned) {
    // (ReOpenCom of a port whose close failed: tests/e2e/port_test.cpp, on
    // a real device whose descriptor was closed behind the driver's back.)
    const std::vector<const char*> commands = {"ChangeJynParams", "ColdStart"};
    for (const char* command : commands) {
        SCOPED_TRACE(command);
        ResetFake();
        Instance fresh;
        ASSERT_EQ(fresh.ColdStart("COM1", true, 10), kOk);
        Fake().failClose = true;
        const std::string name = command;
        PortChangeParams params = MakeChange("COM2", 0, 0);
        const int32_t result = name == "ColdStart" ? fresh.ColdStart("COM2", true, 10)
                                                   : fresh.Call(kChangeJynParams, &params);
        EXPECT_EQ(result, kOk);
        EXPECT_EQ(Fake().OpenCount(), 1u) << "the old handle is still held";
        Fake().failClose = false;
    }
}

TEST_F(Lifecycle, ReopenAfterAFailedChangeDoesNotStrandTheOldHandle) {
    ASSERT_EQ(host.ColdStart("COM1", true, 10), kOk);
    void* first = host.Context().port;
    Fake().failClose = true;  // CloseCom fails: COM1 stays open
    Fake().missingNames.insert("COM2");
    PortChangeParams params = MakeChange("COM2", 0, 0);
    EXPECT_EQ(host.Call(kChangeJynParams, &params), kDriverFailure);
    EXPECT_EQ(host.Context().port, first);

    Fake().failClose = false;
    Fake().missingNames.clear();
    ASSERT_EQ(host.Call(kReOpenCom), kOk);
    EXPECT_NE(host.Context().port, first);
    EXPECT_EQ(Fake().closed, std::vector<void*>{first});
    EXPECT_EQ(Fake().OpenCount(), 1u);
}

}  // namespace
}  // namespace jyn::testing
