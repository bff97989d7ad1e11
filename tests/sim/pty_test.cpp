// The pseudo-terminal front end: a client on the slave gets its replies
// within a bounded wait, may close and reopen the slave, and Stop is prompt.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/pty_server.h"
#include "tests/sim/pty_client.h"
#include "tests/sim/sim_test_util.h"

namespace {

using namespace simtest;
using std::chrono::milliseconds;

constexpr milliseconds kLimit(3000);

TEST(SimPty, RequestGetsItsReply) {
    jynsim::SimulatedLine line(OneStation(1, jynsim::CpuFamily::kAcpu));
    std::string error;
    ASSERT_TRUE(line.Start(error)) << error;
    ASSERT_TRUE(line.Sim().SetWord(1, "D100", 0x1234));
    PtyClient client(line.Port());
    ASSERT_TRUE(client.Ok()) << line.Port();
    ASSERT_TRUE(client.Send(Request("01FFWR0D010001")));
    const std::string expected = DataReply("01FF1234");
    EXPECT_EQ(client.Read(expected.size(), kLimit), expected);
    ASSERT_TRUE(client.Send(Ack("01FF")));
    ASSERT_TRUE(line.Sim().WaitUntil(
        [](const jynsim::LineCounters& c) { return c.confirm_acks == 1; }, kLimit));
    // Nothing of the reply came back as input: the slave does not echo.
    EXPECT_EQ(line.Sim().Counters().ignored_bytes, 0u);
    EXPECT_EQ(line.Sim().Counters().requests, 1u);
}

TEST(SimPty, SlaveClosedAndReopened) {
    jynsim::SimulatedLine line(OneStation(1, jynsim::CpuFamily::kAnAcpu));
    std::string error;
    ASSERT_TRUE(line.Start(error)) << error;
    for (int round = 0; round < 3; ++round) {
        PtyClient client(line.Port());
        ASSERT_TRUE(client.Ok());
        const std::string value = "000" + std::to_string(round + 1);
        ASSERT_TRUE(
            client.Send(Request("01FFQW0D000100"
                                "01" +
                                value)));
        EXPECT_EQ(client.Read(5, kLimit), Ack("01FF")) << round;
    }
    EXPECT_EQ(line.Sim().Word(1, "D100"), 3);
}

TEST(SimPty, StopIsPromptAndLinkGoes) {
    const std::string link = testing::TempDir() + "jyn_sim_link_" + std::to_string(getpid());
    jynsim::Simulator sim(OneStation(1, jynsim::CpuFamily::kAcpu));
    jynsim::PtyServer server(sim);
    jynsim::PtyOptions options;
    options.link_path = link;
    std::string error;
    ASSERT_TRUE(server.Start(options, error)) << error;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(server.SlavePath(), target);
    PtyClient client(link);  // a client still holding the line open
    ASSERT_TRUE(client.Ok());
    const auto before = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));
    EXPECT_FALSE(server.Running());
    struct stat info {};
    EXPECT_NE(lstat(link.c_str(), &info), 0);
    server.Stop();  // twice is harmless
}

TEST(SimPty, LinkDoesNotReplaceAFile) {
    const std::string path = testing::TempDir() + "jyn_sim_file_" + std::to_string(getpid());
    {
        FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    jynsim::Simulator sim(OneStation(1, jynsim::CpuFamily::kAcpu));
    jynsim::PtyServer server(sim);
    jynsim::PtyOptions options;
    options.link_path = path;
    std::string error;
    EXPECT_FALSE(server.Start(options, error));
    EXPECT_NE(error.find("not a symlink"), std::string::npos) << error;
    EXPECT_FALSE(server.Running());
    std::remove(path.c_str());
}

TEST(SimPty, PacedLineIsNoFasterThanTheBaudRate) {
    auto config = OneStation(1, jynsim::CpuFamily::kAcpu);
    config.timing.baud = 9600;
    jynsim::SimulatedLine line(config);
    std::string error;
    ASSERT_TRUE(line.Start(error)) << error;
    PtyClient client(line.Port());
    ASSERT_TRUE(client.Ok());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Send(Request("01FFWR0D010001")));
    const std::string expected = DataReply("01FF0000");
    EXPECT_EQ(client.Read(expected.size(), kLimit), expected);
    // 17 characters in, 3 ms turnaround, 12 characters out: 33.2 ms at least.
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(33));
}

}  // namespace
