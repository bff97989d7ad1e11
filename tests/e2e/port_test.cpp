// The host's port commands on real pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "tests/e2e/line.h"

namespace jyn::e2e {
namespace {

class PortCommands : public Plant {
protected:
    // EndJyn ends the library for every instance but releases only the
    // buffers of the one that ends it; the host keeps the context of any
    // other instance until the process ends.
    Instance& SecondInstance() {
        static auto* kept = new std::vector<std::unique_ptr<Instance>>();  // never destroyed
        kept->push_back(std::make_unique<Instance>(library, kInstance));
        return *kept->back();
    }

    // Reopens the port, learns its descriptor from the driver's message and
    // closes it behind the driver's back; -1 when that cannot be done.
    int ReopenAndCloseBehindTheDriversBack() {
        if (host->Call(kCloseCom, nullptr) != kOk || host->Call(kReOpenCom, nullptr) != kOk)
            return -1;
        unsigned fd = 0;
        for (const std::string& text : messages.Take()) {
            std::sscanf(text.c_str(), "JYNMB> OpenCom() exited OK, file handle %u", &fd);
        }
        if (fd == 0 || close(static_cast<int>(fd)) != 0) return -1;
        return static_cast<int>(fd);
    }

    int32_t ReadD100(uint16_t& value) {
        HostGate gate{"01WD100", 1, 0, {}};
        if (host->Configure(gate) != kOk) return -1;
        unsigned char buffer[4] = {};
        const int32_t result = host->Transfer(gate, false, buffer);
        value = static_cast<uint16_t>(buffer[2] | (buffer[3] << 8));
        return result;
    }
};

TEST_F(PortCommands, CloseReadReopen) {
    ASSERT_TRUE(Sim().SetWord(1, "D100", 4321));
    ASSERT_EQ(host->Call(kCloseCom, nullptr), kOk);
    EXPECT_EQ(messages.Take(), std::vector<std::string>{"JYNMB> CloseCom() exited 0"});

    uint16_t value = 0;
    EXPECT_EQ(ReadD100(value), kDriverFailure);
    const auto lines = messages.Take();
    EXPECT_TRUE(Messages::Contains(lines, "JYNMB> DoRead() Send req error retry 10"))
        << Messages::Join(lines);
    EXPECT_EQ(Sim().Counters().requests, 0u);

    ASSERT_EQ(host->Call(kReOpenCom, nullptr), kOk);
    EXPECT_EQ(ReadD100(value), kOk);
    EXPECT_EQ(value, 4321);
}

// The driver's descriptor closed behind its back: the close fails and the
// host keeps the handle, which must stay safe to read with and to close
// again; and the descriptor's number, handed on to another file of the host
// meanwhile, must not be touched.
TEST_F(PortCommands, AFailedCloseLeavesTheInstanceWhole) {
    const int fd = ReopenAndCloseBehindTheDriversBack();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(host->Call(kCloseCom, nullptr), kDriverFailure);
    EXPECT_EQ(messages.Take(), std::vector<std::string>{"JYNMB> CloseCom() exited 2"});
    const int hostsFile = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(hostsFile, fd) << "the lowest free number is taken";

    uint16_t value = 0;
    EXPECT_EQ(ReadD100(value), kDriverFailure);
    // Closed again (as EndJyn does), there is nothing left to give back.
    EXPECT_EQ(host->Call(kCloseCom, nullptr), kOk);
    ASSERT_EQ(host->Call(kReOpenCom, nullptr), kOk) << Messages::Join(messages.Take());
    ASSERT_TRUE(Sim().SetWord(1, "D100", 99));
    EXPECT_EQ(ReadD100(value), kOk);
    EXPECT_EQ(value, 99);
    EXPECT_NE(fcntl(hostsFile, F_GETFD), -1) << "the host's file is still open";
    close(hostsFile);
}

// The driver's descriptor closed behind its back, then ReOpenCom: the new
// open gets the freed number, which the old record still names; letting go
// of the old port must not close the new one.
TEST_F(PortCommands, AReopenAfterTheDescriptorWasClosedBehindItsBackKeepsTheNewPort) {
    ASSERT_GE(ReopenAndCloseBehindTheDriversBack(), 0);
    ASSERT_EQ(host->Call(kReOpenCom, nullptr), kOk) << Messages::Join(messages.Take());
    ASSERT_TRUE(Sim().SetWord(1, "D100", 77));
    uint16_t value = 0;
    EXPECT_EQ(ReadD100(value), kOk) << Messages::Join(messages.Take());
    EXPECT_EQ(value, 77);
}

// The driver's descriptor closed behind its back, then a second ColdStart:
// its close of the old port fails, and the device's record of that port
// must not outlive the line's last reference to it (LeakSanitizer, in the
// asan build, fails the run otherwise).
TEST_F(PortCommands, ARestartAfterAFailedCloseLeavesNothingBehind) {
    const int fd = ReopenAndCloseBehindTheDriversBack();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(host->ColdStart(PortName(line->Port()), kTimeoutUnits), kOk)
        << Messages::Join(messages.Take());
    ASSERT_TRUE(Sim().SetWord(1, "D100", 5));
    uint16_t value = 0;
    EXPECT_EQ(ReadD100(value), kOk);
    EXPECT_EQ(value, 5);
}

TEST_F(PortCommands, ChangeToTheSamePortKeepsTheOpenOne) {
    ASSERT_TRUE(Sim().SetWord(1, "D100", 77));
    // The line is held exclusively: a second open of it fails, the first
    // handle stays in use.
    EXPECT_EQ(host->ChangePort(PortName(line->Port()), 5), kDriverFailure);
    const auto lines = messages.Take();
    EXPECT_TRUE(Messages::Contains(lines, "JYNMB> ChangeJynParams() exited 2"))
        << Messages::Join(lines);
    uint16_t value = 0;
    EXPECT_EQ(ReadD100(value), kOk);
    EXPECT_EQ(value, 77);
}

TEST_F(PortCommands, ChangeToAnotherLine) {
    jynsim::SimulatedLine second(PlantConfig());
    std::string error;
    ASSERT_TRUE(second.Start(error)) << error;
    ASSERT_TRUE(Sim().SetWord(1, "D100", 1));
    ASSERT_TRUE(second.Sim().SetWord(1, "D100", 2));

    ASSERT_EQ(host->ChangePort(PortName(second.Port()), -1), kOk)
        << Messages::Join(messages.Take());
    uint16_t value = 0;
    EXPECT_EQ(ReadD100(value), kOk);
    EXPECT_EQ(value, 2);

    // The first line was given back: another instance can open it now.
    Instance& other = SecondInstance();
    EXPECT_EQ(other.ColdStart(PortName(line->Port()), kTimeoutUnits), kOk);
    EXPECT_EQ(other.Call(kCloseCom, nullptr), kOk);
    second.Stop();
}

TEST_F(PortCommands, ReplyTimeoutBoundsASilentRead) {
    // A new time-out comes with a change of port: closed first, the same
    // line opens again with it.
    ASSERT_EQ(host->Call(kCloseCom, nullptr), kOk);
    ASSERT_EQ(host->ChangePort(PortName(line->Port()), 5), kOk);
    // Logical station 03 addresses station 3, which nobody on the line is.
    HostGate gate{"03WD100", 1, 0, {}};
    ASSERT_EQ(host->Configure(gate), kOk);
    unsigned char value[4] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(host->Transfer(gate, false, value), kDriverFailure);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    // Ten attempts of one 50 ms time-out each; loosely bounded above for a
    // loaded machine.
    EXPECT_GE(ms, 500);
    EXPECT_LT(ms, 500 + 2000);
}

TEST_F(PortCommands, TwoInstancesOnTwoLines) {
    jynsim::SimulatedLine second(PlantConfig());
    std::string error;
    ASSERT_TRUE(second.Start(error)) << error;
    ASSERT_TRUE(second.Sim().SetWord(2, "D5", 0xBEEF));
    Instance& other = SecondInstance();
    ASSERT_EQ(other.ColdStart(PortName(second.Port()), kTimeoutUnits), kOk);
    HostGate gate{"02WD5", 1, 0, {}};
    ASSERT_EQ(other.Configure(gate), kOk);
    unsigned char value[4] = {};
    EXPECT_EQ(other.Transfer(gate, false, value), kOk);
    EXPECT_EQ(value[2] | (value[3] << 8), 0xBEEF);
    EXPECT_EQ(host->Transfer(gate, false, value), kOk);
    EXPECT_EQ(value[2] | (value[3] << 8), 0);
    EXPECT_EQ(other.Call(kCloseCom, nullptr), kOk);
    second.Stop();
}

}  // namespace
}  // namespace jyn::e2e
