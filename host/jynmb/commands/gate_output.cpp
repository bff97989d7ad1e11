#include "host/jynmb/commands/gate_output.h"

#include <cstdio>

#include "host/jynmb/values/gate_reading.h"
#include "host/jynmb/values/json.h"

namespace jynmb {

std::string FailureText(const GateOutcome& gate) {
    const bool refused = gate.parseResult != jyn::kOk;
    const std::string head = std::string(refused ? "refused" : "failed") + " (" +
                             std::to_string(refused ? gate.parseResult : gate.result) + ")";
    if (!gate.lastMessage.empty()) return head + ": " + gate.lastMessage;
    return head + (refused ? ", with no message from the driver (see 'jynmb parse')"
                           : ", with no message from the driver");
}

std::string GateJsonFields(const GateOutcome& gate) {
    const bool accepted = gate.parseResult == jyn::kOk;
    const bool transferred = accepted && gate.result >= 0;
    const ValueKind kind = KindOf(gate.arg, gate.address);
    // A gate the driver refused has no kind: its GateAddress says nothing.
    std::string out =
        "\"gate\": " + JsonString(GateName(gate.arg)) +
        ", \"block\": " + std::to_string(gate.arg.blockSize) +
        ", \"type\": " + std::to_string(gate.arg.gateType) +
        ", \"kind\": " + (accepted ? JsonString(KindName(kind)) : "null") +
        ", \"result\": " + std::to_string(transferred ? gate.result : gate.parseResult);
    if (transferred && gate.result == jyn::kOk) {
        out += ", \"value\": " + JsonValue(kind, gate.arg, gate.value);
    } else if (!accepted || transferred) {
        out += ", \"error\": " + (gate.lastMessage.empty() ? "null" : JsonString(gate.lastMessage));
    }
    if (!gate.unread.empty()) {
        out += ", \"unread\": [";
        for (std::size_t i = 0; i < gate.unread.size(); ++i) {
            out += (i ? ", " : "") + std::to_string(gate.unread[i]);
        }
        out += "]";
    }
    return out;
}

void PrintUnread(const GateOutcome& gate, std::size_t indent) {
    if (gate.unread.empty()) return;
    std::printf("%*s%s  not read by the driver: the gate is %s\n", static_cast<int>(indent), "",
                CaretLine(gate.unread).c_str(), DeviceName(gate.arg, gate.address).c_str());
}

}  // namespace jynmb
