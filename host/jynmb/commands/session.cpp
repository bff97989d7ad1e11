#include "host/jynmb/commands/session.h"

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/platform/platform.h"
#include "host/jynmb/platform/port_check.h"
#include "host/jynmb/values/gate_reading.h"
#include "host/jynmb/values/json.h"
#include "host/jynmb/values/value_buffer.h"
#include "interface/baud_rates.h"

namespace jynmb {

namespace {

struct Choice {
    const char* word;
    uint16_t code;
};
const Choice kParities[] = {{"none", 0}, {"odd", 1}, {"even", 2}, {"mark", 3}, {"space", 4},
                            {"0", 0},    {"1", 1},   {"2", 2},    {"3", 3},    {"4", 4}};
const Choice kStopBits[] = {{"1", 0}, {"1.5", 1}, {"2", 2}};

bool Choose(const Choice* choices, std::size_t count, const std::string& word, uint16_t& code) {
    for (std::size_t i = 0; i < count; ++i) {
        if (word == choices[i].word) {
            code = choices[i].code;
            return true;
        }
    }
    return false;
}

bool Number(const std::string& text, unsigned long low, unsigned long high, unsigned long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 10);
    return *end == '\0' && text[0] != '-' && value >= low && value <= high;
}

bool NumberOption(Args& args, const char* name, unsigned long low, unsigned long high,
                  unsigned long& value, std::string& error) {
    std::string text;
    if (!args.Option(name, text)) return args.Error().empty();
    if (!Number(text, low, high, value)) {
        error = std::string(name) + " wants a number from " + std::to_string(low) + " to " +
                std::to_string(high) + ", not '" + text + "'";
        return false;
    }
    return true;
}

// The message that says why a call failed. A failed read or write ends with
// the handler's closing summary, which only repeats the result and the gate:
// the message before it is the cause. Otherwise it is the last one.
std::string Cause(const std::vector<DriverMessage>& messages, bool endsWithSummary) {
    if (messages.empty()) return std::string();
    const std::size_t skipped = endsWithSummary && messages.size() > 1 ? 1 : 0;
    return messages[messages.size() - 1 - skipped].text;
}

}  // namespace

std::string PortOptionsHelp() {
    return "  --port NAME        the serial port: COM1, NUL, ttyUSB0, pts/3, /dev/ttyS0 ...\n"
           "  --baud N           line speed (default " +
           std::to_string(jyn::kDefaultBaudRate) +
           "); the host's record carries it in\n"
           "                     16 bits, and the driver sets standard rates up to " +
           std::to_string(DriverBaudList().back()) +
           "\n"
           "  --data-bits N      5..8 (default 8)\n"
           "  --parity P         none, odd, even, mark, space (default none)\n"
           "  --stop-bits S      1, 1.5, 2 (default 1)\n"
           "  --timeout N        reply time-out in units of 10 ms (default 100)\n"
           "  --instance N       the host's instance number: names the station file "
           "JYNMB<N>.INT\n"
           "  --driver PATH      the driver library (default: beside jynmb)\n"
           "  -q, -v             hide the driver's level-8 messages / show them with time "
           "stamps\n";
}

