// jynmb scan against the line it is meant for: a simulated line at 19200
// baud, 7 data bits, even parity, 2 stop bits, with an ACPU at station 03
// and an AnACPU at 1A. The host's data bits and parity reach the simulator
// through the shim preloaded into jynmb.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <regex>

#include "sim/pty_server.h"
#include "tests/jynmb/child_process.h"

namespace {

using jynmbtest::ChildOptions;
using jynmbtest::ChildRun;
using jynmbtest::Describe;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class JynmbScan : public ::testing::Test {
protected:
    void SetUp() override {
        jynsim::LineConfig config;
        jynsim::StationConfig station;
        station.station = 0x03;
        config.stations.push_back(station);
        station.station = 0x1A;
        station.family = jynsim::CpuFamily::kAnAcpu;
        config.stations.push_back(station);
        config.log_capacity = 100000;  // every note of the search kept
        line_ = std::make_unique<jynsim::SimulatedLine>(config);
        const std::string hostFormat = dir_.Path() + "/host-format";
        line_->CheckLine(*jynsim::ParseSerialFormat("19200,7E2"), hostFormat);
        std::string error;
        ASSERT_TRUE(line_->Start(error)) << error;
        // A sanitizer's runtime wants to come first among the libraries; the
        // shim before it does no harm, since neither touches the other.
        const char* asan = std::getenv("ASAN_OPTIONS");
        options_.env = {{"LD_PRELOAD", HOST_FORMAT_SHIM},
                        {"JYN_HOST_FORMAT_FILE", hostFormat},
                        {"ASAN_OPTIONS",
                         std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"}};
        options_.limit = std::chrono::seconds(120);
    }
    std::vector<std::string> Scan(const std::vector<std::string>& options) {
        std::vector<std::string> args = {"scan", "--timeout", "5"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(line_->Port());
        return args;
    }

    jynmbtest::TempDir dir_;
    std::unique_ptr<jynsim::SimulatedLine> line_;
    ChildOptions options_;
};

// What the host sent that the stations did not hear (another baud rate)
// is in the traffic notes; what they heard is in the records.
std::vector<std::string> CommandsSent(jynsim::Simulator& sim) {
    std::vector<std::string> commands;
    for (const jynsim::RequestRecord& record : sim.Records()) commands.push_back(record.command);
    const std::regex request("<ENQ>[0-9A-F]{4}([A-Z]{2})");
    for (const std::string& text : sim.TrafficLines()) {
        if (!Contains(text, "not heard")) continue;
        for (std::sregex_iterator it(text.begin(), text.end(), request), end; it != end; ++it)
            commands.push_back((*it)[1]);
    }
    return commands;
}

TEST_F(JynmbScan, FindsSettingsStationsAndFamiliesWithReadsOnly) {
    const ChildRun run = jynmbtest::RunChild(JYNMB_PATH,
                                             Scan({"--json", "--bauds", "9600,19200", "--frames",
                                                   "8N1,8N2,7E1,7E2", "--stations", "02,03,1A"}),
                                             options_);
    ASSERT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_TRUE(
        Contains(run.out, R"("baud": 19200, "dataBits": 7, "parity": "even", "stopBits": 2)"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, R"({"station": "03", "pc": "FF", "cpu": "ACPU")")) << run.out;
    EXPECT_TRUE(Contains(run.out, R"({"station": "1A", "pc": "FF", "cpu": "AnACPU")")) << run.out;
    EXPECT_TRUE(Contains(
        run.out, R"("tried": ["9600,8N1", "19200,8N1", "19200,8N2", "19200,7E1", "19200,7E2"])"))
        << run.out;
    // 8N2 has the stop bits of 7E2: only the shim tells them apart.
    // The whole search's bound is said before the first setting is tried.
    EXPECT_LT(run.err.find("at most "), run.err.find("9600,8N1")) << run.err;
    const std::vector<std::string> commands = CommandsSent(line_->Sim());
    EXPECT_GT(commands.size(), 9u);
    for (const std::string& command : commands)
        EXPECT_TRUE(command == "WR" || command == "QR") << command;
}

TEST_F(JynmbScan, CtrlCShowsWhatWasFoundSoFar) {
    jynmbtest::Child scan(JYNMB_PATH, Scan({"--bauds", "9600"}), options_);
    ASSERT_TRUE(scan.WaitFor("9600,8N1", std::chrono::seconds(20)));
    scan.Signal(SIGINT);
    const ChildRun run = scan.Finish(std::chrono::seconds(30));
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    EXPECT_TRUE(Contains(run.out, "no station answered at 1 settings tried (stopped)")) << run.out;
}

TEST(JynmbScanPort, APortThatDoesNotOpenIsExplainedAsByEveryCommand) {
    const ChildRun run = jynmbtest::RunChild(JYNMB_PATH, {"scan", "/dev/ttyJYNMB9"});
    EXPECT_EQ(run.exitCode, 2) << Describe(run);
    EXPECT_TRUE(Contains(run.err, "\n  no such device /dev/ttyJYNMB9: check the port name"))
        << Describe(run);
}

}  // namespace
