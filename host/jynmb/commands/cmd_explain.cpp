// jynmb explain: how the driver sees one gate. The address as the parser
// leaves it, the station entry it maps to, and the frames the real driver
// exchanges with a simulated station of that entry: what went over the line
// is taken from the simulator's traffic log, never rebuilt here.
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/gate_output.h"
#include "host/jynmb/values/gate_reading.h"
#include "host/jynmb/values/json.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/plant/plant_transfer.h"
#include "host/jynmb/platform/platform.h"
#include "host/jynmb/commands/session.h"
#include "host/jynmb/commands/traced_start.h"
#include "host/jynmb/plant/traffic_view.h"
#include "host/jynmb/values/value_text.h"
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
    "  --json             print the explanation as one JSON object, for scripts\n"
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
    bool json = false;
    bool acpu = false;  // the gate's station entry says ACPU
};

// One read or write as it went: the frames on the line, what the driver said.
struct Shown {
    bool write = false;
    int32_t result = -1;
    std::string value;  // written, or read back
    std::vector<jynsim::TrafficEntry> frames;
    std::vector<DriverMessage> messages;
    bool extendedToAcpu = false;
};

// Everything explain found out, for the text or the JSON.
struct Explained {
    std::vector<DriverMessage> startMessages;
    jyn::StationEntry entry{};
    std::string source;  // of the station entry
    std::string plantDevice;
    std::string plantPort;
    std::vector<Shown> transfers;
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
    plan.json = args.Flag("--json");
    args.Option("--driver", plan.driver);
    if (!ReadExtended(args, plan, error) || !ReadInstanceOptions(args, plan.options, error)) {
        return false;
    }
    error = args.Leftover(true);
    if (!error.empty()) return false;
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

const char* CpuName(const jyn::StationEntry& entry) {
    return entry.cpuType == jyn::kCpuA ? "ACPU" : "AnACPU";
}

const char* FunctionName(bool write, bool block) {
    if (write) return block ? "BlockWrite" : "SingleWrite";
    return block ? "BlockRead" : "SingleRead";
}

uint32_t FunctionCode(bool write, bool block) {
    if (write) return block ? jyn::kBlockWrite : jyn::kSingleWrite;
    return block ? jyn::kBlockRead : jyn::kSingleRead;
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

// One read or write and the frames it put on the line.
Shown Transact(Session& session, PlantLine& plant, ExplainPlan& plan, bool write) {
    GateOutcome& gate = plan.gate;
    const ValueKind kind = KindOf(gate.arg, gate.address);
    Shown shown;
    shown.write = write;
    jynsim::Simulator& sim = plant.Sim();
    sim.ClearTraffic();
    shown.result = TransferOnPlant(session, sim, gate, write);
    shown.frames = sim.Traffic();
    shown.messages = gate.messages;
    shown.extendedToAcpu = plan.acpu && ExtendedToAcpu(shown.frames);
    if (write || shown.result == jyn::kOk) shown.value = FormatValue(kind, gate.value);
    return shown;
}

int ExitCodeOf(int32_t result) {
    if (result == jyn::kOk) return kExitOk;
    return result == jyn::kGateFailure ? kExitGate : kExitUsage;
}

// The part that needs the simulated line.
int ExplainOnLine(Session& session, ExplainPlan& plan, Explained& explained) {
    std::string error;
    const jyn::StationEntry& entry = explained.entry;
    std::unique_ptr<PlantLine> plant = StartPlantLine(PlantFor(entry, plan.extended), error);
    if (plant == nullptr || !session.ChangePort(plant->PortName(), error)) {
        std::fprintf(stderr, "jynmb explain: %s\n", error.c_str());
        return kExitUsage;
    }
    explained.plantDevice = plant->DevicePath();
    explained.plantPort = plant->PortName();
    TakeDriverMessages();
    int exitCode = kExitOk;
    for (const bool write : {true, false}) {
        if (write && !plan.write) continue;
        explained.transfers.push_back(Transact(session, *plant, plan, write));
        exitCode = std::max(exitCode, ExitCodeOf(explained.transfers.back().result));
    }
    session.End();
    return exitCode;
}

// --- text ---

void PrintMessages(const std::vector<DriverMessage>& messages, Verbosity verbosity,
                   bool errorsOnly) {
    if (verbosity == Verbosity::kVerbose) return;  // already on standard error
    for (const DriverMessage& message : messages) {
        const bool info = message.level <= jyn::kLevelInfo;
        if (info && (errorsOnly || verbosity == Verbosity::kQuiet)) continue;
        std::printf("  driver      [%d] %s\n", message.level, message.text.c_str());
    }
}

void PrintGate(const GateOutcome& gate) {
    std::printf("gate         %s, gate type %d, %s (code %u)\n", gate.arg.text.c_str(),
                gate.arg.gateType,
                gate.arg.IsBlock()
                    ? ("BlockAddressParser, block of " + std::to_string(gate.arg.blockSize)).c_str()
                    : "SingleAddressParser",
                gate.arg.IsBlock() ? jyn::kBlockAddressParser : jyn::kSingleAddressParser);
    if (gate.parseResult != jyn::kOk) {
        std::printf("result       %s\n", FailureText(gate).c_str());
        return;
    }
    PrintUnread(gate, 13);
    std::printf("GateAddress  %s\n", DescribeGateAddress(gate.arg, gate.address).c_str());
    std::printf("device       %s\n", DeviceName(gate.arg, gate.address).c_str());
}

void PrintTransfer(const ExplainPlan& plan, const Shown& shown) {
    const bool block = plan.gate.arg.IsBlock();
    std::printf("\n%s, %s (code %u)%s%s:\n", shown.write ? "write" : "read",
                FunctionName(shown.write, block), FunctionCode(shown.write, block),
                shown.write ? " of " : "", shown.write ? shown.value.c_str() : "");
    PrintFrames(shown.frames);
    PrintMessages(shown.messages, plan.verbosity, false);
    if (shown.extendedToAcpu) {
        std::printf(
            "  note        the range passes the ACPU limit, so the driver sends this ACPU\n"
            "              station an AnACPU command; a real ACPU answers it with NAK 06h\n"
            "              (--extended-on-acpu accept shows a CPU that takes it)\n");
    }
    const char* meaning =
        shown.result >= 0 && shown.result <= 2 ? kResultMeaning[shown.result] : "unknown";
    std::printf("  result      %d (%s)", shown.result, meaning);
    if (!shown.write && shown.result == jyn::kOk) std::printf(": %s", shown.value.c_str());
    std::printf("\n");
}

void PrintText(const ExplainPlan& plan, const Explained& explained) {
    const jyn::StationEntry& entry = explained.entry;
    std::printf("station      logical %02X -> station number %02X, PC number %02X, %s (%s)\n",
                static_cast<unsigned>(plan.gate.address.station), entry.stationNumber,
                entry.pcNumber, CpuName(entry), explained.source.c_str());
    // Bad lines of the station file are worth seeing next to the entry.
    PrintMessages(explained.startMessages, plan.verbosity, true);
    if (explained.plantDevice.empty()) return;
    std::printf("plant        simulated %s, station %02X, PC %02X, on %s\n", CpuName(entry),
                entry.stationNumber, entry.pcNumber, explained.plantDevice.c_str());
    if (explained.plantPort != explained.plantDevice) {
        std::printf("             (the driver's port name for it: %s)\n",
                    explained.plantPort.c_str());
    }
    for (const Shown& shown : explained.transfers) PrintTransfer(plan, shown);
}

// --- JSON ---

std::string MessagesJson(const std::vector<DriverMessage>& messages) {
    std::string out = "[";
    for (std::size_t i = 0; i < messages.size(); ++i) {
        out += std::string(i ? ", " : "") + "{\"level\": " + std::to_string(messages[i].level) +
               ", \"text\": " + JsonString(messages[i].text) + "}";
    }
    return out + "]";
}

std::string FramesJson(const std::vector<jynsim::TrafficEntry>& frames) {
    std::string out = "[";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const jynsim::TrafficEntry& frame = frames[i];
        const char* direction = frame.direction == jynsim::Direction::kToPlc     ? "host > PLC"
                                : frame.direction == jynsim::Direction::kFromPlc ? "PLC > host"
                                                                                 : "note";
        out += std::string(i ? ", " : "") + "{\"direction\": " + JsonString(direction) +
               ", \"bytes\": " + JsonString(jynsim::Printable(frame.bytes)) +
               ", \"decoded\": " + JsonString(frame.decoded) + "}";
    }
    return out + "]";
}

std::string TransferJson(const ExplainPlan& plan, const Shown& shown) {
    const bool block = plan.gate.arg.IsBlock();
    std::string out = std::string("{\"operation\": \"") + (shown.write ? "write" : "read") +
                      "\", \"function\": \"" + FunctionName(shown.write, block) +
                      "\", \"code\": " + std::to_string(FunctionCode(shown.write, block)) +
                      ", \"result\": " + std::to_string(shown.result);
    if (!shown.value.empty()) out += ", \"value\": " + JsonString(shown.value);
    return out + ", \"frames\": " + FramesJson(shown.frames) +
           ", \"messages\": " + MessagesJson(shown.messages) +
           ", \"extendedToAcpu\": " + (shown.extendedToAcpu ? "true" : "false") + "}";
}

void PrintJson(const ExplainPlan& plan, const Explained& explained) {
    const GateOutcome& gate = plan.gate;
    std::printf("{%s, \"parser\": \"%s\", \"startMessages\": %s", GateJsonFields(gate).c_str(),
                gate.arg.IsBlock() ? "BlockAddressParser" : "SingleAddressParser",
                MessagesJson(explained.startMessages).c_str());
    if (gate.parseResult == jyn::kOk) {
        const jyn::GateAddress& a = gate.address;
        const jyn::StationEntry& entry = explained.entry;
        std::printf(
            ", \"gateAddress\": {\"station\": %d, \"memType\": %d, \"address\": %d, "
            "\"bitIndex\": %d, \"bitWidth\": %d}, \"device\": %s, \"stationEntry\": "
            "{\"stationNumber\": %u, \"pcNumber\": %u, \"cpu\": \"%s\", \"source\": %s}, "
            "\"plant\": %s, \"transfers\": [",
            a.station, a.memType, a.address, a.bitIndex, a.bitWidth,
            JsonString(DeviceName(gate.arg, a)).c_str(), entry.stationNumber, entry.pcNumber,
            CpuName(entry), JsonString(explained.source).c_str(),
            JsonString(explained.plantDevice).c_str());
        for (std::size_t i = 0; i < explained.transfers.size(); ++i) {
            std::printf("%s%s", i ? ", " : "", TransferJson(plan, explained.transfers[i]).c_str());
        }
        std::printf("]");
    }
    std::printf("}\n");
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
    PrivateDirectory scratch;  // outlives the session: the driver's trace, if any, goes there
    Session session;
    if (!StartScratchTracedSession(session, "explain", plan.driver, plan.options, plan.json,
                                   scratch)) {
        return kExitUsage;
    }
    Explained explained;
    explained.startMessages = session.StartMessages();
    GateOutcome& gate = plan.gate;
    int exitCode = kExitGate;
    if (session.Configure(gate)) {
        explained.entry = session.Context().stationTable[gate.address.station & 0xFF];
        explained.source = EntrySource(gate.address.station, plan.options.instance);
        plan.acpu = explained.entry.cpuType == jyn::kCpuA;
        if (plan.write && !ParseValue(KindOf(gate.arg, gate.address), gate.arg, plan.writeText,
                                      gate.value, error)) {
            return UsageError("explain", "--write: " + error);
        }
        exitCode = ExplainOnLine(session, plan, explained);
    }
    if (plan.json) {
        PrintJson(plan, explained);
        return exitCode;
    }
    PrintGate(gate);
    if (gate.parseResult == jyn::kOk) PrintText(plan, explained);
    return exitCode;
}

}  // namespace jynmb
