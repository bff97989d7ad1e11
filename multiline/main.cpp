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
#include <string>

#include "harness/options.h"
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

bool ParseOptions(int argc, char** argv, jynmulti::RunOptions& run, jynmulti::BenchOptions& bench,
                  bool& benchMode) {
    using namespace jynharness;
    run.driver = jynhost::DriverBesideExecutable();
    const OptionTable table = {
        Flag("--bench", benchMode),
        Flag("--no-port-commands", run.portCommands, false),
        Flag("--no-vanish", run.vanish, false),
        Flag("--trace-every-line", run.traceEveryLine),
        Verbose(run.verbose),
        Flag("--no-reference", bench.reference, false),
        Smoke(bench.smoke),
        Driver(run.driver),
        List("--lines-list", bench.lines, 1, kMostLines),
        List("--bauds", bench.bauds, 0, 4000000),
        Whole("--lines", run.lines, 1, kMostLines),
        Transactions(run.transactions),
        // One time limit for either run.
        {"--seconds", true,
         [&run, &bench](const char* text) {
             if (!Number(text, 0, 1e18, run.seconds)) return false;
             bench.seconds = run.seconds;
             return true;
         }},
        Seed(run.seed),
        Timeout(run.timeoutUnits),
        Faults(run.faultShare),
        Baud(run.baud),
        Whole("--repeat", bench.repeat, 1, 100),
    };
    if (!jynharness::ParseOptions(argc, argv, table)) return false;
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
