// jyn_soak: the fault soak. Usage:
//   jyn_soak [--transactions N] [--seconds S] [--seed N] [--timeout UNITS]
//            [--faults SHARE] [--classes LIST] [--baud B] [--driver-baud B] [--slow-ms MS]
//            [--noise BER] [--slow-log MS] [--jitter-ms MS] [--late-drop] [--driver PATH]
//            [--readahead MS] [--verbose]
// --baud paces the simulated line, --driver-baud is the driver's own (by
// default the line's, 57600 for a faster or unpaced one); --slow-ms sets how late the slow-reply
// fault answers (by default 1.2 to 4 reply time-outs, always given up on);
// --noise flips line bits at that rate; --late-drop lets a retry drop a
// late answer instead of the station answering it right after; --classes
// draws only the fault classes named (the simulator's names, with commas;
// the station behaviours queue-all, keep-first, late-jitter,
// slow-turnaround, foreign-nak and drip only when named; "slow-log" a host
// whose logging call takes 8 ms, as --slow-log MS does; "all" everything).
// Without --classes the faults of one reply are drawn, all of them.
// --readahead MS puts READAHEAD = MS in the station file and changes values
// behind the driver's back now and then: a value older than MS is wrong.
// --jitter-ms sets how much a late-jitter station's answers jitter (0: a
// station late by the same time with every answer).
// Exit status 0 when no wrong value, lost write, unexplained failure or
// damaged value buffer was seen; 1 otherwise; 2 when it could not start.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/client/driver_library.h"
#include "soak/fault_soak.h"

namespace {

bool Number(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0;
}

constexpr uint32_t kSlowLogMs = 8;

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

bool ParseOptions(int argc, char** argv, jynsoak::SoakOptions& options) {
    options.driver = jynhost::DriverBesideExecutable();
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (name == "--late-drop") {
            options.lateQueue = false;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* text = argv[++i];
        double value = 0;
        if (name == "--driver") {
            options.driver = text;
        } else if (name == "--classes") {
            if (!ParseClasses(text, options)) return false;
        } else if (!Number(text, value)) {
            return false;
        } else if (name == "--transactions") {
            options.transactions = static_cast<uint64_t>(value);
        } else if (name == "--seconds") {
            options.seconds = value;
        } else if (name == "--seed") {
            options.seed = static_cast<uint64_t>(value);
        } else if (name == "--timeout" && value >= 1) {
            options.timeoutUnits = static_cast<uint32_t>(value);
        } else if (name == "--baud") {
            options.baud = static_cast<uint32_t>(value);
        } else if (name == "--driver-baud" && value >= 300 && value <= 57600) {
            options.driverBaud = static_cast<uint32_t>(value);
        } else if (name == "--slow-ms") {
            options.slowMs = static_cast<uint32_t>(value);
        } else if (name == "--faults" && value <= 1) {
            options.faultShare = value;
        } else if (name == "--noise" && value <= 1) {
            options.noise = value;
        } else if (name == "--slow-log" && value <= 1000) {
            options.slowLogMs = static_cast<uint32_t>(value);
        } else if (name == "--readahead" && value >= 1 && value <= 60000) {
            options.readAheadMs = static_cast<uint32_t>(value);
        } else if (name == "--jitter-ms" && value <= 10000) {
            options.jitterMs = static_cast<int32_t>(value);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    jynsoak::SoakOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: jyn_soak [--transactions N] [--seconds S] [--seed N] [--timeout UNITS]"
                     " [--faults SHARE] [--classes LIST] [--baud B] [--driver-baud B]"
                     " [--slow-ms MS] [--noise BER] [--slow-log MS] [--jitter-ms MS] [--late-drop]"
                     " [--readahead MS] [--driver PATH]"
                     " [--verbose]\n");
        return 2;
    }
    jynsoak::FaultSoak soak(options);
    std::string error;
    if (!soak.Setup(error)) {
        std::fprintf(stderr, "jyn_soak: %s\n", error.c_str());
        return 2;
    }
    std::printf(
        "jyn_soak: %llu transactions at most, seed %llu, reply time-out %u0 ms, faults %g, "
        "baud %u (driver %u), noise %g, late answers %s, host log %u ms, driver %s\n",
        static_cast<unsigned long long>(options.transactions),
        static_cast<unsigned long long>(options.seed), options.timeoutUnits, options.faultShare,
        options.baud, unsigned{jynsoak::DriverBaud(options)}, options.noise,
        options.lateQueue ? "queue the retries" : "dropped by a retry", options.slowLogMs,
        options.driver.c_str());
    soak.Run();
    return soak.Finish() ? 0 : 1;
}
