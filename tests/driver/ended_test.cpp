// After EndJyn the library answers every call with 0 and does nothing. The
// ended flag belongs to the whole process, so this runs in its own program.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/lines.h"
#include "interface/host_abi.h"
#include "tests/support/fake_device.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

TEST(EndJyn, ReleasesClosesAndEndsEveryInstance) {
    ResetFake();
    LogRecorder log;
    Instance first;
    Instance second;
    ASSERT_EQ(first.ColdStart("COM1", true), kOk);
    ASSERT_EQ(second.ColdStart("COM2", false), kOk);
    unsigned char* send = first.Context().sendBuffer;
    log.Clear();

    ASSERT_EQ(first.Call(kEndJyn), kOk);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kLevelInfo, "JYNMB> CloseCom() exited 0"},
                                                  {kLevelInfo, "JYNMB> EndJyn() exited, 0"}}));
    EXPECT_FALSE(IsFrameBuffer(send));
    EXPECT_EQ(first.Context().sendBuffer, send);  // the pointers stay as they were
    EXPECT_EQ(Fake().OpenCount(), 0u);

    // Ended: every code, on every instance, returns 0 and touches nothing.
    log.Clear();
    DriverInfo info;
    std::memset(&info, 0x5A, sizeof info);
    const DriverInfo untouched = info;
    EXPECT_EQ(second.Call(kGetJynInfo, &info), kOk);
    EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0);
    const DriverContext before = second.Context();
    for (uint32_t code = 0; code <= 17; ++code) {
        ColdStartParams params = MakeColdStart("COM3", true);
        EXPECT_EQ(second.Call(code, &params), kOk) << code;
    }
    EXPECT_EQ(JynMain(nullptr), kOk);
    EXPECT_EQ(std::memcmp(&before, &second.Context(), sizeof before), 0);
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    EXPECT_EQ(Fake().opened.size(), 1u);
}

}  // namespace
}  // namespace jyn::testing
