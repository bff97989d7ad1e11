// A reply that comes just after the reply time-out. On a real line the
// station has begun to send it when the retry's ENQ arrives, so it is not
// cancelled: the retry reads it, and the station's answer to the retry
// follows. Format 1 carries no sequence number, so that second answer is
// indistinguishable from the answer to the next request to the same
// station: it must not be taken as the next gate's value.
#include <gtest/gtest.h>

#include <string>

#include "protocol/transaction.h"
#include "tests/support/fake_device.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

constexpr uint32_t kTimeoutUnits = 5;  // 50 ms

std::string DataReply(const std::string& data) {
    const std::string body = "01FF" + data + "\x03";
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", sum & 0xFF);
    return "\x02" + body + digits;
}

// A station that answers every request with the value of the register it
// names, one reply after the other; the first answer is late by `firstMs`.
struct SlowStation {
    uint32_t firstMs;
    int requests = 0;
    uint64_t lineFreeAt = 0;

    void Answer(FakeDevice& line, const Bytes& written) {
        if (written.size() < 16 || written[0] != 0x05) return;
        const std::string device = ToText(Bytes(written.begin() + 8, written.begin() + 13));
        const std::string value = device == "D0100" ? "1111" : device == "D0200" ? "2222" : "0000";
        const uint64_t ready = line.NowMs() + (requests++ == 0 ? firstMs : 5);
        const uint64_t at = ready > lineFreeAt ? ready : lineFreeAt;
        lineFreeAt = at + 13;  // twelve characters at 9600 baud
        line.Arrive(DataReply(value), static_cast<uint32_t>(at - line.NowMs()));
    }
};

void NoPause(unsigned) {}

int32_t ReadWord(Instance& host, const char* text, int32_t address, unsigned char* values) {
    GateRequest request{};
    request.addressText = text;
    request.gateAddress = {1, 'D', address, -1, 16};
    request.count = 1;
    request.data = values;
    return host.Call(kSingleRead, &request);
}

// The answer to the first read's retry, still on its way, must not be taken
// as D200's reply.
TEST(LateReply, AnswerToARetryIsNotTakenForTheNextGate) {
    ResetFake();
    protocol::SetPauseFunction(&NoPause);
    LogRecorder log;
    Instance host;
    ASSERT_EQ(host.ColdStart("COM1", true, kTimeoutUnits), kOk);
    SlowStation station{kTimeoutUnits * 10 + 1};
    Fake().onWrite = [&station](FakeDevice& line, const Bytes& written) {
        station.Answer(line, written);
    };
    unsigned char first[4] = {};
    unsigned char second[4] = {};
    ASSERT_EQ(ReadWord(host, "01WD100", 100, first), kOk) << log.Dump();
    EXPECT_EQ(first[2] | first[3] << 8, 0x1111);
    const int32_t result = ReadWord(host, "01WD200", 200, second);
    if (result == kOk) {
        EXPECT_EQ(second[2] | second[3] << 8, 0x2222)
            << "D200 reported with another register's value\n"
            << log.Dump();
    }
    protocol::SetPauseFunction(nullptr);
}

}  // namespace
}  // namespace jyn::testing
