// EndJyn on an instance whose ColdStart failed half-way: the send buffer it
// got is given back, and the port field, never set, is left alone. The
// ended flag belongs to the whole process, so this runs in its own program.
#include <gtest/gtest.h>

#include <cstdlib>

#include "driver/lines.h"
#include "interface/host_abi.h"
#include "tests/support/fake_device.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

int g_allocations = 0;
void* FailSecond(std::size_t size) { return ++g_allocations == 2 ? nullptr : std::malloc(size); }

TEST(EndJyn, GivesBackTheBufferOfAHalfFailedStart) {
    ResetFake();
    LogRecorder log;
    Instance host;
    SetFrameAllocator(&FailSecond);
    ASSERT_EQ(host.ColdStart("COM1", true), kDriverFailure);
    SetFrameAllocator(nullptr);
    ASSERT_EQ(FrameBufferCount(), 1u);
    log.Clear();

    EXPECT_EQ(host.Call(kEndJyn), kOk);
    EXPECT_EQ(FrameBufferCount(), 0u);
    EXPECT_TRUE(Fake().closed.empty());
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kLevelInfo, "JYNMB> EndJyn() exited, 0"}}));
}

}  // namespace
}  // namespace jyn::testing
