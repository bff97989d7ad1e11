// The pseudo-terminal front end: a client on the slave gets its replies
// within a bounded wait, may close and reopen the slave, and Stop is prompt.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "sim/pty_server.h"
#include "tests/sim/pty_client.h"
#include "tests/sim/sim_test_util.h"

namespace {

using namespace simtest;
using std::chrono::milliseconds;

constexpr milliseconds kLimit(3000);

std::string Target(const std::string& link) {
    char target[256] = {};
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

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

// The link is taken over only when it leads nowhere: a file, or the line of
// a simulator still serving, stays as it is.
TEST(SimPty, LinkReplacesOnlyADeadLink) {
    jynsim::Simulator sim(OneStation(1, jynsim::CpuFamily::kAcpu));
    jynsim::PtyServer serving(sim);
    const std::string live = testing::TempDir() + "jyn_sim_live_" + std::to_string(getpid());
    std::string error;
    ASSERT_TRUE(serving.Start({live}, error)) << error;
    const std::string path = testing::TempDir() + "jyn_sim_path_" + std::to_string(getpid());
    const struct {
        const char* what;
        std::function<bool()> make;
        const char* refusal;  // null: taken over
    } cases[] = {
        {"a file",
         [&] {
             const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
             return fd >= 0 && close(fd) == 0;
         },
         "not a symlink"},
        {"a served line", [&] { return symlink(serving.SlavePath().c_str(), path.c_str()) == 0; },
         "still there"},
        {"a dead link", [&] { return symlink("/dev/pts/jyn-gone", path.c_str()) == 0; }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(path.c_str());
        ASSERT_TRUE(c.make());
        jynsim::PtyServer server(sim);
        error.clear();
        EXPECT_EQ(server.Start({path}, error), c.refusal == nullptr) << error;
        if (c.refusal != nullptr) {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        } else {
            EXPECT_EQ(Target(path), server.SlavePath());
        }
        server.Stop();
    }
    EXPECT_EQ(Target(live), serving.SlavePath()) << "the served link stays";
    serving.Stop();
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
