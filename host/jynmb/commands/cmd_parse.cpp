// jynmb parse: what the driver's address parsers make of a gate, with no
// port and no PLC.
#include <cstdio>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/gate_output.h"
#include "host/jynmb/values/gate_reading.h"
#include "host/jynmb/values/json.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/commands/session.h"
#include "host/jynmb/values/value_text.h"

namespace jynmb {

namespace {

const char kParseHelp[] =
    "usage: jynmb parse [--driver PATH] [--json] [-q|-v] GATE...\n\n"
    "Hands each gate to the driver's address parser (SingleAddressParser, or\n"
    "BlockAddressParser for GATE*N) and prints the GateAddress it returns, or\n"
    "the driver's message when it refuses the gate. GATE as for 'jynmb read'.\n"
    "The driver reads a number only up to its first character that is not a digit;\n"
    "characters it does not read are marked ^ and the devices it takes are named.\n"
    "Exit code 0 when every gate is accepted, 1 when one is refused.\n\n"
    "Options:\n"
    "  --json             print the results as JSON, for scripts\n"
    "  --driver PATH      the driver library (default: beside jynmb)\n"
    "  -q, -v             driver messages on standard error: never / with time stamps\n";

void PrintJson(const GateOutcome& gate, bool first) {
    const jyn::GateAddress& a = gate.address;
    std::printf("%s\n  {%s", first ? "" : ",", GateJsonFields(gate).c_str());
    if (gate.parseResult == jyn::kOk) {
        std::printf(
            ", \"station\": %d, \"memType\": %d, \"memTypeName\": %s, \"address\": %d, "
            "\"bitIndex\": %d, \"bitWidth\": %d, \"device\": %s",
            a.station, a.memType, JsonString(MemTypeName(a.memType)).c_str(), a.address, a.bitIndex,
            a.bitWidth, JsonString(DeviceName(gate.arg, a)).c_str());
    }
    std::printf("}");
}

void PrintText(const GateOutcome& gate) {
    const std::string block =
        gate.arg.IsBlock() ? ", block of " + std::to_string(gate.arg.blockSize) : "";
    if (gate.parseResult == jyn::kOk) {
        std::printf("%s (type %d%s): %s on %s\n", gate.arg.text.c_str(), gate.arg.gateType,
                    block.c_str(), DescribeGateAddress(gate.arg, gate.address).c_str(),
                    DeviceName(gate.arg, gate.address).c_str());
        PrintUnread(gate, 0);
    } else {
        std::printf("%s (type %d%s): %s\n", gate.arg.text.c_str(), gate.arg.gateType, block.c_str(),
                    FailureText(gate).c_str());
    }
}

}  // namespace

int RunParse(Args& args) {
    if (args.Flag("--help")) {
        std::printf("%s", kParseHelp);
        return kExitOk;
    }
    // The refusals are part of the output; standard error repeats them only with -v.
    InstallQuietMessageHandler(args);
    const bool json = args.Flag("--json");
    std::string driverPath;
    args.Option("--driver", driverPath);
    if (!args.Leftover(true).empty()) return UsageError("parse", args.Leftover(true));
    if (args.Rest().empty()) return UsageError("parse", "no GATE given");
    std::vector<GateOutcome> gates(args.Rest().size());
    std::string error;
    for (std::size_t i = 0; i < gates.size(); ++i) {
        if (!ParseGateArg(args.Rest()[i], gates[i].arg, error)) return UsageError("parse", error);
    }
    Session session;
    if (!session.Load(driverPath, error)) {
        std::fprintf(stderr, "jynmb parse: %s\n", error.c_str());
        return kExitUsage;
    }
    int exitCode = kExitOk;
    if (json) std::printf("[");
    for (std::size_t i = 0; i < gates.size(); ++i) {
        if (!session.Configure(gates[i])) exitCode = kExitGate;
        if (json) {
            PrintJson(gates[i], i == 0);
        } else {
            PrintText(gates[i]);
        }
    }
    if (json) std::printf("\n]\n");
    return exitCode;
}

}  // namespace jynmb
