// jyn_multiline: several lines at once, one driver instance and one host
// thread each, against simulated lines on pseudo-terminals. Usage:
//   jyn_multiline [--lines N] [--transactions T] [--seconds S] [--seed N]
//                 [--timeout UNITS] [--faults SHARE] [--baud B]
//                 [--no-port-commands] [--no-vanish] [--trace-every-line]
//                 [--driver PATH] [--verbose]
//   jyn_multiline --bench [--lines-list 1,2,4,8] [--bauds 9600,115200,0]
//                 [--seconds S] [--repeat N] [--no-reference] [--smoke]
// The run stops at T transactions over all lines or after S seconds,
// whichever comes first. Exit status 0 when every check held, 1 when one
// did not, 2 when the run could not start. See docs/reliability.md and
// docs/performance.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/client/driver_library.h"
#include "multiline/bench_lines.h"
#include "multiline/soak_run.h"

namespace {

const char kUsage[] =
    "usage: jyn_multiline [--lines N] [--transactions T] [--seconds S] [--seed N]\n"
    "                     [--timeout UNITS] [--faults SHARE] [--baud B]\n"
    "                     [--no-port-commands] [--no-vanish] [--trace-every-line]\n"
    "                     [--driver PATH] [--verbose]\n"
    "       jyn_multiline --bench [--lines-list 1,2,4,8] [--bauds 9600,115200,0]\n"
    "                     [--seconds S] [--repeat N] [--no-reference] [--smoke]\n";

constexpr int kMostLines = 16;

bool Number(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0;
}

// The options without a value; false for any other.
bool Flag(const std::string& name, jynmulti::RunOptions& run, jynmulti::BenchOptions& bench) {
    struct Switch {
        const char* name;
        bool* setting;
        bool value;
    };
    const Switch switches[] = {
        {"--no-port-commands", &run.portCommands, false},  {"--no-vanish", &run.vanish, false},
        {"--trace-every-line", &run.traceEveryLine, true}, {"--verbose", &run.verbose, true},
        {"--no-reference", &bench.reference, false},       {"--smoke", &bench.smoke, true},
    };
    for (const Switch& s : switches) {
        if (name == s.name) {
            *s.setting = s.value;
            return true;
        }
    }
    return false;
}

bool Value(const std::string& name, const char* text, jynmulti::RunOptions& run,
           jynmulti::BenchOptions& bench) {
    double value = 0;
    if (name == "--driver") return !(run.driver = text).empty();
    if (name == "--lines-list") return jynmulti::ParseList(text, kMostLines, false, bench.lines);
    if (name == "--bauds") return jynmulti::ParseList(text, 4000000, true, bench.bauds);
    if (!Number(text, value)) return false;
    if (name == "--lines" && value >= 1 && value <= kMostLines) {
        run.lines = static_cast<int>(value);
    } else if (name == "--transactions") {
        run.transactions = static_cast<uint64_t>(value);
    } else if (name == "--seconds") {
        run.seconds = bench.seconds = value;
    } else if (name == "--seed") {
        run.seed = static_cast<uint64_t>(value);
    } else if (name == "--timeout" && value >= 1) {
        run.timeoutUnits = static_cast<uint32_t>(value);
    } else if (name == "--faults" && value <= 1) {
        run.faultShare = value;
    } else if (name == "--baud") {
        run.baud = static_cast<uint32_t>(value);
    } else if (name == "--repeat" && value >= 1 && value <= 100) {
        bench.repeat = static_cast<int>(value);
    } else {
        return false;
    }
    return true;
}

bool ParseOptions(int argc, char** argv, jynmulti::RunOptions& run, jynmulti::BenchOptions& bench,
                  bool& benchMode) {
    run.driver = jynhost::DriverBesideExecutable();
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--bench") {
            benchMode = true;
        } else if (!Flag(name, run, bench)) {
            if (i + 1 >= argc || !Value(name, argv[i + 1], run, bench)) return false;
            ++i;
        }
    }
    bench.driver = run.driver;
    return true;
}

int RunLines(const jynmulti::RunOptions& options) {
    jynmulti::MultiLineRun run(options);
    std::string error;
    if (!run.Setup(error)) {
        std::fprintf(stderr, "jyn_multiline: %s\n", error.c_str());
        return 2;
    }
    run.Run();
    return run.Finish() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    jynmulti::RunOptions run;
    jynmulti::BenchOptions bench;
    bool benchMode = false;
    if (!ParseOptions(argc, argv, run, bench, benchMode)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return benchMode ? jynmulti::RunBench(bench) : RunLines(run);
}
