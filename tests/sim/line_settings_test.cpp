// The stations' line settings on a pseudo-terminal: a host at another baud
// rate is not heard, one with another frame hears garbage as long as the
// answer, one set alike gets the answer. Stop bits come from the kernel;
// data bits and parity from the shim's file, when there is one.
#include "sim/line_settings.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <cstdio>
#include <fstream>

#include "sim/pty_server.h"
#include "tests/sim/pty_client.h"
#include "tests/sim/sim_test_util.h"

namespace {

using namespace simtest;
using std::chrono::milliseconds;

constexpr milliseconds kLimit(3000);
// Only for a reply that must not come: the note that it was not heard
// comes first, so this is no race.
constexpr milliseconds kQuiet(100);

bool SetPort(int fd, speed_t speed, bool twoStopBits) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag =
        twoStopBits ? (tio.c_cflag | CSTOPB) : (tio.c_cflag & ~static_cast<tcflag_t>(CSTOPB));
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

struct HostCase {
    const char* name;
    speed_t speed;
    bool twoStopBits;
    const char* shim;  // what the shim's file says of the host (null: no file)
    enum { kAnswer, kGarbage, kSilence } hears;
};

const HostCase kHosts[] = {
    {"set alike", B19200, true, "19200,7E2", HostCase::kAnswer},
    {"no shim: data bits and parity unseen", B19200, true, nullptr, HostCase::kAnswer},
    {"another baud rate", B9600, true, "9600,7E2", HostCase::kSilence},
    {"one stop bit", B19200, false, "19200,7E1", HostCase::kGarbage},
    {"8 data bits, no parity", B19200, true, "19200,8N2", HostCase::kGarbage},
    {"odd parity", B19200, true, "19200,7O2", HostCase::kGarbage},
};

TEST(SimLineSettings, HostHearsWhatItsSettingsAllow) {
    const std::string shim = ::testing::TempDir() + "/host-format-" + std::to_string(getpid());
    for (const HostCase& c : kHosts) {
        SCOPED_TRACE(c.name);
        std::remove(shim.c_str());
        jynsim::LineConfig config = OneStation(3, jynsim::CpuFamily::kAcpu);
        jynsim::SimulatedLine line(config);
        line.CheckLine(*jynsim::ParseSerialFormat("19200,7E2"), shim);
        std::string error;
        ASSERT_TRUE(line.Start(error)) << error;
        PtyClient client(line.Port());
        ASSERT_TRUE(client.Ok() && SetPort(client.Fd(), c.speed, c.twoStopBits));
        if (c.shim != nullptr) std::ofstream(shim) << line.Port() << " " << c.shim << "\n";
        ASSERT_TRUE(client.Send(Request("03FFWR0D000001")));
        const std::string answer = DataReply("03FF0000");
        if (c.hears == HostCase::kSilence) {
            const auto unheard = [&] {
                for (const std::string& text : line.Sim().TrafficLines())
                    if (text.find("not heard") != std::string::npos) return true;
                return false;
            };
            for (auto end = std::chrono::steady_clock::now() + kLimit;
                 !unheard() && std::chrono::steady_clock::now() < end;) {
                client.Read(1, milliseconds(10));
            }
            EXPECT_TRUE(unheard());
            EXPECT_EQ(client.Read(1, kQuiet), "");
            EXPECT_EQ(line.Sim().Counters().requests, 0u);
            continue;
        }
        const std::string heard = client.Read(answer.size(), kLimit);
        if (c.hears == HostCase::kAnswer) {
            EXPECT_EQ(heard, answer);
        } else {
            ASSERT_EQ(heard.size(), answer.size());
            EXPECT_NE(heard[0], answer[0]);
            EXPECT_EQ(heard.find('\x03'), std::string::npos);
        }
        EXPECT_EQ(line.Sim().Counters().requests, 1u);
    }
    std::remove(shim.c_str());
}

TEST(SimLineSettings, FormatsAndKeywordLines) {
    for (const char* good : {"19200,7E2", " 9600 , 8n1 ", "50,5S1"})
        EXPECT_TRUE(jynsim::ParseSerialFormat(good).has_value()) << good;
    for (const char* bad : {"19200", "19200,7E3", "19200,9N1", "19200,7X1", "49,8N1", ",8N1"})
        EXPECT_FALSE(jynsim::ParseSerialFormat(bad).has_value()) << bad;
    EXPECT_EQ(jynsim::FormatSerialFormat(*jynsim::ParseSerialFormat("19200,7e2")), "19200,7E2");
    std::optional<jynsim::SerialFormat> format;
    EXPECT_TRUE(jynsim::IsLineSettingLine("line = 4800,8E1", format));
    EXPECT_EQ(format->baud, 4800u);
    EXPECT_TRUE(jynsim::IsLineSettingLine("LINE=fast", format));
    EXPECT_FALSE(format.has_value());
    EXPECT_FALSE(jynsim::IsLineSettingLine("L100=1", format));
    EXPECT_FALSE(jynsim::ParseHostFormatLine("/dev/pts/4 19200,7E2", "/dev/pts/3").has_value());
}

}  // namespace
