// The jynmb command as an integrator runs it: the built executable in a
// child process, against simulated stations served on a pseudo-terminal by
// this test. Exit codes, messages, help and options alike on every command,
// output that cannot be written, gates with characters the driver does not
// read, why a port does not open, the JSON of every command, poll's plain
// lines and Ctrl-C, explain's frames and the demo.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "sim/pty_server.h"
#include "tests/jynmb/child_process.h"
#include "tests/jynmb/plant.h"

namespace {

using jynmbtest::ChildOptions;
using jynmbtest::ChildRun;
using jynmbtest::Describe;
using jynmbtest::FindOnPath;
using jynmbtest::RunChild;
using jynmbtest::TempDir;

// The simulator answers within a few milliseconds; a loaded machine may
// hold its thread back much longer, and a reply that comes late costs a
// retry, so answering stations get time to spare.
const std::string kTimeout = "--timeout=30";
// Where no answer comes at all, ten attempts of this stay well under a second.
const std::string kSilentTimeout = "--timeout=5";

ChildRun Jynmb(const std::vector<std::string>& args, const ChildOptions& options = {}) {
    return RunChild(JYNMB_PATH, args, options);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The same with standard output on a full disk: whatever the command found,
// output it could not write makes it fail.
ChildRun JynmbToFullDisk(const std::vector<std::string>& args) {
    std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" >/dev/full", JYNMB_PATH};
    shell.insert(shell.end(), args.begin(), args.end());
    return RunChild("/bin/sh", shell);
}

void ExpectFailsOnAFullDisk(const std::vector<std::string>& args) {
    const ChildRun run = JynmbToFullDisk(args);
    EXPECT_EQ(run.exitCode, 2) << Describe(run);
    EXPECT_TRUE(Contains(run.err, "jynmb: the output could not be written")) << Describe(run);
}

// The plant of two CPUs on one line.
class JynmbLine : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(line_.Start(error)) << error;
    }
    std::vector<std::string> On(std::vector<std::string> args,
                                const std::string& timeout = kTimeout) {
        args.insert(args.begin() + 1, {"--port", line_.Port(), timeout});
        return args;
    }
    jynsim::Simulator& Sim() { return line_.Sim(); }

    jynsim::SimulatedLine line_{jynmbtest::TwoCpuPlant()};
};

}  // namespace

