// jynmb scan: finds a line's settings and its stations without knowing
// them, with harmless reads of D0 through the driver, as a host reads.
#include <chrono>
#include <csignal>
#include <cstdio>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/plant/demo_directory.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/platform/platform.h"
#include "host/jynmb/platform/port_check.h"
#include "host/jynmb/scan/scan_report.h"
#include "host/jynmb/commands/session.h"
#include "host/jynmb/commands/traced_start.h"

namespace jynmb {

namespace {

const char kScanHelp[] =
    "usage: jynmb scan [OPTIONS] PORT\n\n"
    "Finds the line settings of PORT and the stations on it: reads D0 of each\n"
    "station 00-1F (PC FF) at each baud rate the driver sets and each frame, the\n"
    "usual settings first, and asks each station that answers for its CPU family\n"
    "with a read in the extended form (QR: an AnACPU answers it, an ACPU refuses\n"
    "it). Only reads: nothing is ever written to a station.\n"
    "What the line says steers the search: silence from every station means\n"
    "nobody is at this baud rate; bytes that are no frame mean a station at this\n"
    "rate with another frame, so the other frames are tried on it; a NAK or an\n"
    "answer means the settings are right, and the search ends there.\n"
    "Before it starts it says how long the whole search takes when nothing\n"
    "answers; Ctrl-C stops after the read under way and shows what was found.\n"
    "Exit code 0 when a station answered, 1 when none did, 2 when the port or\n"
    "the command line failed.\n\n"
    "Options:\n"
    "  --bauds LIST       only these rates, in this order (9600,19200)\n"
    "  --frames LIST      only these frames, in this order (7E2,8N1): data bits 7\n"
    "                     or 8, parity N O E M S, stop bits 1 or 2\n"
    "  --stations LIST    only these station numbers, hexadecimal (03,1A,10-13)\n"
    "  --timeout N        reply time-out in units of 10 ms (default 5): a silent\n"
    "                     station costs ten of them at every rate\n"
    "  --instance N       the instance number the driver is started with\n"
    "  --driver PATH      the driver library (default: beside jynmb)\n"
    "  --json             the result as one JSON object\n"
    "  -v                 show the driver's messages with time stamps\n";

constexpr uint32_t kScanTimeoutUnits = 5;
// The family probe asks the same station through a second logical station.
constexpr unsigned kExtendedLogical = 0x20;

volatile std::sig_atomic_t g_stop = 0;
const char kStopNotice[] =
    "jynmb scan: stopping after the read under way; Ctrl-C again stops at once\n";

extern "C" void OnScanStop(int) {
    g_stop = 1;
    WriteNow(false, kStopNotice, sizeof kStopNotice - 1);
    std::signal(SIGINT, SIG_DFL);
}

struct ScanOptions {
    PortOptions port;
    std::string driver;
    ScanPlan plan;
    bool json = false;
};

bool ReadLists(Args& args, ScanPlan& plan, std::string& error) {
    std::string text;
    const std::vector<unsigned> driverBauds = DriverBaudList();
    plan.bauds = DefaultBaudOrder(driverBauds);
    plan.frames = DefaultFrameOrder();
    plan.stations = AllStations();
    if (args.Option("--bauds", text) && !ParseBaudList(text, driverBauds, plan.bauds, error))
        return false;
    if (args.Option("--frames", text) && !ParseFrameList(text, plan.frames, error)) return false;
    if (args.Option("--stations", text) && !ParseStationList(text, plan.stations, error))
        return false;
    return true;
}

bool ReadOptions(Args& args, ScanOptions& options, std::string& error) {
    args.Option("--driver", options.driver);
    options.driver = AbsolutePath(options.driver);
    options.json = args.Flag("--json");
    options.port.line.replyTimeout = kScanTimeoutUnits;
    if (!ReadLists(args, options.plan, error)) return false;
    if (!ReadInstanceOptions(args, options.port, error)) return false;
    error = args.Leftover(true);
    if (!error.empty()) return false;
    if (args.Rest().size() != 1) {
        error = args.Rest().empty() ? "no PORT given" : "one PORT, not several";
        return false;
    }
    options.port.port = PortNameForDriver(args.Rest().front());
    options.plan.timeoutUnits = options.port.line.replyTimeout;
    return true;
}

jynhost::LineSettings LineOf(unsigned baud, const ScanFrame& frame, uint32_t timeout) {
    jynhost::LineSettings line;
    line.replyTimeout = timeout;
    line.baudRate = static_cast<uint16_t>(baud);
    line.dataBits = frame.dataBits;
    line.parity = frame.parity;
    line.stopBits = frame.stopBits;
    return line;
}

// Logical stations 00-1F are the station numbers with PC FF as the driver
// maps them without a file; 20-3F the same stations as AnACPUs.
std::string ScanStationFile() {
    std::string text = "* jynmb scan: each station number once more as an AnACPU\n";
    char line[40];
    for (unsigned station = 0; station < kExtendedLogical; ++station) {
        std::snprintf(line, sizeof line, "%02X = %02X, FF, AnACPU\n", station + kExtendedLogical,
                      station);
        text += line;
    }
    return text;
}

class DriverLine : public ScanLine {
public:
    DriverLine(Session& session, const ScanOptions& options)
        : session_(session), options_(options) {}

