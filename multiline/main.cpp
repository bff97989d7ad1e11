// jyn_multiline --bench: how the driver scales with lines. Usage:
//   jyn_multiline --bench [--lines-list 1,2,4,8] [--bauds 9600,115200,0]
//                 [--seconds S] [--repeat N] [--no-reference] [--smoke] [--driver PATH]
// The multi-line soak is jyn_soak --lines N. See docs/performance.md.
#include <cstdio>

#include "harness/options.h"
#include "host/client/driver_library.h"
#include "multiline/bench_lines.h"

namespace {

const char kUsage[] =
    "usage: jyn_multiline --bench [--lines-list 1,2,4,8] [--bauds 9600,115200,0]\n"
    "                     [--seconds S] [--repeat N] [--no-reference] [--smoke] [--driver PATH]\n"
    "       (the multi-line soak: jyn_soak --lines N)\n";

constexpr int kMostLines = 16;

bool ParseOptions(int argc, char** argv, jynmulti::BenchOptions& bench) {
    using namespace jynharness;
    bench.driver = jynhost::DriverBesideExecutable();
    bool benchMode = false;
    const OptionTable table = {
        Flag("--bench", benchMode),
        Flag("--no-reference", bench.reference, false),
        Smoke(bench.smoke),
        Driver(bench.driver),
        List("--lines-list", bench.lines, 1, kMostLines),
        List("--bauds", bench.bauds, 0, 4000000),
        Seconds(bench.seconds),
        Whole("--repeat", bench.repeat, 1, 100),
    };
    return jynharness::ParseOptions(argc, argv, table) && benchMode;
}

}  // namespace

int main(int argc, char** argv) {
    jynmulti::BenchOptions bench;
    if (!ParseOptions(argc, argv, bench)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return jynmulti::RunBench(bench);
}