namespace {

bool ReadInstanceNumbers(Args& args, PortOptions& options, std::string& error) {
    unsigned long timeout = options.line.replyTimeout, instance = options.instance;
    if (!NumberOption(args, "--timeout", 1, 100000, timeout, error) ||
        !NumberOption(args, "--instance", 0, 0xFFFFFFFFul, instance, error)) {
        if (error.empty()) error = args.Error();
        return false;
    }
    options.line.replyTimeout = static_cast<uint32_t>(timeout);
    options.instance = static_cast<uint32_t>(instance);
    return true;
}

// The host's record carries the rate in 16 bits: a faster line cannot even
// be asked for, whatever the port could do.
bool ReadBaud(Args& args, unsigned long& baud, std::string& error) {
    std::string text;
    if (!args.Option("--baud", text)) return args.Error().empty();
    constexpr unsigned long kLargest = 0xFFFF;
    if (Number(text, 1, ULONG_MAX, baud) && baud > kLargest) {
        error = "--baud " + text +
                " does not fit: the host's record carries the baud rate in 16 bits "
                "(65535 at most); the rates the driver can set are " +
                DriverBaudRates();
        return false;
    }
    if (!Number(text, 1, kLargest, baud)) {
        error = "--baud wants a number from 1 to 65535, not '" + text +
                "'; the rates the driver can set are " + DriverBaudRates();
        return false;
    }
    return true;
}

bool ReadLineParameters(Args& args, PortOptions& options, std::string& error) {
    jynhost::LineSettings& line = options.line;
    unsigned long baud = line.baudRate, bits = line.dataBits;
    if (!ReadBaud(args, baud, error) || !NumberOption(args, "--data-bits", 5, 8, bits, error)) {
        if (error.empty()) error = args.Error();
        return false;
    }
    line.baudRate = static_cast<uint16_t>(baud);
    line.dataBits = static_cast<uint16_t>(bits);
    std::string word;
    if (args.Option("--parity", word) &&
        !Choose(kParities, std::size(kParities), word, line.parity)) {
        error = "--parity wants none, odd, even, mark or space, not '" + word + "'";
        return false;
    }
    if (args.Option("--stop-bits", word) &&
        !Choose(kStopBits, std::size(kStopBits), word, line.stopBits)) {
        error = "--stop-bits wants 1, 1.5 or 2, not '" + word + "'";
        return false;
    }
    return true;
}

}  // namespace

bool ReadInstanceOptions(Args& args, PortOptions& options, std::string& error) {
    if (!ReadInstanceNumbers(args, options, error)) return false;
    if (!args.Error().empty()) {
        error = args.Error();
        return false;
    }
    return true;
}

bool ReadPortOptions(Args& args, PortOptions& options, std::string& error) {
    args.Option("--port", options.port);
    if (!ReadInstanceNumbers(args, options, error) || !ReadLineParameters(args, options, error)) {
        return false;
    }
    // The command's own options are taken before these: an unknown one is
    // the first thing to say.
    error = args.Leftover(true);
    if (!error.empty()) return false;
    if (options.port.empty()) {
        error = "--port is needed";
        return false;
    }
    options.port = PortNameForDriver(options.port);
    return true;
}

Session::~Session() { End(); }

bool Session::Start(const std::string& driverPath, const PortOptions& options, std::string& error) {
    portFailed_ = false;
    if (!jynhost::PortNameFits(options.port)) {
        portFailed_ = true;
        error = "cannot give the driver the port " + options.port;
        return false;
    }
    if (!library_.Load(driverPath, error)) return false;
    instance_ = jynhost::DriverInstance(library_, options.instance);
    if (!instance_.AllocateContext(error)) return false;
    jyn::ColdStartParams params =
        jynhost::MakeColdStart(options.port, options.openNow, options.line);
    TakeDriverMessages();
    const int32_t result = instance_.Call(jyn::kColdStart, &params);
    startMessages_ = TakeDriverMessages();
    started_ = true;
    if (result != jyn::kOk) {
        portFailed_ = true;
        error = "cannot open port " + options.port + " (ColdStart returned " +
                std::to_string(result) + ")";
        return false;
    }
    return true;
}

bool Session::ChangePort(const std::string& port, std::string& error) {
    if (!jynhost::PortNameFits(port)) {
        error = "the port name " + port + " is longer than the driver's 11 characters";
        return false;
    }
    jyn::PortChangeParams params = jynhost::MakePortChange(port, jynhost::kKeepReplyTimeout);
    const int32_t result = instance_.Call(jyn::kChangeJynParams, &params);
    if (result != jyn::kOk) {
        error = "cannot open port " + port + " (ChangeJynParams returned " +
                std::to_string(result) + ")";
        return false;
    }
    return true;
}

bool Session::ChangeLine(const std::string& port, const jynhost::LineSettings& line,
                         std::string& error) {
    jyn::PortChangeParams params = jynhost::MakePortChange(port, jynhost::kKeepReplyTimeout);
    params.baudRate = line.baudRate;
    params.dataBits = line.dataBits;
    params.stopBits = line.stopBits;
    params.parity = line.parity;
    instance_.Call(jyn::kCloseCom, nullptr);
    const int32_t result = instance_.Call(jyn::kChangeJynParams, &params);
    if (result != jyn::kOk) {
        error = "cannot open port " + port + " at " + std::to_string(line.baudRate) +
                " baud (ChangeJynParams returned " + std::to_string(result) + ")";
        return false;
    }
    return true;
}