namespace {

struct UsageCase {
    std::vector<std::string> args;
    int exitCode;
    bool onStdout;     // where the text is expected
    const char* text;  // part of it
};

// Nothing here reaches a line: a wrong command line is refused before the
// port is opened, and a refused gate before any transfer.
const UsageCase kUsageCases[] = {
    {{}, 2, false, "usage: jynmb COMMAND"},
    {{"frobnicate"}, 2, false, "unknown command 'frobnicate'"},
    {{"--help"}, 0, true, "explain"},
    {{"info", "--help"}, 0, true, "usage: jynmb info"},
    {{"read", "--help"}, 0, true, "usage: jynmb read"},
    {{"write", "--help"}, 0, true, "usage: jynmb write"},
    {{"poll", "--help"}, 0, true, "usage: jynmb poll"},
    {{"parse", "--help"}, 0, true, "usage: jynmb parse"},
    {{"explain", "--help"}, 0, true, "usage: jynmb explain"},
    {{"sim", "--help"}, 0, true, "usage: jynmb sim"},
    {{"demo", "--help"}, 0, true, "usage: jynmb demo"},
    {{"info", "extra"}, 2, false, "unexpected 'extra'"},
    {{"read", "01WD100"}, 2, false, "--port is needed"},
    {{"read", "--port", "NUL"}, 2, false, "no GATE given"},
    {{"read", "--port", "NUL", "--baud", "fast", "01WD100"}, 2, false, "--baud wants a number"},
    {{"read", "--port", "NUL", "--baud", "115200", "01WD100"},
     2,
     false,
     "--baud 115200 does not fit: the host's record carries the baud rate in 16 bits (65535 at "
     "most); the rates the driver can set are 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, "
     "2400, 4800, 9600, 19200, 38400, 57600"},
    {{"read", "--port", "NUL", "--parity", "maybe", "01WD100"}, 2, false, "--parity wants"},
    {{"read", "--port", "NUL", "--stop-bits", "3", "01WD100"}, 2, false, "--stop-bits wants"},
    {{"read", "--port", "NUL", "--timeout"}, 2, false, "--timeout needs a value"},
    {{"read", "--port", "NUL", "01WD100*0"}, 2, false, "block size"},
    {{"read", "--port", "NUL", "01WD100:9"}, 2, false, "gate type"},
    {{"read", "--driver", "/nonexistent/libRAVEVUD.so", "--port", "NUL", "01WD100"},
     2,
     false,
     "cannot load /nonexistent/libRAVEVUD.so"},
    {{"write", "--port", "NUL", "01WD100"}, 2, false, "'01WD100' has no =VALUE"},
    {{"write", "--port", "NUL", "01WD100=0x10000"}, 2, false, "is not a word value"},
    {{"write", "--port", "NUL", "01BM5=2"}, 2, false, "is not a bit value"},
    {{"write", "--port", "NUL", "01WD100*2=1"}, 2, false, "expected 2 value(s), got 1"},
    {{"write", "--port", "NUL", "01WS0100L4=HELLO"}, 2, false, "longer than the gate's 4"},
    {{"poll", "--port", "NUL"}, 2, false, "no GATEFILE given"},
    {{"poll", "--port", "NUL", "/nonexistent/gates"}, 2, false, "cannot read the gate file"},
    {{"poll", "--port", "NUL", "--count", "-1", "gates"}, 2, false, "--count wants a number"},
    {{"poll", "--port", "NUL", "--interval", "99999999999999999999", "gates"},
     2,
     false,
     "--interval wants a number from 0 to 86400000"},
    {{"parse"}, 2, false, "no GATE given"},
    {{"parse", "--driver"}, 2, false, "--driver needs a value"},
    {{"parse", "00WQ100"}, 1, true, "refused (1): JYNMB> Parse() unknown memtype 'Q', '00WQ100'"},
    {{"parse", "01WD100*65"}, 1, true, "JYNMB> BlockParse() Gate 01WD100 block size out of range"},
    {{"explain"}, 2, false, "no GATE given"},
    {{"explain", "01WD1", "01WD2"}, 2, false, "one GATE at a time"},
    {{"explain", "--extended-on-acpu", "maybe", "01WD1"}, 2, false, "wants nak, silent or accept"},
    {{"explain", "--write", "x", "01WD1"}, 2, false, "'x' is not a word value"},
    {{"explain", "01BD100"}, 1, true, "only word gate allowed for mem type, '01BD100'"},
    {{"demo", "extra"}, 2, false, "unexpected 'extra'"},
    {{"sim", "--station", "100"}, 2, false, "--station: '100'"},
    {{"sim", "--link", "/tmp/boilerhouse"},
     2,
     false,
     "--link /tmp/boilerhouse has 16 characters, more than the driver's 11 for a port name; a "
     "shorter one would do, such as /tmp/boiler"},
    {{"sim", "--link", "plc1"}, 2, false, "give a full path, such as /tmp/plc1"},
    {{"sim", "--station", "01", "--station", "05", "--station", "01:FF"},
     2,
     false,
     "station 01 with PC FF is given twice"},
    {{"read", "--port", "NUL", "--trace", "a,b.trc", "01WD100"}, 2, false, "b.trc holds a comma"},
    {{"read", "--port", "NUL", "--trace", "/nonexistent/x.trc", "01WD100"},
     2,
     false,
     "cannot write the trace /nonexistent/x.trc"},
    {{"poll", "--port", "NUL", "--trace"}, 2, false, "--trace needs a value"},
    {{"trace"}, 2, false, "no trace FILE given"},
    {{"trace", "/nonexistent.trc"}, 2, false, "cannot read the trace '/nonexistent.trc'"},
    {{"trace", "--since", "noon", "x.trc"}, 2, false, "--since wants a time"},
    {{"trace", "--station", "100", "x.trc"}, 2, false, "--station wants SS or SS:PP"},
};

TEST(JynmbUsage, ExitCodeAndMessage) {
    for (const UsageCase& c : kUsageCases) {
        std::string command = "jynmb";
        for (const std::string& arg : c.args) command += " " + arg;
        SCOPED_TRACE(command);
        const ChildRun run = Jynmb(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << Describe(run);
        EXPECT_TRUE(Contains(c.onStdout ? run.out : run.err, c.text)) << Describe(run);
        if (c.onStdout) ExpectFailsOnAFullDisk(c.args);
    }
}

const char* const kCommands[] = {"info", "read", "write", "poll",  "parse",
                                 "explain", "sim", "demo", "trace", "scan"};

// Every command answers -h, --help and --version before it checks anything
// else, and refuses an unknown option with the same one-line hint.
TEST(JynmbUsage, EveryCommandAnswersHelpVersionAndUnknownOptionsAlike) {
    const std::string version = std::string("jynmb ") + JYN_VERSION + "\n";
    EXPECT_EQ(Jynmb({"--version"}).out, version);
    for (const std::string command : kCommands) {
        SCOPED_TRACE(command);
        const ChildRun help = Jynmb({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << Describe(help);
        EXPECT_EQ(help.out.rfind("usage: jynmb " + command, 0), 0u) << Describe(help);
        for (const std::vector<std::string>& asked :
             {std::vector<std::string>{command, "--port", "NUL", "-h"},
              std::vector<std::string>{"help", command}}) {
            const ChildRun again = Jynmb(asked);
            EXPECT_EQ(again.exitCode, 0) << Describe(again);
            EXPECT_EQ(again.out, help.out);
        }
        const ChildRun shown = Jynmb({command, "01WD100", "--version"});
        EXPECT_EQ(shown.exitCode, 0) << Describe(shown);
        EXPECT_EQ(shown.out, version);
        const ChildRun unknown = Jynmb({command, "--bogus"});
        EXPECT_EQ(unknown.exitCode, 2);
        EXPECT_EQ(unknown.err, "jynmb " + command + ": unknown option '--bogus' (see 'jynmb " +
                                   command + " --help')\n");
    }
    EXPECT_TRUE(Contains(Jynmb({"demo", "--help"}).out, "writes 15 gates"));
}

// The null device swallows every request and never answers: each attempt
// fails, and the link failure is a 2.
TEST(JynmbNoLine, ReadOnTheNullDeviceFailsAsALinkFailure) {
    const ChildRun run = Jynmb({"read", "-q", "--port", "NUL", kSilentTimeout, "01WD100"});
    EXPECT_EQ(run.exitCode, 2) << Describe(run);
    EXPECT_TRUE(Contains(run.out, "01WD100     word    failed (2): ")) << Describe(run);
}

}  // namespace

namespace {

struct JsonCase {
    const char* write;  // GATE=VALUE
    const char* json;   // the line jynmb write --json prints for it
    bool (*inPlc)(const jynsim::Simulator& sim);
};

const JsonCase kJsonCases[] = {
    {"01WD100=4660",
     R"({"gate": "01WD100", "block": 0, "type": 1, "kind": "word", "result": 0, "value": 4660})",
     [](const jynsim::Simulator& sim) { return sim.Word(1, "D100") == 0x1234; }},
    {"01BM5=1",
     R"({"gate": "01BM5", "block": 0, "type": 6, "kind": "bit", "result": 0, "value": 1})",
     [](const jynsim::Simulator& sim) { return sim.Bit(1, "M5") == true; }},
    {"01WZ200=0x12345678",
     R"({"gate": "01WZ200", "block": 0, "type": 3, "kind": "32-bit", "result": 0, "value": 305419896})",
     [](const jynsim::Simulator& sim) { return sim.Dword(1, "D200") == 0x12345678u; }},
    {"01WS0300L5=HELLO",
     R"({"gate": "01WS0300L5", "block": 0, "type": 7, "kind": "string", "result": 0, "value": "HELLO"})",
     [](const jynsim::Simulator& sim) { return sim.Text(1, "D300", 3) == std::string("HELLO"); }},
    {"01WD10*3=1,2,-1",
     R"({"gate": "01WD10*3", "block": 3, "type": 1, "kind": "word", "result": 0, "value": [1,2,65535]})",
     [](const jynsim::Simulator& sim) {
         return sim.Word(1, "D10") == 1 && sim.Word(1, "D11") == 2 && sim.Word(1, "D12") == 0xFFFF;
     }},
    {"02WD1500:2=0xBEEF",
     R"({"gate": "02WD1500", "block": 0, "type": 2, "kind": "word", "result": 0, "value": 48879})",
     [](const jynsim::Simulator& sim) { return sim.Word(5, "D1500") == 0xBEEF; }},
};

std::vector<std::string> Gates(bool withValues) {
    std::vector<std::string> gates;
    for (const JsonCase& c : kJsonCases) {
        std::string word = c.write;
        gates.push_back(withValues ? word : word.substr(0, word.find('=')));
    }
    return gates;
}

// Logical station 02 is the AnACPU, station number 05.
const char kStationFile[] = "02 = 05, FF, AnACPU\n";

TEST_F(JynmbLine, WriteAndReadPrintOneJsonObjectPerGate) {
    TempDir dir;
    dir.Write("JYNMB01.INT", kStationFile);
    ChildOptions options;
    options.directory = dir.Path();
    std::vector<std::string> args = {"write", "--json"};
    for (const std::string& gate : Gates(true)) args.push_back(gate);
    const ChildRun written = Jynmb(On(args), options);
    ASSERT_EQ(written.exitCode, 0) << Describe(written);
    std::vector<std::string> lines = Lines(written.out);
    ASSERT_EQ(lines.size(), std::size(kJsonCases) + 2) << Describe(written);
    EXPECT_EQ(lines.front(), "[");
    EXPECT_EQ(lines.back(), "]");
    for (std::size_t i = 0; i < std::size(kJsonCases); ++i) {
        const std::string comma = i + 1 < std::size(kJsonCases) ? "," : "";
        EXPECT_EQ(lines[i + 1], std::string("  ") + kJsonCases[i].json + comma);
        EXPECT_TRUE(kJsonCases[i].inPlc(Sim())) << kJsonCases[i].write;
    }
    args = {"read", "--json"};
    for (const std::string& gate : Gates(false)) args.push_back(gate);
    const ChildRun read = Jynmb(On(args), options);
    ASSERT_EQ(read.exitCode, 0) << Describe(read);
    EXPECT_EQ(read.out, written.out);  // read back, every field alike
}

TEST_F(JynmbLine, FailedGatesCarryTheDriversMessageInJson) {
    const ChildRun run = Jynmb(On({"read", "--json", "01WD2000", "00WQ100"}));
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << Describe(run);
    // The attempt number ends the message: 1, unless a late reply cost a retry.
    const std::regex nak(R"(  \{"gate": "01WD2000", "block": 0, "type": 1, "kind": "word", )"
                         R"("result": 1, "error": "JYNMB> DoRead\(\) NAK received, )"
                         R"(Character area error, retry \d+"\},)");
    EXPECT_TRUE(std::regex_match(lines[1], nak)) << lines[1];
    EXPECT_TRUE(Contains(lines[2], R"("result": 1, "error": "JYNMB> Parse() unknown memtype)"))
        << lines[2];
    EXPECT_TRUE(Contains(lines[2], R"("kind": null, )")) << lines[2];
}

TEST_F(JynmbLine, ParsePrintsTheGateAddressAsJson) {
    const ChildRun run = Jynmb({"parse", "--json", "01BM100", "00WZ100*4"});
    ASSERT_EQ(run.exitCode, 0) << Describe(run);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << Describe(run);
    EXPECT_EQ(lines[1],
              R"(  {"gate": "01BM100", "block": 0, "type": 6, "kind": "bit", "result": 0, )"
              R"("station": 1, "memType": 77, "memTypeName": "M", "address": 6, "bitIndex": 4, )"
              R"("bitWidth": 8, "device": "M100"},)");
    EXPECT_EQ(lines[2],
              R"(  {"gate": "00WZ100*4", "block": 4, "type": 3, "kind": "32-bit", "result": 0, )"
              R"("station": 0, "memType": 90, "memTypeName": "Z", "address": 50, )"
              R"("bitIndex": -1, "bitWidth": 32, "device": "D100..D107"})");
}

// A typing error in the last value or gate must not leave the first one
// written.
TEST_F(JynmbLine, WriteChecksEveryGateAndValueBeforeTheFirstWrite) {
    const struct {
        const char* last;
        const char* error;
    } cases[] = {
        {"01WD101=five", "01WD101: 'five' is not a word value"},
        {"01WQ100=1",
         "01WQ100: refused (1): JYNMB> Parse() unknown memtype 'Q', '01WQ100'; "
         "nothing is written"},
    };
    for (const auto& c : cases) {
        const ChildRun run = Jynmb(On({"write", "01WD100=5", c.last}));
        EXPECT_EQ(run.exitCode, 2) << Describe(run);
        EXPECT_TRUE(Contains(run.err, c.error)) << Describe(run);
        EXPECT_EQ(Sim().Counters().requests, 0u);
        EXPECT_EQ(Sim().Word(1, "D100"), 0);
    }
}

struct ExitCase {
    const char* gate;
    int exitCode;
    const char* output;
    const std::string& timeout;
};

const ExitCase kExitCases[] = {
    {"01WD100", 0, "01WD100     word    0 (0x0000)", kTimeout},
    {"01WD2000", 1, "failed (1): JYNMB> DoRead() NAK received, Character area error, retry ",
     kTimeout},
    {"00WQ100", 1, "refused (1): JYNMB> Parse() unknown memtype 'Q', '00WQ100'", kTimeout},
    // An odd register for a 32-bit value: the driver refuses it without a word.
    {"01WZ201", 1, "refused (1), with no message from the driver", kTimeout},
    {"03WD100", 2, "failed (2): JYNMB> DoRead() Read reply error (len=0), retry 10",
     kSilentTimeout},
};

TEST_F(JynmbLine, ExitCodeSaysWhoFailed) {
    for (const ExitCase& c : kExitCases) {
        const ChildRun run = Jynmb(On({"read", "-q", c.gate}, c.timeout));
        EXPECT_EQ(run.exitCode, c.exitCode) << c.gate << "\n" << Describe(run);
        EXPECT_TRUE(Contains(run.out, c.output)) << Describe(run);
    }
    // The worst outcome of several gates decides.
    EXPECT_EQ(Jynmb(On({"read", "-q", "03WD100", "01WD2000", "01WD100"}, kSilentTimeout)).exitCode,
              2);
}

}  // namespace

namespace {

struct VerbosityCase {
    const char* flag;  // empty: none
    const char* gate;
    const char* shown;   // empty: standard error stays empty
    const char* hidden;  // empty: nothing to miss
};

// -q holds every message back, the port's level-32 "opened" too, and shows
// the errors only beside a failure; -v puts a time stamp in front.
const VerbosityCase kVerbosityCases[] = {
    {"", "01WD100", "[32] JYNMB> ColdStart() port ", ""},
    {"-q", "01WD100", "", ""},
    {"-q", "03WD100", "[32] JYNMB> DoRead() Read reply error (len=0), retry 1\n", "[8] "},
    {"-v", "01WD100", ":", ""},
};

TEST_F(JynmbLine, DriverMessagesFollowQuietAndVerbose) {
    const std::regex stamped(R"(^\d\d:\d\d:\d\d\.\d{3} \[8\] JYNMB> GetJynInfo\(\) exited$)");
    for (const VerbosityCase& c : kVerbosityCases) {
        SCOPED_TRACE(std::string(c.flag) + " " + c.gate);
        std::vector<std::string> args = {"read", c.gate};
        if (*c.flag != '\0') args.push_back(c.flag);
        const bool answers = c.gate[1] == '1';  // station 01 answers, 03 does not
        const ChildRun run = Jynmb(On(args, answers ? kTimeout : kSilentTimeout));
        if (*c.shown == '\0') {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_TRUE(Contains(run.err, c.shown)) << Describe(run);
        }
        if (*c.hidden != '\0') {
            EXPECT_FALSE(Contains(run.err, c.hidden)) << Describe(run);
        }
        const std::vector<std::string> lines = Lines(run.err);
        const bool anyStamped = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return std::regex_match(l, stamped);
        });
        EXPECT_EQ(anyStamped, std::string(c.flag) == "-v") << Describe(run);
    }
}

// Commands that show the driver's messages in their own output repeat them
// on standard error only when asked to.
TEST(JynmbNoLine, ParseAndExplainEchoOnlyWithVerbose) {
    for (const char* command : {"parse", "explain"}) {
        const ChildRun quiet = Jynmb({command, "00WQ100"});
        EXPECT_FALSE(Contains(quiet.err, "unknown memtype")) << Describe(quiet);
        const ChildRun verbose = Jynmb({command, "-v", "00WQ100"});
        EXPECT_TRUE(Contains(verbose.err, "[8] JYNMB> Parse() unknown memtype 'Q', '00WQ100'"))
            << Describe(verbose);
    }
}

TEST_F(JynmbLine, PollPrintsOneStampedLinePerGateAndRound) {
    TempDir dir;
    dir.Write("gates", "# the plant\n01WD100\n\n01BM5   # a relay\n01WD2000\n");
    Sim().SetWord(1, "D100", 0x1234);
    Sim().SetBit(1, "M5", true);
    const ChildRun run =
        Jynmb(On({"poll", "-q", "--count", "2", "--interval", "10", dir.Path() + "/gates"}));
    EXPECT_EQ(run.exitCode, 1) << Describe(run);  // 01WD2000 is past the ACPU's D1023
    EXPECT_FALSE(Contains(run.out, "\x1b")) << "no cursor movement into a pipe";
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";
    const std::regex expected[] = {
        std::regex(stamp + R"(  (\d)  01WD100   ok           4660 \(0x1234\))"),
        std::regex(stamp + R"(  (\d)  01BM5     ok           1)"),
        std::regex(stamp + R"(  (\d)  01WD2000  failed \(1\)   JYNMB> DoRead\(\) NAK received, )"
                           R"(Character area error, retry \d+)"),
    };
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 6u) << Describe(run);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, expected[i % 3])) << lines[i];
        EXPECT_EQ(match[1], std::to_string(i / 3 + 1)) << lines[i];
    }
    // Without a count it polls until stopped, or until nobody can see it.
    ExpectFailsOnAFullDisk(On({"poll", "-q", "--interval", "10", dir.Path() + "/gates"}));
}

