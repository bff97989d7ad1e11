// `jynmb sim`: options, usage errors, and a whole run in a child process
// that serves until it is sent SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "sim/sim_command.h"
#include "tests/sim/pty_client.h"
#include "tests/sim/sim_test_util.h"

namespace {

using jynsim::CpuFamily;
using jynsim::SimCommandOptions;

struct OptionCase {
    std::vector<std::string> args;
    const char* error;  // empty: accepted
    bool (*check)(const SimCommandOptions&);
};

const OptionCase kOptionCases[] = {
    {{},
     "",
     [](const SimCommandOptions& o) {
         return o.line.stations.size() == 1 && o.line.stations[0].station == 1 &&
                o.line.stations[0].pc == 0xFF && !o.random_faults;
     }},
    {{"--station", "5", "--station", "1F:00:anacpu"},
     "",
     [](const SimCommandOptions& o) {
         return o.line.stations.size() == 2 && o.line.stations[0].station == 5 &&
                o.line.stations[1].pc == 0 && o.line.stations[1].family == CpuFamily::kAnAcpu;
     }},
    {{"--baud", "9600", "--bits", "11", "--turnaround", "0", "--interchar", "80"},
     "",
     [](const SimCommandOptions& o) {
         return o.line.timing.baud == 9600 && o.line.timing.bits_per_char == 11 &&
                o.line.timing.turnaround.count() == 0 &&
                o.line.timing.interchar_timeout == std::chrono::milliseconds(80);
     }},
    {{"--fault-rate", "0.24", "--seed", "9", "--slow-ms", "900", "--noise", "1e-4"},
     "",
     [](const SimCommandOptions& o) {
         return o.random_faults && o.random_faults->seed == 9 &&
                o.random_faults->probability[0] > 0.0199 &&
                o.random_faults->probability[0] < 0.0201 &&
                o.random_faults->slow_delay == std::chrono::milliseconds(900) &&
                o.line.noise.bit_error_rate == 1e-4 && o.line.noise.seed == 9 &&
                !o.line.queue_behind_late_answer;
     }},
    {{"--late-queue"},
     "",
     [](const SimCommandOptions& o) {
         return o.line.queue_behind_late_answer && o.line.noise.bit_error_rate == 0;
     }},
    {{"--noise", "2"}, "--noise: '2' is not a bit error rate", nullptr},
    {{"--extended-on-acpu", "silent", "--station", "2", "--lower-hex", "accept", "--trace"},
     "",
     [](const SimCommandOptions& o) {
         return o.line.stations[0].extended_on_acpu == jynsim::ExtendedOnAcpu::kNoAnswer &&
                o.line.decode.lower_hex_ok && o.trace;
     }},
    {{"--station", "100"}, "--station: '100'", nullptr},
    {{"--station", "1:FF:QCPU"}, "--station: '1:FF:QCPU'", nullptr},
    {{"--station"}, "--station needs a value", nullptr},
    {{"--bits", "9"}, "--bits: '9' is not a number from 10 to 11", nullptr},
    {{"--baud", "fast"}, "--baud: 'fast'", nullptr},
    {{"--fault-rate", "1.5"}, "--fault-rate: '1.5'", nullptr},
    {{"--lower-hex", "maybe"}, "--lower-hex: unknown choice 'maybe'", nullptr},
    {{"--frobnicate"}, "unknown option '--frobnicate'", nullptr},
    {{"--init", "/nonexistent/JYNMB1.INT"}, "--init: cannot read", nullptr},
};

TEST(SimCommandLine, Options) {
    for (const auto& row : kOptionCases) {
        SimCommandOptions options;
        std::string error;
        const bool ok = jynsim::ParseSimCommand(row.args, options, error);
        const std::string shown = row.args.empty() ? "(none)" : row.args[0];
        if (*row.error == '\0') {
            ASSERT_TRUE(ok) << shown << ": " << error;
            EXPECT_TRUE(row.check(options)) << shown;
        } else {
            EXPECT_FALSE(ok) << shown;
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
        }
    }
}

TEST(SimCommandLine, ExitCodes) {
    EXPECT_EQ(jynsim::RunSimCommand({"--help"}), 0);
    EXPECT_EQ(jynsim::RunSimCommand({"--bits", "12"}), 2);
    const std::string preset = testing::TempDir() + "jyn_sim_bad_preset.txt";
    std::ofstream(preset) << "D100=1\nnonsense\n";
    EXPECT_EQ(jynsim::RunSimCommand({"--preset", preset}), 2);
    std::remove(preset.c_str());
}

std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = testing::TempDir() + name + std::to_string(getpid());
    std::ofstream(path) << text;
    return path;
}

// Reads the child's standard output until `marker` shows, bounded.
bool WaitForOutput(int fd, const std::string& marker, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string seen;
    while (seen.find(marker) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fds{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&fds, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        poll(nullptr, 0, 10);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SimCommandLine, ServesUntilSigterm) {
    const std::string init = WriteFile("jyn_sim_init_", "* test line\n01 = 05, FF, AnACPU\n");
    const std::string preset = WriteFile("jyn_sim_preset_", "D100=1234\n");
    const std::string link = testing::TempDir() + "jyn_sim_cli_link_" + std::to_string(getpid());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        _exit(jynsim::RunSimCommand({"--init", init, "--preset", preset, "--link", link}));
    }
    close(out[1]);
    const bool ready = WaitForOutput(out[0], "serving", std::chrono::milliseconds(5000));
    // No early return from here on: the child must be stopped whatever fails.
    if (ready) {
        simtest::PtyClient client(link);
        EXPECT_TRUE(client.Ok());
        const bool sent = client.Ok() && client.Send(simtest::Request("05FFQR0D00010001"));
        EXPECT_TRUE(sent);
        const std::string expected = simtest::DataReply("05FF04D2");
        if (sent) {
            EXPECT_EQ(client.Read(expected.size(), std::chrono::milliseconds(3000)), expected);
        }
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitForExit(pid, std::chrono::milliseconds(5000)), 0);
    EXPECT_TRUE(ready);
    close(out[0]);
    std::remove(init.c_str());
    std::remove(preset.c_str());
}

}  // namespace
