// jynmb scan's search over a scripted line that behaves as a real one:
// stations at another baud rate stay silent, at their rate with another
// frame they give bytes that are no frame, at their settings they answer;
// an ACPU refuses the extended form with NAK 06h. And what the driver's
// messages during a read say the line did.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "host/jynmb/scan/scan_search.h"

namespace {

using jynmb::Heard;
using jynmb::ProbeResult;
using jynmb::ScanFrame;

class ScriptedLine : public jynmb::ScanLine {
public:
    ScriptedLine(unsigned baud, const std::string& frame, std::map<unsigned, bool> anAcpu)
        : baud_(baud), frame_(frame), anAcpu_(std::move(anAcpu)) {}

    bool Set(unsigned baud, const ScanFrame& frame, std::string&) override {
        setting_ = jynmb::SettingName(baud, frame);
        return true;
    }
    ProbeResult Probe(unsigned station, bool extended) override {
        probes_.push_back(setting_ + (extended ? " QR " : " WR ") + std::to_string(station));
        if (stopAfter_ != 0 && probes_.size() == stopAfter_) stop = 1;
        ProbeResult probe;
        const auto it = anAcpu_.find(station);
        if (it == anAcpu_.end() || setting_.rfind(std::to_string(baud_) + ",", 0) != 0)
            return probe;
        if (setting_ != std::to_string(baud_) + "," + frame_) {
            probe.heard = Heard::kNoise;
        } else if (extended && !it->second) {
            probe.heard = Heard::kNak;
            probe.nakCode = 6;
        } else {
            probe.heard = Heard::kAnswer;
        }
        return probe;
    }