TEST_F(JynmbLine, PollRefusesABadGateFileLineByNumber) {
    TempDir dir;
    dir.Write("gates", "01WD100\n01WD100*0\n");
    const ChildRun run = Jynmb(On({"poll", "--count", "1", dir.Path() + "/gates"}));
    EXPECT_EQ(run.exitCode, 2) << Describe(run);
    EXPECT_TRUE(Contains(run.err, "/gates: line 2: block size in '01WD100*0'")) << Describe(run);
    EXPECT_EQ(Sim().Counters().requests, 0u);
}

}  // namespace

namespace {

struct ExplainCase {
    const char* stationFile;  // JYNMB01.INT in the working directory; empty: none
    std::vector<std::string> args;
    int exitCode;
    std::vector<const char*> shown;
};

// The frames are the worked examples of the protocol: the driver builds
// them, the simulator logs them, explain only shows what went over the line.
const ExplainCase kExplainCases[] = {
    {"",
     {"01WD100"},
     0,
     {"GateAddress  station 1, memType 'D' (0x44), address 100, bitIndex -1, bitWidth 16",
      "logical 01 -> station number 01, PC number FF, ACPU (default: no station file",
      "host > PLC  <ENQ>01FFWR0D0100012C", "device D0100 | points 01 | sum 2C",
      "PLC > host  <STX>01FF0000<ETX>", "host > PLC  <ACK>01FF", "result      0 (done)"}},
    {"",
     {"--write", "0x1234", "01WD100"},
     0,
     {"host > PLC  <ENQ>01FFWW0D0100011234FB", "| data 1234 | sum FB", "PLC > host  <ACK>01FF ",
      "<STX>01FF1234<ETX>", ": 4660 (0x1234)"}},
    {"",
     {"00WM100"},
     1,
     {"<ENQ>00FFQR0M0016000194", "<NAK>00FF06",
      "[8] JYNMB> DoRead() NAK received, Character area error, retry ",
      "a real ACPU answers it with NAK 06h"}},
    {"",
     {"--extended-on-acpu", "accept", "00WM100"},
     0,
     {"<ENQ>00FFQR0M0016000194", "<STX>00FF0000<ETX>"}},
    {"* AnACPU at station 5\n00 = 05, 00, AnACPU\n",
     {"00WS0100L20"},
     0,
     {"logical 00 -> station number 05, PC number 00, AnACPU (from JYNMB01.INT)",
      "<ENQ>0500QR0D0001000A6E", "device D000100 | points 0A"}},
    {"00 = 05, 00\n01 = 02\n",
     {"-q", "00BM100"},
     0,
     {"[32] JYNMB> ReadIntFile() illegal line 2 in 'JYNMB01.INT'", "<ENQ>0500BR0M010001"}},
    {"05 = 05, 00\n",
     {"01WD100"},
     0,
     {"logical 01 -> station number 01, PC number FF, ACPU (default: JYNMB01.INT has no line for "
      "it)"}},
    {"00 = 05, 00\n",
     {"--instance", "2", "00BM100"},
     0,
     {"default: no station file JYNMB02.INT, JYNMB2.INT or JYNMB.INT here",
      "<ENQ>00FFBR0M0100011F"}},
};

TEST(JynmbExplain, ShowsTheAddressTheEntryAndTheFramesOnTheLine) {
    for (const ExplainCase& c : kExplainCases) {
        TempDir dir;
        if (*c.stationFile != '\0') dir.Write("JYNMB01.INT", c.stationFile);
        ChildOptions options;
        options.directory = dir.Path();
        std::vector<std::string> args = {"explain", kTimeout};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ChildRun run = Jynmb(args, options);
        EXPECT_EQ(run.exitCode, c.exitCode) << Describe(run);
        for (const char* part : c.shown) {
            EXPECT_TRUE(Contains(run.out, part)) << part << "\n" << Describe(run);
        }
        if (std::string(c.args.front()) == "-q") {
            EXPECT_FALSE(Contains(run.out, "[8]")) << Describe(run);
        }
    }
}

TEST(JynmbDemo, WritesEveryKindReadsItBackAndLeavesNothingBehind) {
    TempDir work;
    TempDir temp;
    ChildOptions options;
    options.directory = work.Path();
    options.env = {{"TMPDIR", temp.Path()}};
    const ChildRun run = Jynmb({"demo"}, options);
    ASSERT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_TRUE(Contains(run.out, "All 15 gates read back as written")) << Describe(run);
    EXPECT_TRUE(Contains(run.out, "host > PLC  <ENQ>01FFWR0D0100012C")) << Describe(run);
    EXPECT_TRUE(Contains(run.out, "02WD1500     word   QW D1500 x1    QR D1500 x1    0xBEEF"))
        << Describe(run);
    EXPECT_EQ(run.err, "") << "quiet by default";
    EXPECT_TRUE(work.Entries().empty()) << "the station file stays in the demo's own directory";
    EXPECT_TRUE(temp.Entries().empty()) << "the demo's directory is removed";
}

// The demo works in a directory of its own; a relative --driver still names
// the library as seen from where jynmb was started.
TEST(JynmbDemo, TakesADriverPathRelativeToWhereItWasStarted) {
    TempDir temp;
    ChildOptions options;
    options.directory = std::filesystem::path(JYNMB_PATH).parent_path().string();
    options.env = {{"TMPDIR", temp.Path()}};
    const ChildRun run = Jynmb({"demo", "--driver", "./libRAVEVUD.so"}, options);
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
}

TEST(JynmbDemo, ShowsTheDriversMessagesWithVerbose) {
    TempDir temp;
    ChildOptions options;
    options.env = {{"TMPDIR", temp.Path()}};
    const ChildRun run = Jynmb({"demo", "-v"}, options);
    ASSERT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_TRUE(Contains(run.err, "[8] JYNMB> ReadIntFile() 02h= station 05h, PC FFh"))
        << Describe(run);
}

}  // namespace

