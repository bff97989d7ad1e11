// jynmb demo: the real driver against a simulated plant of two stations, an
// ACPU and an AnACPU, with nothing but the build. Every kind of gate is
// written, read back and compared, both with what was written and with what
// the simulated PLCs hold in memory.
#include <cstdio>
#include <filesystem>

#include "address/gate_kind.h"
#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/commands/session.h"
#include "host/jynmb/commands/traced_start.h"
#include "host/jynmb/plant/demo_directory.h"
#include "host/jynmb/plant/plant_transfer.h"
#include "host/jynmb/plant/traffic_view.h"
#include "host/jynmb/platform/platform.h"
#include "host/jynmb/values/value_text.h"
#include "sim/config_files.h"
#include "sim/simulator.h"

namespace jynmb {

namespace {

// %zu: the number of gates.
const char kDemoHelp[] =
    "usage: jynmb demo [--driver PATH] [--trace] [-q|-v]\n\n"
    "Starts the PLC simulator on a pseudo-terminal with two stations (an ACPU and an\n"
    "AnACPU, configured by a station file JYNMB01.INT in a private temporary\n"
    "directory), starts the driver on it, writes %zu gates of every kind, reads\n"
    "them back, shows the frames of one transaction and a table of the results.\n"
    "Exit code 0 when every value read back equals the value written and the\n"
    "simulated PLCs hold it, 1 when one differs, 2 when the plant or the driver\n"
    "cannot be started.\n\n"
    "  --trace            also print every frame on the line as it goes\n"
    "  -v                 show the driver's messages on standard error, with time stamps\n";

// Logical station 01 is an ACPU; logical station 02 is the AnACPU with
// station number 05, to show the mapping at work.
const char kStationFile[] =
    "* JYNMB demo plant: logical station = station number, PC number, CPU\n"
    "01 = 01, FF, ACPU\n"
    "02 = 05, FF, AnACPU\n";

struct DemoGate {
    const char* gate;    // as for jynmb write: TEXT[*N]
    const char* value;   // as for jynmb write
    int plantStation;    // station number of the CPU that holds it
    const char* device;  // its first device in that CPU
};

// The ACPU's gates stay within the ACPU ranges (word access to M below 1024,
// X/Y/B below 800h), so the driver sends that station its own commands only.
const DemoGate kDemoGates[] = {
    {"01BM100", "1", 1, "M100"},
    {"01BY1F", "1", 1, "Y1F"},
    {"01WM32", "0xA5A5", 1, "M512"},
    {"01WD100", "0x1234", 1, "D100"},
    {"01WZ200", "0x12345678", 1, "D200"},
    {"01WS0300L10", "JYNMB DEMO", 1, "D300"},
    {"01WD400*3", "1,2,3", 1, "D400"},
    {"01WTN5", "250", 1, "TN5"},
    {"01BCS7", "1", 1, "CS7"},
    {"02WD1500", "0xBEEF", 5, "D1500"},
    {"02W2010", "100000", 5, "W10"},
    {"02WR0100", "0x0FF0", 5, "R100"},
    {"02WW01AFL8", "ANACPU01", 5, "W1AF"},
    {"02WZ1000*2", "0x11112222,0x33334444", 5, "D1000"},
    {"02BB3FF", "1", 5, "B3FF"},
};
// The transaction shown frame by frame.
const char kShownGate[] = "01WD100";

constexpr uint32_t kReplyTimeout = 50;  // 500 ms: the simulator answers in a few

struct DemoRow {
    const DemoGate* demo;
    GateOutcome written;
    GateOutcome read;
    std::string writeCommand;
    std::string readCommand;
    bool plantAgrees = false;
};

std::string CommandOf(const jynsim::Simulator& sim) {
    const std::vector<jynsim::RequestRecord> records = sim.Records();
    if (records.empty() || !records.back().device) return "-";
    const jynsim::RequestRecord& last = records.back();
    return last.command + " " + jynsim::DeviceName(*last.device) + " x" +
           std::to_string(last.points);
}

std::string Nth(const char* device, uint32_t offset) {
    auto ref = jynsim::ParseDeviceName(device);
    if (!ref) return device;
    ref->number += offset;
    return jynsim::DeviceName(*ref);
}

// What the simulated CPU holds, compared with what was written: a read that
// only gives back what a wrong write put somewhere else would not show it.
bool PlantHolds(const jynsim::Simulator& sim, const DemoRow& row) {
    const GateOutcome& gate = row.written;
    const jynsim::Target cpu(row.demo->plantStation);
    const ValueKind kind = KindOf(gate.arg, gate.address);
    const std::vector<int64_t>& numbers = gate.value.numbers;
    if (kind == ValueKind::kString) {
        const uint32_t words = jyn::address::RoundedStringLength(gate.arg.text.c_str()) / 2;
        return sim.Text(cpu, row.demo->device, words) == gate.value.text;
    }
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const auto index = static_cast<uint32_t>(i);
        bool same = false;
        if (kind == ValueKind::kBit) {
            same = sim.Bit(cpu, row.demo->device) == (numbers[i] != 0);
        } else if (kind == ValueKind::k32Bit) {
            same = sim.Dword(cpu, Nth(row.demo->device, 2 * index)) ==
                   static_cast<uint32_t>(numbers[i]);
        } else {
            same = sim.Word(cpu, Nth(row.demo->device, index)) == static_cast<uint16_t>(numbers[i]);
        }
        if (!same) return false;
    }
    return true;
}

bool RowOk(const DemoRow& row) {
    return row.written.result == jyn::kOk && row.read.result == jyn::kOk &&
           row.read.value.numbers == row.written.value.numbers &&
           row.read.value.text == row.written.value.text && row.plantAgrees;
}

// One transaction, and the command the plant received for it.
void Transfer(Session& session, jynsim::Simulator& sim, GateOutcome& gate, bool write,
              std::string& command) {
    const uint64_t requests = sim.Counters().requests;
    TransferOnPlant(session, sim, gate, write);
    command = sim.Counters().requests > requests ? CommandOf(sim) : "-";
}

bool Configure(Session& session, DemoRow& row, std::string& error) {
    GateOutcome& gate = row.written;
    if (!ParseGateArg(row.demo->gate, gate.arg, error)) return false;
    if (!session.Configure(gate)) {
        error = gate.arg.text + " refused: " + gate.lastMessage;
        return false;
    }
    if (!ParseValue(KindOf(gate.arg, gate.address), gate.arg, row.demo->value, gate.value, error)) {
        error = gate.arg.text + ": " + error;
        return false;
    }
    row.read = gate;
    row.read.value = Value{};
    return true;
}

const char* CpuName(uint8_t cpuType) { return cpuType == jyn::kCpuA ? "ACPU" : "AnACPU"; }

void PrintIntro(Session& session, const PlantLine& plant, const jynsim::LineConfig& config) {
    std::printf("JYNMB demo: the driver against a simulated plant\n\n");
    std::printf("plant       %zu stations on the pseudo-terminal %s\n", config.stations.size(),
                plant.DevicePath().c_str());
    if (plant.PortName() != plant.DevicePath()) {
        std::printf("            (the driver's port name for it: %s)\n", plant.PortName().c_str());
    }
    std::printf("station file %s, in a private temporary directory:\n",
                StationFileNames(PortOptions().instance).front().c_str());
    const std::string file = kStationFile;
    for (std::size_t start = 0, end = 0; start < file.size(); start = end + 1) {
        end = file.find('\n', start);
        std::printf("            %s\n", file.substr(start, end - start).c_str());
    }
    const jyn::StationEntry* table = session.Context().stationTable;
    for (const int logical : {1, 2}) {
        const jyn::StationEntry& entry = table[logical];
        std::printf("driver      logical station %02X -> station number %02X, PC number %02X, %s\n",
                    logical, entry.stationNumber, entry.pcNumber, CpuName(entry.cpuType));
    }
    std::printf(
        "note        the simulated ACPU answers the AnACPU commands (JR/JW/QR/QW) with\n"
        "            NAK 06h, as a real ACPU does; the gates of logical station 01 stay\n"
        "            within the ACPU ranges, so the driver sends it BR/BW/WR/WW only.\n");
}

void PrintShown(const std::vector<jynsim::TrafficEntry>& frames) {
    std::printf("\nOne transaction on the line, the read of %s (from the simulator's log):\n",
                kShownGate);
    PrintFrames(frames);
}

std::string ValueOrFailure(const GateOutcome& gate) {
    if (gate.result != jyn::kOk) return "failed (" + std::to_string(gate.result) + ")";
    return CompactValue(KindOf(gate.arg, gate.address), gate.value);
}

int PrintTable(const std::vector<DemoRow>& rows) {
    std::printf("\n%-12s %-6s %-14s %-14s %-22s %-22s %s\n", "gate", "kind", "write", "read",
                "written", "read back", "PLC memory");
    int failures = 0;
    for (const DemoRow& row : rows) {
        const GateOutcome& gate = row.written;
        const bool ok = RowOk(row);
        failures += ok ? 0 : 1;
        std::printf("%-12s %-6s %-14s %-14s %-22s %-22s %s%s\n", GateName(gate.arg).c_str(),
                    KindName(KindOf(gate.arg, gate.address)), row.writeCommand.c_str(),
                    row.readCommand.c_str(), ValueOrFailure(row.written).c_str(),
                    ValueOrFailure(row.read).c_str(), row.plantAgrees ? "agrees" : "DIFFERS",
                    ok ? "" : "   <-- not as written");
    }
    for (const DemoRow& row : rows) {
        for (const GateOutcome* gate : {&row.written, &row.read}) {
            if (gate->result != jyn::kOk) {
                std::printf("%s: %s\n", gate->arg.text.c_str(), gate->lastMessage.c_str());
            }
        }
    }
    return failures;
}

struct DemoOptions {
    std::string driver;
    bool trace = false;
};

// The plant from the same station file the driver reads.
jynsim::LineConfig PlantConfig() {
    jynsim::LineConfig config;
    config.stations = jynsim::ParseStationFile(kStationFile).stations;
    return config;
}

int RunRows(Session& session, jynsim::Simulator& sim, std::vector<DemoRow>& rows) {
    std::string error;
    for (DemoRow& row : rows) {
        if (!Configure(session, row, error)) {
            std::fprintf(stderr, "jynmb demo: %s\n", error.c_str());
            return kExitGate;
        }
    }
    std::printf("\nWriting %zu gates, then reading them back ...\n", rows.size());
    for (DemoRow& row : rows) Transfer(session, sim, row.written, true, row.writeCommand);
    std::vector<jynsim::TrafficEntry> shown;
    for (DemoRow& row : rows) {
        const bool show = row.written.arg.text == kShownGate;
        if (show) sim.ClearTraffic();
        Transfer(session, sim, row.read, false, row.readCommand);
        if (show) shown = sim.Traffic();
        row.plantAgrees = PlantHolds(sim, row);
    }
    PrintShown(shown);
    const int failures = PrintTable(rows);
    if (failures == 0) {
        std::printf("\nAll %zu gates read back as written, and the simulated PLCs hold them.\n",
                    rows.size());
        return kExitOk;
    }
    std::printf("\n%d of %zu gates did not come back as written.\n", failures, rows.size());
    return kExitGate;
}

int Demo(const DemoOptions& given) {
    // A --driver path relative to where jynmb was started must still name
    // the library once the demo works inside its own directory.
    DemoOptions options = given;
    if (!options.driver.empty()) {
        std::error_code failed;
        const std::filesystem::path absolute = std::filesystem::absolute(options.driver, failed);
        if (!failed) options.driver = absolute.string();
    }
    PrivateDirectory directory;  // first made, last gone: the rest runs inside it
    std::string error;
    if (!directory.Enter("jynmb-demo-", error) ||
        !directory.WriteFile(StationFileNames(PortOptions().instance).front(), kStationFile,
                             error)) {
        std::fprintf(stderr, "jynmb demo: %s\n", error.c_str());
        return kExitUsage;
    }
    const jynsim::LineConfig config = PlantConfig();
    std::unique_ptr<PlantLine> plant = StartPlantLine(config, error);
    if (plant == nullptr) {
        std::fprintf(stderr, "jynmb demo: %s\n", error.c_str());
        return kExitUsage;
    }
    if (options.trace) plant->Sim().SetTrafficFile(stdout);
    PortOptions port;
    port.port = plant->PortName();
    port.line.replyTimeout = kReplyTimeout;
    Session session;
    if (!session.Start(options.driver, port, error)) {
        std::fprintf(stderr, "jynmb demo: %s\n", error.c_str());
        return kExitUsage;
    }
    PrintIntro(session, *plant, config);
    std::vector<DemoRow> rows;
    for (const DemoGate& gate : kDemoGates) rows.push_back(DemoRow{&gate, {}, {}, {}, {}, false});
    const int exitCode = RunRows(session, plant->Sim(), rows);
    session.End();
    plant->Sim().SetTrafficFile(nullptr);
    return exitCode;
}

}  // namespace

int RunDemo(Args& args) {
    if (args.Flag("--help")) {
        std::printf(kDemoHelp, std::size(kDemoGates));
        return kExitOk;
    }
    InstallQuietMessageHandler(args);
    DemoOptions options;
    options.trace = args.Flag("--trace");
    args.Option("--driver", options.driver);
    if (!args.Leftover(false).empty()) return UsageError("demo", args.Leftover(false));
    return Demo(options);
}

}  // namespace jynmb
