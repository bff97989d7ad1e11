// One reply frame off the scripted line: every way a reception ends.
#include "serial/frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/port.h"
#include "tests/support/case_name.h"
#include "tests/support/fake_device.h"
#include "tests/support/instance.h"

namespace jyn::testing {
namespace {

using serial::Reception;

constexpr char STX = '\x02';
constexpr char ETX = '\x03';
constexpr char ACK = '\x06';
constexpr char NAK = '\x15';
constexpr uint32_t kTimeoutMs = 100;

class Frame : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void TearDown() override { serial::ClosePort(port); }

    void Open() {
        ResetFake();
        buffer.assign(kFrameBufferSize + kGuard, kGuardByte);
        char name[kPortNameSize];
        SetName(name, "COM1");
        ASSERT_EQ(serial::OpenPort(name, 9600, 8, 0, 0, 0x0303, port), serial::kPortOk);
        serial::SetReplyTimeout(port, kTimeoutMs / 10);
    }
    Reception Receive() {
        return serial::ReceiveReply(port, buffer.data(), kFrameBufferSize, length);
    }
    bool GuardIntact() const {
        for (std::size_t i = kFrameBufferSize; i < buffer.size(); ++i) {
            if (buffer[i] != kGuardByte) return false;
        }
        return true;
    }

    static constexpr std::size_t kGuard = 64;
    static constexpr uint8_t kGuardByte = 0xEE;
    std::vector<uint8_t> buffer;
    serial::Handle port = nullptr;
    uint16_t length = 0;
};

struct ReceiveCase {
    const char* what;
    std::string line;  // bytes on the line, all at once
    Reception result;
    uint16_t length;
    std::size_t leftOnLine;
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

const ReceiveCase kReceiveCases[] = {
    {"silence", "", Reception::kSilent, 0, 0},
    {"shortest data frame", std::string{STX, ETX} + "AB", Reception::kComplete, 4, 0},
    {"data reply", std::string{STX} + "01FF1234" + ETX + "5Axy", Reception::kComplete, 12, 2},
    {"ACK", std::string{ACK} + "01FF", Reception::kComplete, 5, 0},
    {"ACK and an extra byte", std::string{ACK} + "01FFx", Reception::kComplete, 5, 1},
    {"ACK cut short", std::string{ACK} + "01F", Reception::kBroken, 1, 0},
    {"NAK", std::string{NAK} + "01FF06", Reception::kComplete, 7, 0},
    {"NAK cut short", std::string{NAK} + "01FF0", Reception::kBroken, 1, 0},
    {"data broken off after ten bytes", std::string{STX} + "01FF12345", Reception::kBroken, 10, 0},
    {"data without its second sum character", std::string{STX} + "01FF" + ETX + "5",
     Reception::kBroken, 7, 0},
    {"stray byte before a good frame", std::string{'\0', STX} + "01FF1234" + ETX + "5A",
     Reception::kBroken, 13, 0},
    {"600 bytes without ETX", STX + Repeat('7', 600), Reception::kBroken, 512, 89},
    {"ETX at 509 fits its sum", STX + Repeat('7', 508) + ETX + "AB", Reception::kComplete, 512, 0},
    {"ETX at 510 leaves no room", STX + Repeat('7', 509) + ETX + "AB", Reception::kBroken, 511, 2},
    {"ETX at 511 leaves no room", STX + Repeat('7', 510) + ETX + "AB", Reception::kBroken, 512, 2},
    {"endless garbage", Repeat('\x7F', 700), Reception::kBroken, 512, 188},
};

void PrintTo(const ReceiveCase& c, std::ostream* out) { *out << CaseName(c.what); }

class EveryWayAReceptionEnds : public Frame, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(EveryWayAReceptionEnds, BytesLengthAndWhatIsLeft) {
    const ReceiveCase& c = GetParam();
    Fake().Arrive(c.line);
    EXPECT_EQ(Receive(), c.result);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(Fake().Pending(), c.leftOnLine);
    const std::size_t stored = std::min<std::size_t>(c.length, c.line.size());
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<long>(stored)),
              c.line.substr(0, stored));
    EXPECT_TRUE(GuardIntact());
}

INSTANTIATE_TEST_SUITE_P(Frame, EveryWayAReceptionEnds, ::testing::ValuesIn(kReceiveCases));

TEST_F(Frame, WaitsAreBoundedByTheReplyTimeoutPerByte) {
    // No answer: one time-out.
    uint64_t start = Fake().NowMs();
    EXPECT_EQ(Receive(), Reception::kSilent);
    EXPECT_EQ(Fake().NowMs() - start, kTimeoutMs);

    // Gaps shorter than the time-out between bytes: the reply may take longer
    // than one time-out as a whole.
    start = Fake().NowMs();
    const std::string reply = std::string{STX} + "01FF" + ETX + "C7";
    for (std::size_t i = 0; i < reply.size(); ++i) {
        Fake().Arrive(reply.substr(i, 1), static_cast<uint32_t>(60 * (i + 1)));
    }
    EXPECT_EQ(Receive(), Reception::kComplete);
    EXPECT_EQ(Fake().NowMs() - start, 60u * reply.size());

    // A stray byte: the line is read until it has been silent for a time-out.
    start = Fake().NowMs();
    Fake().Arrive("?x");
    EXPECT_EQ(Receive(), Reception::kBroken);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(Fake().NowMs() - start, kTimeoutMs);
}

TEST_F(Frame, SendFrameFailsOnAFailedOrShortWrite) {
    const unsigned char frame[] =
        "\x05"
        "01FFWR0D0100012C";
    EXPECT_TRUE(serial::SendFrame(port, frame, 17));
    EXPECT_EQ(ToText(Fake().written.back()), std::string(reinterpret_cast<const char*>(frame), 17));
    Fake().writeLimit = 16;
    EXPECT_FALSE(serial::SendFrame(port, frame, 17));
    Fake().writeLimit = -1;
    Fake().failWrite = true;
    EXPECT_FALSE(serial::SendFrame(port, frame, 17));
}

}  // namespace
}  // namespace jyn::testing