namespace {

struct TypoCase {
    const char* write;   // GATE=VALUE, as typed
    const char* device;  // what the driver would have written
    bool (*untouched)(const jynsim::Simulator& sim);
};

// The driver reads a number up to its first other character; jynmb must not
// let a typing error behind it write another register.
const TypoCase kTypoCases[] = {
    {"01WD1O0=99", "D1", [](const jynsim::Simulator& sim) { return sim.Word(1, "D1") == 0x1111; }},
    {"01WD100x=5", "D100",
     [](const jynsim::Simulator& sim) { return sim.Word(1, "D100") == 0x1111; }},
    {"01WD1,00=7", "D1", [](const jynsim::Simulator& sim) { return sim.Word(1, "D1") == 0x1111; }},
    {"01WD100 =5", "D100",
     [](const jynsim::Simulator& sim) { return sim.Word(1, "D100") == 0x1111; }},
    {"01BY1G=1", "Y1", [](const jynsim::Simulator& sim) { return sim.Bit(1, "Y1") == false; }},
};

TEST_F(JynmbLine, WriteRefusesAGateWithCharactersTheDriverDoesNotRead) {
    Sim().SetWord(1, "D1", 0x1111);
    Sim().SetWord(1, "D100", 0x1111);
    for (const TypoCase& c : kTypoCases) {
        SCOPED_TRACE(c.write);
        const ChildRun run = Jynmb(On({"write", "-q", "01WD200=1", c.write}));
        EXPECT_EQ(run.exitCode, 2) << Describe(run);
        EXPECT_TRUE(Contains(run.err, "would write " + std::string(c.device) + "\n"))
            << Describe(run);
        EXPECT_TRUE(Contains(run.err, "--as-driver-reads")) << Describe(run);
        EXPECT_EQ(Sim().Counters().requests, 0u) << "nothing is written, not even 01WD200";
        EXPECT_TRUE(c.untouched(Sim()));
    }
    const ChildRun forced = Jynmb(On({"write", "-q", "--as-driver-reads", "01WD1O0=99"}));
    EXPECT_EQ(forced.exitCode, 0) << Describe(forced);
    EXPECT_EQ(Sim().Word(1, "D1"), 99);
    // read shows the characters and the register the driver takes instead.
    const ChildRun read = Jynmb(On({"read", "-q", "01WD1O0"}));
    EXPECT_EQ(read.out,
              "01WD1O0     word    99 (0x0063)\n"
              "     ^^  not read by the driver: the gate is D1\n")
        << Describe(read);
}

}  // namespace

