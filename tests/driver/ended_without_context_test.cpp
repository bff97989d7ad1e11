// EndJyn called without a context still ends the library, then reports the
// missing record. The ended flag belongs to the whole process, so this runs
// in its own program.
#include <gtest/gtest.h>

#include "interface/host_abi.h"
#include "tests/support/fake_device.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

TEST(EndJyn, WithoutAContextEndsTheLibraryAndReturnsTwo) {
    ResetFake();
    LogRecorder log;
    CallBlock end{nullptr, kEndJyn, 1, 0, nullptr};
    EXPECT_EQ(JynMain(&end), kDriverFailure);
    EXPECT_EQ(log.Lines(),
              (std::vector<LogLine>{
                  {kLevelError, "JYNMB> JynMain() function 11 called without its record"}}));

    // Ended: a start that follows does nothing and says nothing.
    log.Clear();
    Instance host;
    EXPECT_EQ(host.ColdStart("COM1", true), kOk);
    EXPECT_TRUE(Fake().opened.empty());
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

}  // namespace
}  // namespace jyn::testing
