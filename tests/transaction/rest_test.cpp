// OFFLINE = n in the station file: a station that said nothing to a whole
// transaction rests, and its gates fail at once meanwhile.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/fake_device.h"
#include "tests/support/frames.h"
#include "tests/support/in_directory.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

// An instance number no other test's station file uses: the tests share
// their working directory.
constexpr uint32_t kInstance = 1606;
const char kFile[] = "JYNMB1606.INT";
constexpr uint32_t kTimeoutUnits = 10;
constexpr uint64_t kRestMs = 30000;

const char kResting[] = "JYNMB> DoRead() station 01h, PC FFh rests, %s s more";
const std::string kRestBegins = "JYNMB> DoRead() station 01h, PC FFh silent, rests 30 s";

class Rest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFake();
        std::ofstream(kFile) << "* a line whose stations may rest\nOFFLINE = 30\n";
        ColdStartParams params = MakeColdStart("COM1", true, kTimeoutUnits);
        ASSERT_EQ(host.Call(kColdStart, &params, kInstance), kOk);
        Fake().onWrite = [this](FakeDevice& line, const Bytes& written) {
            if (written.empty() || written[0] != '\x05') return;
            ++requests;
            if (!answer.empty()) line.Arrive(answer, 5);
        };
        log.Clear();
    }

    int32_t Read(const char* text = "01WD100", int32_t station = 1) {
        request = GateRequest{};
        request.addressText = text;
        request.gateAddress = {station, 'D', 100, -1, 16};
        request.count = 1;
        request.data = value;
        return host.Call(kSingleRead, &request);
    }
    static std::string Resting(unsigned seconds) {
        char text[96];
        std::snprintf(text, sizeof text, kResting, std::to_string(seconds).c_str());
        return text;
    }

    InDirectory directory;  // ctest runs these side by side
    LogRecorder log;
    Instance host;
    GateRequest request{};
    unsigned char value[8] = {};
    std::string answer;  // what the station says to every request; empty: nothing
    int requests = 0;
};

TEST_F(Rest, ASilentStationRestsAndIsProbedOnceAfterwards) {
    EXPECT_EQ(Read(), kDriverFailure);
    EXPECT_EQ(requests, 10);
    EXPECT_TRUE(log.Has(kLevelInfo, kRestBegins)) << log.Dump();

    // Resting: the gate fails at once, the line is not touched.
    log.Clear();
    const uint64_t start = Fake().NowMs();
    EXPECT_EQ(Read(), kDriverFailure);
    EXPECT_EQ(requests, 10);
    EXPECT_EQ(Fake().NowMs(), start);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{
                               {kLevelInfo, Resting(30)},
                               {kLevelInfo, "JYNMB> Single Read() , ret val is 2 ('01WD100')"}}));
    Fake().AdvanceMs(10500);
    log.Clear();
    EXPECT_EQ(Read(), kDriverFailure);
    EXPECT_TRUE(log.Has(kLevelInfo, Resting(20))) << log.Dump();

    // The rest is over: one silent attempt ends the transaction and starts
    // another rest.
    Fake().AdvanceMs(kRestMs);
    log.Clear();
    EXPECT_EQ(Read(), kDriverFailure);
    EXPECT_EQ(requests, 11);
    EXPECT_TRUE(log.Has(kLevelInfo, kRestBegins)) << log.Dump();

    // Another station on the line is not concerned.
    answer = DataReply("02FF0002");
    EXPECT_EQ(Read("02WD100", 2), kOk);
    EXPECT_EQ(requests, 12);
}

TEST_F(Rest, AnyAnswerEndsTheRest) {
    EXPECT_EQ(Read(), kDriverFailure);
    Fake().AdvanceMs(kRestMs);
    // The probe is answered, if only by NAKs: the usual ten attempts follow,
    // and the station does not rest after them.
    answer = Nak("01FF", "02");
    requests = 0;
    EXPECT_EQ(Read(), kGateFailure);
    EXPECT_EQ(requests, 10);
    answer.clear();
    requests = 0;
    log.Clear();
    EXPECT_EQ(Read(), kDriverFailure);
    EXPECT_EQ(requests, 10);
    EXPECT_TRUE(log.Has(kLevelInfo, kRestBegins)) << log.Dump();
}

TEST_F(Rest, PortCommandsWakeEveryStation) {
    EXPECT_EQ(Read(), kDriverFailure);
    EXPECT_EQ(host.Call(kCloseCom), kOk);
    EXPECT_EQ(host.Call(kReOpenCom), kOk);
    answer = DataReply("01FF0001");
    EXPECT_EQ(Read(), kOk);
    EXPECT_EQ(requests, 11);
}

}  // namespace
}  // namespace jyn::testing