bool Session::Configure(GateOutcome& gate) {
    const GateArg& arg = gate.arg;
    jyn::GateDefinition definition =
        jynhost::MakeGateDefinition(arg.text.c_str(), arg.gateType, arg.blockSize);
    TakeDriverMessages();
    gate.parseResult = instance_.Call(jynhost::ParserFunction(arg.blockSize), &definition);
    gate.address = definition.gateAddress;
    gate.messages = TakeDriverMessages();
    gate.lastMessage = Cause(gate.messages, false);
    if (gate.parseResult != jyn::kOk) ShowHeld(gate.messages, gate.lastMessage);
    gate.unread = gate.parseResult == jyn::kOk ? UnreadPositions(arg) : std::vector<std::size_t>();
    return gate.parseResult == jyn::kOk;
}

int32_t Session::Transfer(GateOutcome& gate, bool write, unsigned char* buffer) {
    const GateArg& arg = gate.arg;
    jyn::GateRequest request =
        jynhost::MakeGateRequest(arg.text.c_str(), gate.address, arg.blockSize, buffer);
    TakeDriverMessages();
    gate.result = instance_.Call(jynhost::TransferFunction(arg.blockSize, write), &request);
    gate.messages = TakeDriverMessages();
    gate.lastMessage = Cause(gate.messages, gate.result != jyn::kOk);
    if (gate.result != jyn::kOk) ShowHeld(gate.messages, gate.lastMessage);
    return gate.result;
}

int32_t Session::Read(GateOutcome& gate) {
    unsigned char buffer[kValueBufferSize] = {};
    Transfer(gate, false, buffer);
    if (gate.result == jyn::kOk)
        gate.value = DecodeValue(KindOf(gate.arg, gate.address), gate.arg, buffer);
    return gate.result;
}

int32_t Session::Write(GateOutcome& gate) {
    unsigned char buffer[kValueBufferSize] = {};
    EncodeValue(KindOf(gate.arg, gate.address), gate.arg, gate.value, buffer);
    return Transfer(gate, true, buffer);
}

namespace {

void PrintJsonError(const std::string& error, const std::string& port,
                    const std::vector<PortCause>& causes,
                    const std::vector<DriverMessage>& messages) {
    std::printf("{\"result\": %d, \"error\": %s, \"port\": %s, \"causes\": [", jyn::kDriverFailure,
                JsonString(error).c_str(), JsonString(port).c_str());
    for (std::size_t i = 0; i < causes.size(); ++i) {
        std::printf("%s{\"cause\": %s, \"action\": %s}", i ? ", " : "",
                    JsonString(causes[i].cause).c_str(), JsonString(causes[i].action).c_str());
    }
    std::printf("], \"messages\": [");
    for (std::size_t i = 0; i < messages.size(); ++i) {
        std::printf("%s{\"level\": %d, \"text\": %s}", i ? ", " : "", messages[i].level,
                    JsonString(messages[i].text).c_str());
    }
    std::printf("]}\n");
    std::fflush(stdout);
}

}  // namespace

bool StartSession(Session& session, const char* command, const std::string& driverPath,
                  const PortOptions& options, bool json) {
    std::string error;
    if (session.Start(driverPath, options, error)) return true;
    ShowHeld(session.StartMessages());
    std::vector<PortCause> causes;
    if (session.PortFailed()) {
        causes = DiagnosePort(options.port, options.line);
        if (causes.empty()) {
            causes.push_back({"jynmb finds nothing wrong with the port itself",
                              "the driver's messages say which step failed; try again"});
        }
    }
    std::fprintf(stderr, "jynmb %s: %s\n", command, error.c_str());
    for (const PortCause& cause : causes) {
        std::fprintf(stderr, "  %s: %s\n", cause.cause.c_str(), cause.action.c_str());
    }
    if (json) PrintJsonError(error, options.port, causes, session.StartMessages());
    return false;
}

int32_t Session::End() {
    if (!started_) return jyn::kOk;
    started_ = false;
    return instance_.Call(jyn::kEndJyn, nullptr);
}

}  // namespace jynmb