namespace {

// How the test spoils the port before jynmb is started on it.
enum class Spoil { kNone, kHold, kDeny };

struct PortCase {
    const char* port;  // empty: the simulated line's own
    std::vector<std::string> options;
    Spoil spoil;
    const char* cause;  // the start of its line, "%s" for the port
};

const PortCase kPortCases[] = {
    {"/dev/ttyJYNMB9", {}, Spoil::kNone, "  no such device /dev/ttyJYNMB9: check the port name"},
    {"pts", {}, Spoil::kNone, "  /dev/pts is a directory, not a character device: "},
    {"/tmp/boilerhouse",
     {},
     Spoil::kNone,
     "  the port name '/tmp/boilerhouse' has 16 characters, more than the driver's 11: "},
    {"",
     {"--baud", "12345"},
     Spoil::kNone,
     "  the system has no setting for 12345 baud: use the link module's rate, one of 50, "},
    {"", {}, Spoil::kHold, "  %s is held by process %d ("},
    {"", {}, Spoil::kDeny, "  permission denied on %s (owner "},
};

constexpr uid_t kNobody = 65534;

// Holds the port as the driver does: an exclusive lock and TIOCEXCL.
class PortHold {
public:
    explicit PortHold(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0) ioctl(fd_, TIOCEXCL);
    }
    ~PortHold() {
        if (fd_ < 0) return;
        ioctl(fd_, TIOCNXCL);
        close(fd_);
    }
    PortHold(const PortHold&) = delete;
    PortHold& operator=(const PortHold&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

// Permission is denied to a user who may not open the device. Root may open
// anything, so root runs jynmb as nobody, from a copy nobody can reach;
// anybody else takes the device's permissions away from themselves for the
// run. `why` says what kept the run from being made.
ChildRun RunDenied(const std::string& device, const std::vector<std::string>& args,
                   std::string& why) {
    if (geteuid() != 0) {
        struct stat info {};
        stat(device.c_str(), &info);
        chmod(device.c_str(), 0);
        const ChildRun run = Jynmb(args);
        chmod(device.c_str(), info.st_mode & 07777);
        return run;
    }
    const std::string setpriv = FindOnPath("setpriv");
    if (setpriv.empty()) {
        why = "root may open any device, and setpriv, to run jynmb as nobody, is not on PATH";
        return {};
    }
    const jynmbtest::ProgramCopy copy(JYNMB_PATH, kNobody, kNobody);
    if (copy.Program().empty()) {
        why = "root may open any device, and jynmb cannot run as nobody: " + copy.Why();
        return {};
    }
    std::vector<std::string> asNobody = {"--reuid=" + std::to_string(kNobody),
                                         "--regid=" + std::to_string(kNobody), "--clear-groups",
                                         copy.Program()};
    asNobody.insert(asNobody.end(), args.begin(), args.end());
    ChildOptions options;
    options.directory = copy.Directory();
    return RunChild(setpriv, asNobody, options);
}

std::string Fill(const char* pattern, const std::string& port) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, port.c_str(), static_cast<int>(getpid()));
    return text;
}