    bool Configure(std::string& error) {
        for (unsigned station = 0; station < 2 * kExtendedLogical; ++station) {
            char text[16];
            std::snprintf(text, sizeof text, "%02XWD0", station);
            GateOutcome& gate = gates_[station];
            if (!ParseGateArg(text, gate.arg, error)) return false;
            if (!session_.Configure(gate)) {
                error = "the driver refuses the gate " + std::string(text);
                return false;
            }
        }
        return true;
    }
    bool Set(unsigned baud, const ScanFrame& frame, std::string& error) override {
        const jynhost::LineSettings line = LineOf(baud, frame, options_.plan.timeoutUnits);
        if (current_ == SettingName(baud, frame)) return true;
        if (!session_.ChangeLine(options_.port.port, line, error)) return false;
        current_ = SettingName(baud, frame);
        return true;
    }
    void Opened(const std::string& setting) { current_ = setting; }
    ProbeResult Probe(unsigned station, bool extended) override {
        GateOutcome& gate = gates_[station + (extended ? kExtendedLogical : 0)];
        const auto start = std::chrono::steady_clock::now();
        const int32_t result = session_.Read(gate);
        ProbeResult probe = ClassifyRead(result, gate.messages);
        probe.ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        return probe;
    }

private:
    Session& session_;
    const ScanOptions& options_;
    GateOutcome gates_[2 * kExtendedLogical];
    std::string current_;
};

class ProgressLines : public ScanProgress {
public:
    void Trying(const std::string& setting, std::size_t stations, double secondsLeft) override {
        std::fprintf(stderr, "%s  %-9s %2zu station%s, found %zu; up to %s left\n",
                     LocalTimeStamp(false).c_str(), setting.c_str(), stations,
                     stations == 1 ? " " : "s", found_, DurationText(secondsLeft).c_str());
        std::fflush(stderr);
    }
    void Heard(const std::string& setting, unsigned station, const ProbeResult& probe) override {
        if (probe.heard == Heard::kAnswer || probe.heard == Heard::kNak) ++found_;
        std::fprintf(stderr, "%s  %-9s station %02X: %s\n", LocalTimeStamp(false).c_str(),
                     setting.c_str(), station, HeardText(probe).c_str());
        std::fflush(stderr);
    }

private:
    std::size_t found_ = 0;
};

// Starts the driver on the first setting, in a private directory that holds
// the scan's own station file: the user's station file must not change
// which stations are asked and how.
bool StartScan(Session& session, DriverLine& line, ScanOptions& options) {
    const ScanPlan& plan = options.plan;
    options.port.line = LineOf(plan.bauds.front(), plan.frames.front(), plan.timeoutUnits);
    const std::string name = StationFileNames(options.port.instance).front();
    std::string error;
    PrivateDirectory directory;
    if (!directory.Enter("jynmb-scan-", error) ||
        !directory.WriteFile(name, ScanStationFile(), error)) {
        std::fprintf(stderr, "jynmb scan: %s\n", error.c_str());
        return false;
    }
    if (!StartSession(session, "scan", options.driver, options.port, options.json)) return false;
    line.Opened(SettingName(plan.bauds.front(), plan.frames.front()));
    if (!line.Configure(error)) {
        std::fprintf(stderr, "jynmb scan: %s\n", error.c_str());
        return false;
    }
    return true;
}

void Announce(const ScanOptions& options) {
    const ScanPlan& plan = options.plan;
    std::fprintf(stderr,
                 "jynmb scan: %s, %zu baud rate%s, up to %zu frames each, %zu station%s, reply "
                 "time-out %u ms\njynmb scan: at most %s if nothing answers; Ctrl-C stops and "
                 "shows what was found\n",
                 options.port.port.c_str(), plan.bauds.size(), plan.bauds.size() == 1 ? "" : "s",
                 plan.frames.size(), plan.stations.size(), plan.stations.size() == 1 ? "" : "s",
                 static_cast<unsigned>(plan.timeoutUnits * 10),
                 DurationText(WorstCaseSeconds(plan)).c_str());
    std::fflush(stderr);
}

}  // namespace

int RunScan(Args& args) {
    if (args.Flag("--help")) {
        std::fputs(kScanHelp, stdout);
        return kExitOk;
    }
    InstallQuietMessageHandler(args);
    ScanOptions options;
    std::string error;
    if (!ReadOptions(args, options, error)) return UsageError("scan", error);
    Session session;
    DriverLine line(session, options);
    if (!StartScan(session, line, options)) return kExitUsage;
    Announce(options);
    g_stop = 0;
    std::signal(SIGINT, &OnScanStop);
    const auto start = std::chrono::steady_clock::now();
    ProgressLines progress;
    const ScanOutcome outcome = jynmb::RunScan(options.plan, line, progress, g_stop);
    std::signal(SIGINT, SIG_DFL);
    session.End();
    ScanReportInfo info{
        options.port.port, options.port.instance, options.plan.timeoutUnits,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
    const std::string report = options.json ? ScanJson(outcome, info) : ScanTable(outcome, info);
    std::fputs(report.c_str(), stdout);
    if (!outcome.error.empty()) {
        std::fprintf(stderr, "jynmb scan: %s\n", outcome.error.c_str());
        return kExitUsage;
    }
    return outcome.found ? kExitOk : kExitGate;
}

}  // namespace jynmb
