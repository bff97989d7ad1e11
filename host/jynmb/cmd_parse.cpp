// jynmb parse: what the driver's address parsers make of a gate, with no
// port and no PLC.
#include <cstdio>

#include "host/jynmb/commands.h"
#include "host/jynmb/messages.h"
#include "host/jynmb/session.h"

namespace jynmb {

namespace {

std::string MemTypeName(int32_t memType) {
    const char low = static_cast<char>(memType & 0xFF);
    const char high = static_cast<char>((memType >> 8) & 0xFF);
    std::string name(1, low);
    if (high != 0) name += high;
    return name;
}

}  // namespace

int RunParse(Args& args) {
    if (args.Flag("--help")) {
        std::printf(
            "usage: jynmb parse [--driver PATH] [--json] GATE...\n\n"
            "Hands each gate to the driver's address parser (SingleAddressParser, or\n"
            "BlockAddressParser for GATE*N) and prints the GateAddress it returns, or\n"
            "the driver's message when it refuses the gate. GATE as for 'jynmb read'.\n");
        return kExitOk;
    }
    InstallMessageHandler(ReadVerbosity(args));
    SetEcho(false);
    const bool json = args.Flag("--json");
    std::string driverPath;
    args.Option("--driver", driverPath);
    if (!args.UnknownOption().empty() || args.Rest().empty() || !args.Error().empty()) {
        std::fprintf(stderr, "jynmb parse: %s\n",
                     args.Rest().empty() ? "no GATE given" : ("unknown option " + args.UnknownOption()).c_str());
        return kExitUsage;
    }
    Session session;
    std::string error;
    if (!session.Load(driverPath, error)) {
        std::fprintf(stderr, "jynmb parse: %s\n", error.c_str());
        return kExitUsage;
    }
    int exitCode = kExitOk;
    if (json) std::printf("[");
    bool first = true;
    for (const std::string& word : args.Rest()) {
        GateOutcome gate;
        if (!ParseGateSpec(word, gate.spec, error)) {
            std::fprintf(stderr, "jynmb parse: %s\n", error.c_str());
            return kExitUsage;
        }
        const bool ok = session.Configure(gate);
        const jyn::GateAddress& a = gate.address;
        if (!ok) exitCode = kExitGate;
        if (json) {
            std::printf("%s\n  {\"gate\": %s, \"type\": %d, \"block\": %d, \"result\": %d", first ? "" : ",",
                        JsonString(gate.spec.text).c_str(), gate.spec.gateType, gate.spec.blockSize,
                        gate.parseResult);
            if (ok) {
                std::printf(", \"station\": %d, \"memType\": %d, \"memTypeName\": %s, \"address\": %d, "
                            "\"bitIndex\": %d, \"bitWidth\": %d, \"kind\": \"%s\"}",
                            a.station, a.memType, JsonString(MemTypeName(a.memType)).c_str(), a.address,
                            a.bitIndex, a.bitWidth, KindName(KindOf(gate.spec, a)));
            } else {
                std::printf(", \"error\": %s}", JsonString(gate.lastMessage).c_str());
            }
        } else if (ok) {
            std::printf("%s (type %d%s): station %d, memType '%s' (0x%X), address %d, bitIndex %d, "
                        "bitWidth %d -> %s gate\n",
                        gate.spec.text.c_str(), gate.spec.gateType,
                        gate.spec.IsBlock() ? (", block of " + std::to_string(gate.spec.blockSize)).c_str() : "",
                        a.station, MemTypeName(a.memType).c_str(), static_cast<unsigned>(a.memType), a.address,
                        a.bitIndex, a.bitWidth, KindName(KindOf(gate.spec, a)));
        } else {
            std::printf("%s (type %d): refused: %s\n", gate.spec.text.c_str(), gate.spec.gateType,
                        gate.lastMessage.empty() ? "(no message)" : gate.lastMessage.c_str());
        }
        first = false;
    }
    if (json) std::printf("\n]\n");
    return exitCode;
}

}  // namespace jynmb