TEST_F(JynmbLine, APortThatDoesNotOpenGetsOneLinePerCause) {
    for (const PortCase& c : kPortCases) {
        const std::string port = *c.port != '\0' ? c.port : line_.Port();
        SCOPED_TRACE(port + " " + Fill(c.cause, port));
        std::vector<std::string> args = {"read", "-q", "--port", port};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("01WD100");
        ChildRun run;
        if (c.spoil == Spoil::kHold) {
            PortHold hold(port);
            ASSERT_TRUE(hold.Held());
            run = Jynmb(args);
        } else if (c.spoil == Spoil::kDeny) {
            std::string why;
            run = RunDenied(port, args, why);
            if (!why.empty()) GTEST_SKIP() << why;
        } else {
            run = Jynmb(args);
        }
        EXPECT_EQ(run.exitCode, 2) << Describe(run);
        const std::vector<std::string> lines = Lines(run.err);
        const auto causes = std::count_if(
            lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("  ", 0) == 0; });
        EXPECT_EQ(causes, 1) << Describe(run);
        EXPECT_TRUE(Contains(run.err, "\n" + Fill(c.cause, port))) << Describe(run);
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace

namespace {

// Poll waits between rounds in short steps: Ctrl-C then ends it at once,
// here well before the minute-long interval is over.
TEST_F(JynmbLine, PollStopsOnCtrlCBetweenReads) {
    TempDir dir;
    dir.Write("gates", "01WD100\n");
    jynmbtest::Child poll(JYNMB_PATH,
                          On({"poll", "-q", "--interval", "60000", dir.Path() + "/gates"}));
    ASSERT_TRUE(poll.WaitFor("01WD100  ok", std::chrono::seconds(20)));
    poll.Signal(SIGINT);
    const ChildRun run = poll.Finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(Lines(run.out).size(), 1u) << Describe(run);
}

// During a read Ctrl-C is answered at once with a notice, and the read is
// finished; a second Ctrl-C ends poll at once. Station 03 never answers:
// each of its reads lasts ten time-outs (0.5 s each, or 10 s each when the
// second Ctrl-C must cut the read short).
TEST_F(JynmbLine, PollFinishesTheReadUnderWayOrStopsAtASecondCtrlC) {
    TempDir dir;
    dir.Write("gates", "01WD100\n03WD100\n");
    const std::string gates = dir.Path() + "/gates";
    for (const bool twice : {false, true}) {
        SCOPED_TRACE(twice ? "twice" : "once");
        const std::string timeout = twice ? "--timeout=1000" : "--timeout=50";
        const uint64_t unanswered = Sim().Counters().unaddressed;
        jynmbtest::Child poll(JYNMB_PATH,
                              On({"poll", "-q", "--interval", "60000", gates}, timeout));
        ASSERT_TRUE(poll.WaitFor("01WD100  ok", std::chrono::seconds(20)));
        // The read of 03WD100 follows at once: its first request on the line
        // says it has begun.
        ASSERT_TRUE(Sim().WaitUntil(
            [unanswered](const jynsim::LineCounters& c) { return c.unaddressed > unanswered; },
            std::chrono::seconds(20)));
        poll.Signal(SIGINT);
        const bool noticed =
            poll.WaitFor("stopping after the current read (up to ", std::chrono::seconds(5));
        if (twice && noticed) poll.Signal(SIGINT);
        const ChildRun run = poll.Finish(std::chrono::seconds(40));
        const bool readAll = Contains(run.out, "03WD100  failed (2)");
        if (!noticed) {
            // Poll was not reading yet after all: it must have stopped before.
            EXPECT_FALSE(readAll) << Describe(run);
            continue;
        }
        EXPECT_EQ(run.signal, twice ? SIGINT : 0) << Describe(run);
        EXPECT_EQ(readAll, !twice) << Describe(run);
        if (!twice) {
            EXPECT_TRUE(Contains(run.err, "(up to 6 s)")) << Describe(run);
        }
    }
}

// jynmb sim serves a multidrop line: one station number with two PC numbers
// is two stations, as the driver addresses them.
TEST(JynmbSim, ServesOneStationNumberWithTwoPcNumbers) {
    jynmbtest::Child sim(JYNMB_PATH, {"sim", "--station", "01:FF", "--station", "01:03"});
    ASSERT_TRUE(sim.WaitFor("serving", std::chrono::seconds(20)));
    sim.Signal(SIGINT);
    const ChildRun run = sim.Finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_TRUE(Contains(run.out, "station 01, PC FF, ACPU\nstation 01, PC 03, ACPU\n"))
        << Describe(run);
}

}  // namespace

namespace {

// Whether `text` is one JSON document, or (lines) one on every line, as a
// real JSON parser reads it.
::testing::AssertionResult ParsesAsJson(const std::string& text, bool lines) {
    const std::string python = FindOnPath("python3");
    TempDir dir;
    dir.Write("out.json", text);
    const ChildRun run = RunChild(
        python, {"-c",
                 "import json, sys\n"
                 "text = open(sys.argv[1]).read()\n"
                 "docs = [json.loads(l) for l in text.splitlines()] if sys.argv[2] == 'lines' "
                 "else [json.loads(text)]\n"
                 "print(len(docs))\n",
                 dir.Path() + "/out.json", lines ? "lines" : "document"});
    if (run.exitCode == 0 && run.out != "0\n") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << run.err << "\n--- the text\n" << text;
}

struct JsonCommand {
    std::vector<std::string> args;  // "PORT": the simulated line
    int exitCode;
    bool lines;
    const char* part;  // a piece the output must hold
};

const JsonCommand kJsonCommands[] = {
    {{"info", "--json"}, 0, false, R"("contextSize": )"},
    {{"parse", "--json", "01WD1O0", "00WQ1", "01WZ201"}, 1, false, R"("unread": [5, 6])"},
    {{"read", "--json", "--port", "PORT", kTimeout, "01WD10*3", "01WD2000", "00WQ1", "01WS0300L5"},
     1,
     false,
     R"("gate": "01WD10*3")"},
    {{"write", "--json", "--port", "PORT", kTimeout, "01WD10*2=1,2", "01WS0300L10=a\"b\\c"},
     0,
     false,
     R"("value": "a\"b\\c")"},
    {{"poll", "--json", "--count", "2", "--interval", "0", "--port", "PORT", kTimeout, "GATES"},
     1,
     true,
     R"("round": 2, "gate": "01WD2000")"},
    {{"explain", "--json", kTimeout, "--write", "5,6", "01WD100*2"},
     0,
     false,
     R"("function": "BlockWrite")"},
    {{"explain", "--json", "00WQ1"}, 1, false, R"("result": 1)"},
    {{"read", "--json", "--port", "/dev/ttyJYNMB9", "01WD100"},
     2,
     false,
     R"("cause": "no such device /dev/ttyJYNMB9")"},
    {{"poll", "--json", "--port", "pts", "GATES"}, 2, false, R"("causes": [{"cause": )"},
    {{"trace", "--json", "TRACE"}, 1, false, R"("naks": {"06": 1})"},
};

TEST_F(JynmbLine, EveryCommandsJsonParses) {
    if (FindOnPath("python3").empty()) GTEST_SKIP() << "no python3 on PATH to parse the JSON";
    TempDir dir;
    dir.Write("gates", "01WD100*2\n01WD2000\n00WQ1\n");
    const std::string trace = dir.Path() + "/line.trc";
    ASSERT_EQ(Jynmb(On({"read", "-q", "--trace", trace, "01WD100", "01WD2000"})).exitCode, 1);
    for (const JsonCommand& c : kJsonCommands) {
        std::vector<std::string> args = {c.args.front(), "-q"};
        for (auto word = c.args.begin() + 1; word != c.args.end(); ++word) {
            if (*word == "PORT") {
                args.push_back(line_.Port());
            } else {
                args.push_back(*word == "GATES"   ? dir.Path() + "/gates"
                               : *word == "TRACE" ? trace
                                                  : *word);
            }
        }
        SCOPED_TRACE(args.front() + " " + args[2]);
        const ChildRun run = Jynmb(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << Describe(run);
        EXPECT_TRUE(ParsesAsJson(run.out, c.lines));
        EXPECT_TRUE(Contains(run.out, c.part)) << Describe(run);
        if (c.exitCode != 2) ExpectFailsOnAFullDisk(args);
    }
}

}  // namespace
