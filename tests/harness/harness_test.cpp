#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "harness/gate_kinds.h"
#include "harness/options.h"
#include "harness/work_directory.h"

namespace {

using namespace jynharness;

struct Settings {
    uint64_t transactions = 7;
    double seconds = 0;
    uint32_t timeout = 5;
    double faults = 0.25;
    bool verbose = false;
    std::string driver = "beside";
    std::vector<uint32_t> lines = {1};
};

bool Parse(const std::vector<const char*>& args, Settings& s) {
    std::vector<char*> argv{const_cast<char*>("prog")};
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    const OptionTable table = {Transactions(s.transactions), Seconds(s.seconds, 600),
                               Timeout(s.timeout),           Faults(s.faults),
                               Verbose(s.verbose),           Driver(s.driver),
                               List("--lines-list", s.lines, 1, 16)};
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), table);
}

TEST(HarnessOptions, AcceptsWhatIsInRangeAndRefusesTheRest) {
    struct Case {
        std::vector<const char*> args;
        bool ok;
    };
    const Case cases[] = {
        {{}, true},
        {{"--transactions", "1500", "--verbose"}, true},
        {{"--seconds", "600"}, true},
        {{"--seconds", "600.5"}, false},  // above the program's limit
        {{"--timeout", "0"}, false},      // a reply time-out of nothing
        {{"--faults", "1.01"}, false},
        {{"--faults", "0.3x"}, false},  // trailing text
        {{"--transactions", "-1"}, false},
        {{"--transactions"}, false},  // value missing
        {{"--driver", ""}, false},
        {{"--verbose", "yes"}, false},  // a flag takes no value: "yes" is no option
        {{"--unknown", "1"}, false},
        {{"--lines-list", "1,2,4,8"}, true},
        {{"--lines-list", "1,,2"}, false},
        {{"--lines-list", "0,2"}, false},
        {{"--lines-list", "17"}, false},
        {{"--lines-list", "2,"}, false},
        {{"--lines-list", "-1"}, false},
        {{"--lines-list", " 2"}, false},
    };
    for (const Case& c : cases) {
        Settings s;
        std::string line;
        for (const char* a : c.args) line += std::string(a) + " ";
        EXPECT_EQ(Parse(c.args, s), c.ok) << line;
    }
}

TEST(HarnessOptions, StoresTheValues) {
    Settings s;
    ASSERT_TRUE(Parse({"--transactions", "1500", "--timeout", "20", "--faults", "0.3",
                       "--verbose", "--driver", "lib.so", "--lines-list", "1,2,4"},
                      s));
    EXPECT_EQ(s.transactions, 1500u);
    EXPECT_EQ(s.timeout, 20u);
    EXPECT_DOUBLE_EQ(s.faults, 0.3);
    EXPECT_TRUE(s.verbose);
    EXPECT_EQ(s.driver, "lib.so");
    EXPECT_EQ(s.lines, (std::vector<uint32_t>{1, 2, 4}));
}

TEST(HarnessWorkDirectory, EntersAPrivateDirectoryAndLeavesNothing) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::string made;
    {
        WorkDirectory folder("jyn-harness-test");
        ASSERT_TRUE(folder.Ok());
        made = folder.Path();
        EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(made));
        const auto perms = std::filesystem::status(made).permissions();
        EXPECT_EQ(perms & std::filesystem::perms::all, std::filesystem::perms::owner_all);
        std::filesystem::create_directory("sub");
        std::ofstream("sub/JYNMB01.INT") << "01 = 01, FF\n";
    }
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_FALSE(std::filesystem::exists(made));
}

TEST(HarnessGateKinds, OwnedBytesAndReplyCharacters) {
    struct Case {
        Kind kind;
        int32_t count;
        uint32_t chars;
        std::size_t read, write, reply;
    };
    const Case cases[] = {
        {Kind::kBit, 0, 0, 4, 4, 1},
        {Kind::kWord, 0, 0, 4, 4, 4},
        {Kind::k32Bit, 0, 0, 4, 4, 8},
        {Kind::kString, 0, 5, 7, 6, 12},  // odd lengths take a whole last word
        {Kind::kString, 0, 0, 1, 0, 0},
        {Kind::kWordBlock, 64, 0, 128, 128, 256},
        {Kind::k32BitBlock, 32, 0, 128, 128, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(KindName(c.kind));
        EXPECT_EQ(OwnedBytes(c.kind, c.count, c.chars, false), c.read);
        EXPECT_EQ(OwnedBytes(c.kind, c.count, c.chars, true), c.write);
        EXPECT_EQ(ReplyDataChars(c.kind, c.count, c.chars), c.reply);
    }
}

}  // namespace
