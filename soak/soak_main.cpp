// jyn_soak: the soak, on one line or several at once (usage below). What
// each option does is told once, in docs/reliability.md ("Fault soak",
// "The multi-line run"). Exit status 0 when every check held, 1 otherwise,
// 2 when it could not start.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "harness/options.h"
#include "host/client/driver_library.h"
#include "soak/run_control.h"

namespace {

constexpr uint32_t kSlowLogMs = 8;
constexpr int kMostLines = 16;

const char kUsage[] =
    "usage: jyn_soak [--lines N] [--transactions N] [--seconds S] [--seed N] [--timeout UNITS]\n"
    "                [--faults SHARE] [--classes LIST] [--baud B] [--driver-baud B]\n"
    "                [--slow-ms MS] [--noise BER] [--slow-log MS] [--jitter-ms MS] [--late-drop]\n"
    "                [--readahead MS] [--no-port-commands] [--no-vanish] [--trace-every-line]\n"
    "                [--driver PATH] [--verbose]\n";

// "slow-reply,foreign-answer": the fault classes by their simulator names;
// "slow-log" a host whose logging call is slow, "all" every class and it.
bool ParseClasses(const std::string& text, jynsoak::SoakOptions& options) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string name = text.substr(start, comma - start);
        start = comma + 1;
        if (name == "slow-log" || name == "all") {
            if (options.slowLogMs == 0) options.slowLogMs = kSlowLogMs;
        }
        if (name == "slow-log") continue;
        for (std::size_t i = 0; name == "all" && i < jynsim::kFaultKindCount; ++i)
            options.classes.push_back(static_cast<jynsim::FaultKind>(i));
        if (name == "all") continue;
        const auto kind = jynsim::FaultFromName(name);
        if (!kind) return false;
        options.classes.push_back(*kind);
    }
    return !options.classes.empty() || options.slowLogMs != 0;
}

// The options of several lines mean nothing to one; said, not ignored.
bool ParseOptions(int argc, char** argv, jynsoak::SoakOptions& options) {
    using namespace jynharness;
    options.driver = jynhost::DriverBesideExecutable();
    const OptionTable table = {
        Verbose(options.verbose),
        Flag("--late-drop", options.lateQueue, false),
        Flag("--no-port-commands", options.portCommands, false),
        Flag("--no-vanish", options.vanish, false),
        Flag("--trace-every-line", options.traceEveryLine),
        Driver(options.driver),
        {"--classes", true, [&options](const char* text) { return ParseClasses(text, options); }},
        Whole("--lines", options.lines, 1, kMostLines),
        Transactions(options.transactions),
        Seconds(options.seconds),
        Seed(options.seed),
        Timeout(options.timeoutUnits),
        Baud(options.baud),
        Whole("--driver-baud", options.driverBaud, 300, 57600),
        Whole("--slow-ms", options.slowMs, 0, 4294967295.0),
        Faults(options.faultShare),
        Real("--noise", options.noise, 0, 1),
        Whole("--slow-log", options.slowLogMs, 0, 1000),
        Whole("--readahead", options.readAheadMs, 1, 60000),
        Whole("--jitter-ms", options.jitterMs, 0, 10000),
    };
    if (!jynharness::ParseOptions(argc, argv, table)) return false;
    const bool severalOnly = !options.portCommands || !options.vanish || options.traceEveryLine;
    if (options.lines == 1 && severalOnly) {
        std::fprintf(stderr,
                     "jyn_soak: --no-port-commands, --no-vanish and --trace-every-line"
                     " need --lines 2 or more\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    jynsoak::SoakOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return jynsoak::RunSoak(options);
}
