// `jynmb sim` on POSIX: the line on a pseudo-terminal until SIGINT/SIGTERM.
#include <signal.h>

#include <cstdio>

#include "sim/config_files.h"
#include "sim/hex.h"
#include "sim/pty_server.h"
#include "sim/sim_command.h"

namespace jynsim {
namespace {

bool Preset(const std::string& path, Simulator& simulator, std::string& error) {
    std::string text;
    if (!ReadTextFile(path, text)) {
        error = "cannot read '" + path + "'";
        return false;
    }
    std::vector<PresetEntry> entries;
    if (!ParsePreset(text, entries, error) || !ApplyPreset(entries, simulator, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

void PrintLine(const SimCommandOptions& options, const PtyServer& server) {
    std::printf("port: %s\n", server.SlavePath().c_str());
    if (!server.LinkPath().empty()) std::printf("link: %s\n", server.LinkPath().c_str());
    for (const StationConfig& station : options.line.stations) {
        std::printf("station %s, PC %s, %s\n", FormatHex(station.station, 2).c_str(),
                    FormatHex(station.pc, 2).c_str(), FamilyName(station.family));
    }
    const LineTiming& timing = options.line.timing;
    if (timing.baud > 0)
        std::printf("paced at %u baud, %d bits a character\n", timing.baud, timing.bits_per_char);
    if (options.line.noise.bit_error_rate > 0) {
        std::printf("noise: %g per bit, seed %llu\n", options.line.noise.bit_error_rate,
                    static_cast<unsigned long long>(options.line.noise.seed));
    }
    if (options.line_format) {
        std::printf("line: %s; %s\n", FormatSerialFormat(*options.line_format).c_str(),
                    options.host_format_file.empty()
                        ? "baud rate and stop bits checked (a pseudo-terminal shows no more)"
                        : "baud rate, stop bits, and data bits and parity from the host's shim");
    }
    if (options.line.queue_behind_late_answer) std::printf("late answers: requests queue behind\n");
    std::printf("serving; Ctrl-C to stop\n");
    std::fflush(stdout);
}

void PrintSummary(const Simulator& simulator, bool noisy) {
    const LineCounters counters = simulator.Counters();
    std::uint64_t faults = 0;
    for (const auto count : counters.faults) faults += count;
    std::printf(
        "requests %llu (writes carried out %llu), NAKs %llu, faults %llu, unaddressed %llu\n",
        static_cast<unsigned long long>(counters.requests),
        static_cast<unsigned long long>(counters.writes_carried_out),
        static_cast<unsigned long long>(counters.naks), static_cast<unsigned long long>(faults),
        static_cast<unsigned long long>(counters.unaddressed));
    if (noisy) std::printf("noise: %s\n", NoiseSummary(counters.noise).c_str());
}

}  // namespace

int ServeSimLine(const SimCommandOptions& options) {
    Simulator simulator(options.line);
    std::string error;
    if (!options.preset_path.empty() && !Preset(options.preset_path, simulator, error)) {
        std::fprintf(stderr, "jynmb sim: --preset %s\n", error.c_str());
        return 2;
    }
    if (options.random_faults) simulator.SetRandomFaults(*options.random_faults);
    if (options.trace) simulator.SetTrafficFile(stdout);
    // Block the stop signals before the serving thread exists, so only the
    // sigwait below receives them.
    sigset_t stop_signals;
    sigset_t previous;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
    PtyServer server(simulator);
    PtyOptions pty;
    pty.link_path = options.link_path;
    if (options.line_format) server.CheckLine(*options.line_format, options.host_format_file);
    if (!server.Start(pty, error)) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        std::fprintf(stderr, "jynmb sim: %s\n", error.c_str());
        return 2;
    }
    PrintLine(options, server);
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.Stop();
    simulator.SetTrafficFile(nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    PrintSummary(simulator, options.line.noise.bit_error_rate > 0);
    return 0;
}

}  // namespace jynsim
