// jynmb read / write / parse: gates on a real line, one command each.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/gate_output.h"
#include "host/jynmb/values/gate_reading.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/commands/session.h"
#include "host/jynmb/commands/traced_start.h"
#include "host/jynmb/values/value_text.h"

namespace jynmb {

namespace {

const char kReadHelp[] =
    "usage: jynmb read --port NAME [OPTIONS] GATE...\n\n"
    "Reads each gate once through the driver and prints its value.\n"
    "GATE is an address text, optionally *N for a block of N points and :TYPE for\n"
    "the host's gate type (default: bit gate 6, 32-bit letter 3, string 7, else 1):\n"
    "  01WD100   00BX1F   01WZ100   00WS0100L20   01WD200*10   01WR0100:2\n\n"
    "Options:\n";
const char kWriteHelp[] =
    "usage: jynmb write --port NAME [OPTIONS] GATE=VALUE...\n\n"
    "Writes each value through the driver. VALUE is a number (decimal or 0x...),\n"
    "comma-separated numbers for a block, or text for a string gate:\n"
    "  01WD100=4660   00BY10=1   01WZ100=0x12345678   01WD200*3=1,2,3   00WS0100L20=HELLO\n"
    "Nothing is written unless every gate and value is right. The driver reads a\n"
    "number only up to its first character that is not a digit: a gate with\n"
    "characters it does not read (01WD1O0 is D1 to it) is refused.\n\n"
    "Options:\n"
    "  --as-driver-reads  write such gates all the same, to the devices the driver\n"
    "                     makes of them\n";
const char kJsonHelp[] = "  --json             print the results as JSON, for scripts\n";

enum class Mode { kRead, kWrite };

struct Plan {
    PortOptions port;
    std::string driver;
    std::string trace;
    bool json = false;
    bool asDriverReads = false;
    std::vector<GateOutcome> gates;
    std::vector<std::string> values;  // writes: the text after '='
};

bool ReadPlan(Args& args, Mode mode, Plan& plan, std::string& error) {
    plan.json = args.Flag("--json");
    if (mode == Mode::kWrite) plan.asDriverReads = args.Flag("--as-driver-reads");
    args.Option("--driver", plan.driver);
    plan.driver = AbsolutePath(plan.driver);
    if (!ReadTraceOption(args, plan.trace, error) || !ReadPortOptions(args, plan.port, error)) {
        if (error.empty()) error = args.Error();
        return false;
    }
    error = args.Leftover(true);
    if (!error.empty()) return false;
    if (args.Rest().empty()) {
        error = mode == Mode::kRead ? "no GATE given" : "no GATE=VALUE given";
        return false;
    }
    for (const std::string& word : args.Rest()) {
        std::string gateWord = word;
        if (mode == Mode::kWrite) {
            const auto equals = word.find('=');
            if (equals == std::string::npos) {
                error = "'" + word + "' has no =VALUE";
                return false;
            }
            gateWord = word.substr(0, equals);
            plan.values.push_back(word.substr(equals + 1));
        }
        GateOutcome gate;
        if (!ParseGateArg(gateWord, gate.arg, error)) return false;
        plan.gates.push_back(gate);
    }
    return true;
}

// 2 for a driver or link failure anywhere, else 1 for any failed gate.
int ExitCodeOf(const std::vector<GateOutcome>& gates) {
    int code = kExitOk;
    for (const GateOutcome& gate : gates) {
        const int32_t result = gate.parseResult != jyn::kOk ? gate.parseResult : gate.result;
        if (result == jyn::kDriverFailure) return kExitUsage;
        if (result != jyn::kOk) code = kExitGate;
    }
    return code;
}

void PrintText(const std::vector<GateOutcome>& gates, Mode mode) {
    std::size_t width = 8;
    for (const GateOutcome& gate : gates) width = std::max(width, GateName(gate.arg).size() + 4);
    const int w = static_cast<int>(width);
    for (const GateOutcome& gate : gates) {
        const std::string name = GateName(gate.arg);
        const char* kind = KindName(KindOf(gate.arg, gate.address));
        if (gate.parseResult != jyn::kOk) {
            std::printf("%-*s %s\n", w, name.c_str(), FailureText(gate).c_str());
        } else if (gate.result != jyn::kOk) {
            std::printf("%-*s %-7s %s\n", w, name.c_str(), kind, FailureText(gate).c_str());
        } else {
            std::printf("%-*s %-7s %s%s\n", w, name.c_str(), kind,
                        FormatValue(KindOf(gate.arg, gate.address), gate.value).c_str(),
                        mode == Mode::kWrite ? "  written" : "");
        }
        PrintUnread(gate, 0);
    }
}

void PrintJson(const std::vector<GateOutcome>& gates) {
    std::printf("[");
    for (std::size_t i = 0; i < gates.size(); ++i) {
        std::printf("%s\n  {%s}", i ? "," : "", GateJsonFields(gates[i]).c_str());
    }
    std::printf("\n]\n");
}

// A gate the driver refuses is a typing error as much as a bad value: the
// gates before it must not be written either.
bool CheckAccepted(const Plan& plan, std::string& error) {
    for (const GateOutcome& gate : plan.gates) {
        if (gate.parseResult == jyn::kOk) continue;
        error = GateName(gate.arg) + ": " + FailureText(gate) + "; nothing is written";
        return false;
    }
    return true;
}

// A gate written by hand must name its devices plainly: the driver passes
// over what follows a number, so a typing error there writes elsewhere.
bool CheckTexts(const Plan& plan, std::string& error) {
    if (plan.asDriverReads) return true;
    for (const GateOutcome& gate : plan.gates) {
        if (gate.unread.empty()) continue;
        const std::string carets = CaretLine(gate.unread);
        error = GateName(gate.arg) + ": the driver does not read the characters marked ^ and " +
                "would write " + DeviceName(gate.arg, gate.address) + "\n    " +
                GateName(gate.arg) + "\n    " + carets +
                "\nCorrect the gate, or give --as-driver-reads to write " +
                DeviceName(gate.arg, gate.address) + " as the driver reads it";
        return false;
    }
    return true;
}

// Every value is checked against its gate before the first one is written:
// a typing error must not leave the plant half changed.
bool CheckValues(Plan& plan, std::string& error) {
    for (std::size_t i = 0; i < plan.gates.size(); ++i) {
        GateOutcome& gate = plan.gates[i];
        if (gate.parseResult == jyn::kOk && !ParseValue(KindOf(gate.arg, gate.address), gate.arg,
                                                        plan.values[i], gate.value, error)) {
            error = gate.arg.text + ": " + error;
            return false;
        }
    }
    return true;
}

// False, before any transfer, when a value does not fit its gate.
bool Transfer(Session& session, Mode mode, Plan& plan, std::string& error) {
    for (GateOutcome& gate : plan.gates) session.Configure(gate);
    if (mode == Mode::kWrite &&
        (!CheckAccepted(plan, error) || !CheckTexts(plan, error) || !CheckValues(plan, error))) {
        return false;
    }
    for (GateOutcome& gate : plan.gates) {
        if (gate.parseResult != jyn::kOk) continue;
        if (mode == Mode::kRead) {
            session.Read(gate);
        } else {
            session.Write(gate);
        }
    }
    return true;
}

int Run(Args& args, Mode mode) {
    const char* command = mode == Mode::kRead ? "read" : "write";
    if (args.Flag("--help")) {
        std::printf("%s%s%s%s", mode == Mode::kRead ? kReadHelp : kWriteHelp,
                    PortOptionsHelp().c_str(), kTraceOptionHelp, kJsonHelp);
        return kExitOk;
    }
    InstallMessageHandler(ReadVerbosity(args));
    Plan plan;
    std::string error;
    if (!ReadPlan(args, mode, plan, error)) return UsageError(command, error);

    Session session;
    if (!StartTracedSession(session, command, plan.driver, plan.port, plan.json, plan.trace)) {
        return kExitUsage;
    }
    if (!Transfer(session, mode, plan, error)) return UsageError(command, error);
    session.End();
    if (plan.json) {
        PrintJson(plan.gates);
    } else {
        PrintText(plan.gates, mode);
    }
    return TraceFailed(plan.trace) ? kExitUsage : ExitCodeOf(plan.gates);
}

}  // namespace

int RunRead(Args& args) { return Run(args, Mode::kRead); }
int RunWrite(Args& args) { return Run(args, Mode::kWrite); }

}  // namespace jynmb