    std::vector<std::string> probes_;
    std::size_t stopAfter_ = 0;
    volatile std::sig_atomic_t stop = 0;

private:
    unsigned baud_;
    std::string frame_;
    std::map<unsigned, bool> anAcpu_;  // station -> AnACPU
    std::string setting_;
};

struct Quiet : jynmb::ScanProgress {
    void Trying(const std::string&, std::size_t, double secondsLeft) override {
        left.push_back(secondsLeft);
    }
    void Heard(const std::string&, unsigned, const ProbeResult&) override {}
    std::vector<double> left;
};

jynmb::ScanPlan Plan(std::vector<unsigned> stations) {
    jynmb::ScanPlan plan;
    plan.bauds = jynmb::DefaultBaudOrder({1200, 2400, 4800, 9600, 19200});
    plan.frames = jynmb::DefaultFrameOrder();
    plan.stations = std::move(stations);
    return plan;
}

// 19200 baud, 7E2, an ACPU at 03 and an AnACPU at 1A among 32 stations:
// 9600 is silent everywhere and tried in one frame only; at 19200 the other
// frames go to the two stations that said something, and only until they
// answer; then each is asked for its family, and the search ends.
TEST(ScanSearch, FollowsWhatTheLineSays) {
    ScriptedLine line(19200, "7E2", {{0x03, false}, {0x1A, true}});
    Quiet progress;
    const jynmb::ScanOutcome outcome =
        jynmb::RunScan(Plan(jynmb::AllStations()), line, progress, line.stop);
    ASSERT_TRUE(outcome.found);
    EXPECT_EQ(jynmb::SettingName(outcome.baud, outcome.frame), "19200,7E2");
    EXPECT_EQ(outcome.tried,
              (std::vector<std::string>{"9600,8N1", "19200,8N1", "19200,7E1", "19200,7E2"}));
    ASSERT_EQ(outcome.stations.size(), 2u);
    EXPECT_EQ(outcome.stations[0].cpu, "ACPU");
    EXPECT_EQ(outcome.stations[1].cpu, "AnACPU");
    EXPECT_TRUE(outcome.noiseOnly.empty());
    EXPECT_FALSE(outcome.interrupted);
    // 32 + 32 reads in the first frames, 2 + 2 in the next, 2 family reads.
    EXPECT_EQ(line.probes_.size(), 70u);
    EXPECT_EQ(line.probes_.back(), "19200,7E2 QR 26");
    // The time left never grows while nothing new is heard.
    EXPECT_GE(progress.left[0], progress.left[1]);
}

// Nobody at any rate: one frame a rate, nothing found, every station read
// at every rate; stations that said bytes only are named.
TEST(ScanSearch, EndsAfterOneFrameARateWhenNothingAnswers) {
    ScriptedLine silent(300, "8N1", {});
    Quiet progress;
    const jynmb::ScanPlan plan = Plan({0x00, 0x05});
    const jynmb::ScanOutcome outcome = jynmb::RunScan(plan, silent, progress, silent.stop);
    EXPECT_FALSE(outcome.found);
    EXPECT_EQ(outcome.tried.size(), plan.bauds.size());
    EXPECT_EQ(silent.probes_.size(), 2 * plan.bauds.size());

    ScriptedLine odd(4800, "7M2", {{0x05, false}});  // a frame the plan leaves out
    jynmb::ScanPlan narrow = plan;
    narrow.frames = {*jynmb::ParseFrameName("8N1"), *jynmb::ParseFrameName("7E1")};
    const jynmb::ScanOutcome heard = jynmb::RunScan(narrow, odd, progress, odd.stop);
    EXPECT_FALSE(heard.found);
    EXPECT_EQ(heard.noiseOnly, std::vector<unsigned>{0x05});
}

// Ctrl-C after the first station answered: the search ends at the read
// under way, keeps what it found and asks no family.
TEST(ScanSearch, StopKeepsWhatWasFound) {
    ScriptedLine line(9600, "8N1", {{0x01, false}, {0x02, true}});
    line.stopAfter_ = 2;
    Quiet progress;
    const jynmb::ScanOutcome outcome =
        jynmb::RunScan(Plan({0x01, 0x02, 0x03}), line, progress, line.stop);
    EXPECT_TRUE(outcome.interrupted);
    ASSERT_EQ(outcome.stations.size(), 2u);
    EXPECT_EQ(outcome.stations[1].cpu, "not asked");
    EXPECT_EQ(line.probes_.size(), 2u);
}

jynmb::DriverMessage Said(const std::string& text) { return {8, text}; }

struct ReadCase {
    const char* name;
    int32_t result;
    std::vector<std::string> messages;
    Heard heard;
    int nak;
};

const ReadCase kReadCases[] = {
    {"answer", 0, {}, Heard::kAnswer, -1},
    {"answer after a retry",
     0,
     {"JYNMB> DoRead() Read reply error (len=0), retry 1"},
     Heard::kAnswer,
     -1},
    {"silence",
     2,
     {"JYNMB> DoRead() Read reply error (len=0), retry 1",
      "JYNMB> Single Read() , ret val is 2 ('03WD0')"},
     Heard::kSilence,
     -1},
    {"bytes that are no frame",
     1,
     {"JYNMB> DoRead() Read reply error (len=24), retry 1"},
     Heard::kNoise,
     -1},
    {"a frame of another length",
     1,
     {"JYNMB> DoRead() illegal length reply , retry 1"},
     Heard::kNoise,
     -1},
    {"ACPU refusal",
     1,
     {"JYNMB> DoRead() NAK received, Character area error, retry 1"},
     Heard::kNak,
     6},
    {"PC access error",
     2,
     {"JYNMB> DoRead() NAK received, PC access error, retry 1"},
     Heard::kNak,
     8},
    {"another code",
     1,
     {"JYNMB> DoRead() NAK received,  error nr. 18, retry 1"},
     Heard::kNak,
     0x12},
    {"parity errors only",
     1,
     {"JYNMB> DoRead() NAK received, Parity error, retry 1",
      "JYNMB> DoRead() NAK received, Parity error, retry 10"},
     Heard::kNoise,
     1},
    {"garbled NAK code",
     1,
     {"JYNMB> DoRead() NAK received, unreadable error code, retry 1"},
     Heard::kNoise,
     -1},
};

TEST(ScanSearch, ReadsAreClassifiedByTheDriversMessages) {
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(c.name);
        std::vector<jynmb::DriverMessage> messages;
        for (const std::string& text : c.messages) messages.push_back(Said(text));
        const ProbeResult probe = jynmb::ClassifyRead(c.result, messages);
        EXPECT_EQ(probe.heard, c.heard);
        EXPECT_EQ(probe.nakCode, c.nak);
    }
}

TEST(ScanSearch, ListsRefuseWhatCannotBeTried) {
    std::vector<unsigned> numbers;
    std::vector<ScanFrame> frames;
    std::string error;
    EXPECT_TRUE(jynmb::ParseStationList("03,1a,10-12", numbers, error));
    EXPECT_EQ(numbers, (std::vector<unsigned>{0x03, 0x1A, 0x10, 0x11, 0x12}));
    for (const char* bad : {"20", "", "03,", "12-10", "x"})
        EXPECT_FALSE(jynmb::ParseStationList(bad, numbers, error)) << bad;
    EXPECT_FALSE(jynmb::ParseBaudList("9600,12345", {9600, 19200}, numbers, error));
    EXPECT_TRUE(jynmb::ParseBaudList("19200,9600", {9600, 19200}, numbers, error));
    EXPECT_EQ(numbers, (std::vector<unsigned>{19200, 9600}));
    for (const char* bad : {"6N1", "7X1", "8N3", "7E", "7E2,"})
        EXPECT_FALSE(jynmb::ParseFrameList(bad, frames, error)) << bad;
}

}  // namespace
