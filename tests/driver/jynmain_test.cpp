// The exported entry point, its function table and the information record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/banner.h"
#include "interface/host_abi.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

TEST(JynMain, CodesWithoutAServiceReturnTwoAndLogNothing) {
    LogRecorder log;
    Instance host;
    const DriverContext before = host.Context();
    for (uint32_t code : {0u, 8u, 9u, 16u, 17u, 0xFFFFFFFFu}) {
        EXPECT_EQ(host.Call(code), kDriverFailure) << code;
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    EXPECT_EQ(std::memcmp(&before, &host.Context(), sizeof before), 0);
    EXPECT_EQ(JynMain(nullptr), kDriverFailure);
}

TEST(JynMain, GetJynInfoWorksBeforeColdStartWithoutAContext) {
    LogRecorder log;
    DriverInfo info;
    std::memset(&info, 0xEE, sizeof info);
    CallBlock block{};
    block.function = kGetJynInfo;
    block.params = &info;
    ASSERT_EQ(JynMain(&block), kOk);
    EXPECT_EQ(info.infoCode, 70);
    EXPECT_STREQ(info.name, "Mitsubishi MELSEC-A");
    EXPECT_EQ(info.banner, kBanner);
    EXPECT_EQ(info.contextSize, sizeof(DriverContext));
    EXPECT_EQ(info.infoValue, 4);
    EXPECT_EQ(info.defaultBaudRate, 9600);
    EXPECT_EQ(info.defaultDataBits, 8);
    EXPECT_EQ(info.defaultStopBits, 0);
    EXPECT_EQ(info.defaultParity, 0);
    EXPECT_EQ(info.infoFlags, 3);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{kLevelInfo, "JYNMB> GetJynInfo() exited"}}));
}

// The banner as a person draws it, converted here to code page 437.
std::string ExpectedBanner() {
    const std::pair<const char*, char> kCp437[] = {
        {"┌", '\xDA'}, {"─", '\xC4'}, {"┐", '\xBF'}, {"│", '\xB3'}, {"└", '\xC0'},
        {"┘", '\xD9'}, {"█", '\xDB'}, {"▓", '\xB2'}, {"▒", '\xB1'}, {"░", '\xB0'},
    };
    const std::string h60 = [] {
        std::string s;
        for (int i = 0; i < 60; ++i) s += "─";
        return s;
    }();
    const std::string drawn = "\n┌" + h60 + "┐\n" +
                              "│ █████▓▓▓▓▓▓▒▒▒▒▒▒░░░░░░  J Y N M B  ░░░░▒▒▒▒▒▒▓▓▓▓▓▓█████  │\n" +
                              "│            Mitsubish Melsec-A Driver installed.            │\n" +
                              "│                Mitsubishi Melsec-A Protocol.               │\n" +
                              "│" + std::string(60, ' ') + "│\n" + "└" + h60 + "┘\n";
    std::string out;
    for (std::size_t i = 0; i < drawn.size();) {
        bool mapped = false;
        for (const auto& [utf8, byte] : kCp437) {
            const std::size_t n = std::strlen(utf8);
            if (drawn.compare(i, n, utf8) == 0) {
                out += byte;
                i += n;
                mapped = true;
                break;
            }
        }
        if (!mapped) out += drawn[i++];
    }
    return out;
}

TEST(JynMain, BannerIsByteForByteTheInstallationText) {
    const std::string expected = ExpectedBanner();
    ASSERT_EQ(expected.size(), 379u);
    EXPECT_EQ(std::strlen(kBanner), kBannerLength);
    EXPECT_EQ(std::string(kBanner, kBannerLength), expected);
    // Six lines of 62 characters after the opening line feed.
    for (std::size_t line = 0; line < 6; ++line) EXPECT_EQ(kBanner[1 + line * 63 + 62], '\n');
}

}  // namespace
}  // namespace jyn::testing
