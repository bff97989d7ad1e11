// jynmb explain: how the driver sees one gate. The address as the parser
// leaves it, the station entry it maps to, and the frames the real driver
// exchanges with a simulated station of that entry: what went over the line
// is taken from the simulator's traffic log, never rebuilt here.
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "host/jynmb/commands.h"
#include "host/jynmb/messages.h"
#include "host/jynmb/plant_transfer.h"
#include "host/jynmb/platform.h"
#include "host/jynmb/session.h"
#include "host/jynmb/traffic_view.h"
#include "host/jynmb/value_text.h"
#include "sim/config_files.h"
#include "sim/hex.h"
#include "sim/simulator.h"

namespace jynmb {

namespace {

const char kExplainHelp[] =
    "usage: jynmb explain [OPTIONS] GATE\n\n"
    "Shows how the driver sees one gate: the GateAddress its parser makes of the\n"
    "address text, the station entry the gate maps to (after ColdStart, so a\n"
    "station file JYNMB<N>.INT in the current directory applies), and the frames\n"
    "the driver exchanges with a simulated station of that entry: request, reply\n"
    "and confirmation. GATE as for 'jynmb read' (TEXT[*N][:TYPE]).\n\n"
    "Options:\n"
    "  --write VALUE      write VALUE first (as for 'jynmb write'), then read back\n"
    "  --instance N       the host's instance number: names the station file (default 1)\n"
    "  --timeout N        reply time-out in units of 10 ms (default 20)\n"
    "  --extended-on-acpu nak|silent|accept\n"
    "                     what the simulated ACPU answers to JR/JW/QR/QW (default nak,\n"
    "                     NAK 06h, as a real ACPU does)\n"
    "  --driver PATH      the driver library (default: beside jynmb)\n"
    "  -q, -v             without level-8 driver messages / driver messages on standard\n"
    "                     error with time stamps\n\n"
    "Exit code 0 when every transfer succeeded, 1 when the gate or the PLC refused,\n"
    "2 when the driver or the simulated line failed.\n";

constexpr uint32_t kDefaultTimeout = 20;

const char* const kResultMeaning[] = {"done", "the gate or the PLC refused",
                                      "the driver, the port or the link failed"};

struct ExplainPlan {
    PortOptions options;
    std::string driver;
    GateOutcome gate;
    bool write = false;
    std::string writeText;
    jynsim::ExtendedOnAcpu extended = jynsim::ExtendedOnAcpu::kNak;
    Verbosity verbosity = Verbosity::kNormal;
    bool acpu = false;  // the gate's station entry says ACPU
};

bool ReadExtended(Args& args, ExplainPlan& plan, std::string& error) {
    std::string word;
    if (!args.Option("--extended-on-acpu", word)) return true;
    const struct {
        const char* word;
        jynsim::ExtendedOnAcpu policy;
    } kChoices[] = {{"nak", jynsim::ExtendedOnAcpu::kNak},
                    {"silent", jynsim::ExtendedOnAcpu::kNoAnswer},
                    {"accept", jynsim::ExtendedOnAcpu::kAccept}};
    for (const auto& choice : kChoices) {
        if (word == choice.word) {
            plan.extended = choice.policy;
            return true;
        }
    }
    error = "--extended-on-acpu wants nak, silent or accept, not '" + word + "'";
    return false;
}

bool ReadPlan(Args& args, ExplainPlan& plan, std::string& error) {
    plan.options.line.replyTimeout = kDefaultTimeout;
    plan.write = args.Option("--write", plan.writeText);
    args.Option("--driver", plan.driver);
    if (!ReadExtended(args, plan, error) || !ReadInstanceOptions(args, plan.options, error)) {
        return false;
    }
    if (!args.UnknownOption().empty()) {
        error = "unknown option " + args.UnknownOption();
        return false;
    }
    if (args.Rest().size() != 1) {
        error = args.Rest().empty() ? "no GATE given" : "one GATE at a time";
        return false;
    }
    // ColdStart opens nothing yet: the simulated station is made from the
    // entry the driver reads, and the port given afterwards.
    plan.options.port = "NUL";
    plan.options.openNow = false;
    return ParseGateArg(args.Rest().front(), plan.gate.arg, error);
}

void PrintMessages(const std::vector<DriverMessage>& messages, Verbosity verbosity) {
    if (verbosity == Verbosity::kVerbose) return;  // already on standard error
    for (const DriverMessage& message : messages) {
        if (verbosity == Verbosity::kQuiet && message.level <= jyn::kLevelInfo) continue;
        std::printf("  driver      [%d] %s\n", message.level, message.text.c_str());
    }
}

// The station files the driver looks for, its own instance's first, then
// the one shared by all; it reads the first that opens.
std::vector<std::string> StationFileNames(uint32_t instance) {
    char own[2][32];
    std::snprintf(own[0], sizeof own[0], "JYNMB%02u.INT", instance);
    std::snprintf(own[1], sizeof own[1], "JYNMB%u.INT", instance);
    return {own[0], own[1], "JYNMB.INT"};
}

// Where the entry came from: the station file the driver read, and whether
// it has a line for the station, read as the driver reads it.
std::string EntrySource(int station, uint32_t instance) {
    const std::vector<std::string> names = StationFileNames(instance);
    const auto file = std::find_if(names.begin(), names.end(), [](const std::string& name) {
        return std::ifstream(name).is_open();
    });
    if (file == names.end()) {
        return "default: no station file " + names[0] + ", " + names[1] + " or " + names[2] +
               " here";
    }
    std::string text;
    if (jynsim::ReadTextFile(*file, text)) {
        for (const unsigned logical : jynsim::ParseStationFile(text).logical) {
            if (static_cast<int>(logical) == station) return "from " + *file;
        }
    }
    return "default: " + *file + " has no line for it";
}

void PrintStation(const ExplainPlan& plan, const jyn::StationEntry& entry,
                  const std::vector<DriverMessage>& startMessages) {
    const int station = plan.gate.address.station;
    std::printf("station      logical %02X -> station number %02X, PC number %02X, %s (%s)\n",
                static_cast<unsigned>(station), entry.stationNumber, entry.pcNumber,
                entry.cpuType == jyn::kCpuA ? "ACPU" : "AnACPU",
                EntrySource(station, plan.options.instance).c_str());
    // Bad lines of the station file are worth seeing next to the entry.
    for (const DriverMessage& message : startMessages) {
        if (message.level > jyn::kLevelInfo && plan.verbosity != Verbosity::kVerbose) {
            std::printf("  driver      [%d] %s\n", message.level, message.text.c_str());
        }
    }
}

jynsim::LineConfig PlantFor(const jyn::StationEntry& entry, jynsim::ExtendedOnAcpu extended) {
    jynsim::StationConfig station;
    station.station = entry.stationNumber;
    station.pc = entry.pcNumber;
    station.family =
        entry.cpuType == jyn::kCpuA ? jynsim::CpuFamily::kAcpu : jynsim::CpuFamily::kAnAcpu;
    station.extended_on_acpu = extended;
    jynsim::LineConfig config;
    config.stations.push_back(station);
    return config;
}

// The extended form goes to an ACPU station when the range passes the
// ACPU limit; a real ACPU does not know those commands.
bool ExtendedToAcpu(const std::vector<jynsim::TrafficEntry>& entries) {
    for (const jynsim::TrafficEntry& entry : entries) {
        if (entry.direction == jynsim::Direction::kToPlc && entry.bytes.size() > 5 &&
            entry.bytes[0] == jynsim::kEnqChar &&
            (entry.bytes[5] == 'J' || entry.bytes[5] == 'Q')) {
            return true;
        }
    }
    return false;
}

// One read or write, the frames it put on the line, what the driver said.
int32_t Transact(Session& session, PlantLine& plant, ExplainPlan& plan, bool write) {
    GateOutcome& gate = plan.gate;
    const bool block = gate.arg.IsBlock();
    const ValueKind kind = KindOf(gate.arg, gate.address);
    std::printf(
        "\n%s, %s (code %u)%s%s:\n", write ? "write" : "read",
        write ? (block ? "BlockWrite" : "SingleWrite") : (block ? "BlockRead" : "SingleRead"),
        write ? (block ? jyn::kBlockWrite : jyn::kSingleWrite)
              : (block ? jyn::kBlockRead : jyn::kSingleRead),
        write ? " of " : "", write ? FormatValue(kind, gate.value).c_str() : "");
    jynsim::Simulator& sim = plant.Sim();
    sim.ClearTraffic();
    const int32_t result = TransferOnPlant(session, sim, gate, write);
    const std::vector<jynsim::TrafficEntry> frames = sim.Traffic();
    PrintFrames(frames);
    PrintMessages(gate.messages, plan.verbosity);
    if (plan.acpu && ExtendedToAcpu(frames)) {
        std::printf(
            "  note        the range passes the ACPU limit, so the driver sends this ACPU\n"
            "              station an AnACPU command; a real ACPU answers it with NAK 06h\n"
            "              (--extended-on-acpu accept shows a CPU that takes it)\n");
    }
    const char* meaning = result >= 0 && result <= 2 ? kResultMeaning[result] : "unknown";
    std::printf("  result      %d (%s)", result, meaning);
    if (!write && result == jyn::kOk) std::printf(": %s", FormatValue(kind, gate.value).c_str());
    std::printf("\n");
    return result;
}

int ExitCodeOf(int32_t result) {
    if (result == jyn::kOk) return kExitOk;
    return result == jyn::kGateFailure ? kExitGate : kExitUsage;
}

// The part that needs the simulated line.
int ExplainOnLine(Session& session, ExplainPlan& plan, const jyn::StationEntry& entry) {
    std::string error;
    std::unique_ptr<PlantLine> plant = StartPlantLine(PlantFor(entry, plan.extended), error);
    if (plant == nullptr) {
        std::fprintf(stderr, "jynmb explain: %s\n", error.c_str());
        return kExitUsage;
    }
    std::printf("plant        simulated %s, station %02X, PC %02X, on %s\n",
                entry.cpuType == jyn::kCpuA ? "ACPU" : "AnACPU", entry.stationNumber,
                entry.pcNumber, plant->DevicePath().c_str());
    if (plant->PortName() != plant->DevicePath()) {
        std::printf("             (the driver's port name for it: %s)\n",
                    plant->PortName().c_str());
    }
    if (!session.ChangePort(plant->PortName(), error)) {
        std::fprintf(stderr, "jynmb explain: %s\n", error.c_str());
        return kExitUsage;
    }
    TakeDriverMessages();
    int exitCode = kExitOk;
    if (plan.write)
        exitCode = std::max(exitCode, ExitCodeOf(Transact(session, *plant, plan, true)));
    exitCode = std::max(exitCode, ExitCodeOf(Transact(session, *plant, plan, false)));
    session.End();
    return exitCode;
}

}  // namespace

int RunExplain(Args& args) {
    if (args.Flag("--help")) {
        std::printf("%s", kExplainHelp);
        return kExitOk;
    }
    ExplainPlan plan;
    plan.verbosity = InstallQuietMessageHandler(args);
    std::string error;
    if (!ReadPlan(args, plan, error)) return UsageError("explain", error);
    Session session;
    if (!session.Start(plan.driver, plan.options, error)) {
        std::fprintf(stderr, "jynmb explain: %s\n", error.c_str());
        return kExitUsage;
    }
    const std::vector<DriverMessage> startMessages = TakeDriverMessages();
    GateOutcome& gate = plan.gate;
    const bool accepted = session.Configure(gate);
    std::printf("gate         %s, gate type %d, %s (code %u)\n", gate.arg.text.c_str(),
                gate.arg.gateType,
                gate.arg.IsBlock()
                    ? ("BlockAddressParser, block of " + std::to_string(gate.arg.blockSize)).c_str()
                    : "SingleAddressParser",
                gate.arg.IsBlock() ? jyn::kBlockAddressParser : jyn::kSingleAddressParser);
    if (!accepted) {
        std::printf("refused      %s\n",
                    gate.lastMessage.empty() ? "(no message)" : gate.lastMessage.c_str());
        return kExitGate;
    }
    std::printf("GateAddress  %s\n", DescribeGateAddress(gate.arg, gate.address).c_str());
    const jyn::StationEntry entry = session.Context().stationTable[gate.address.station & 0xFF];
    PrintStation(plan, entry, startMessages);
    plan.acpu = entry.cpuType == jyn::kCpuA;
    if (plan.write &&
        !ParseValue(KindOf(gate.arg, gate.address), gate.arg, plan.writeText, gate.value, error)) {
        return UsageError("explain", "--write: " + error);
    }
    return ExplainOnLine(session, plan, entry);
}

}  // namespace jynmb
