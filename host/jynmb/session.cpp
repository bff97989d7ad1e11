#include "host/jynmb/session.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "host/jynmb/commands.h"
#include "host/jynmb/messages.h"
#include "host/jynmb/platform.h"

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

// The message that says why: the handlers' closing summary only repeats the
// result, so the one before it is the cause.
std::string Cause(const std::vector<DriverMessage>& messages) {
    for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
        if (it->text.find(", ret val is ") == std::string::npos) return it->text;
    }
    return messages.empty() ? std::string() : messages.back().text;
}

}  // namespace

const char kPortOptionsHelp[] =
    "  --port NAME        the serial port: COM1, NUL, ttyUSB0, pts/3, /dev/ttyS0 ...\n"
    "  --baud N           line speed (default 9600)\n"
    "  --data-bits N      5..8 (default 8)\n"
    "  --parity P         none, odd, even, mark, space (default none)\n"
    "  --stop-bits S      1, 1.5, 2 (default 1)\n"
    "  --timeout N        reply time-out in units of 10 ms (default 100)\n"
    "  --instance N       the host's instance number: names the station file JYNMB<N>.INT\n"
    "  --driver PATH      the driver library (default: beside jynmb)\n"
    "  -q, -v             hide the driver's level-8 messages / show them with time stamps\n";

namespace {

bool ReadInstanceNumbers(Args& args, PortOptions& options, std::string& error) {
    unsigned long timeout = options.timeout, instance = options.instance;
    if (!NumberOption(args, "--timeout", 1, 100000, timeout, error) ||
        !NumberOption(args, "--instance", 0, 0xFFFFFFFFul, instance, error)) {
        if (error.empty()) error = args.Error();
        return false;
    }
    options.timeout = static_cast<uint32_t>(timeout);
    options.instance = static_cast<uint32_t>(instance);
    return true;
}

bool ReadLineParameters(Args& args, PortOptions& options, std::string& error) {
    unsigned long baud = options.baudRate, bits = options.dataBits;
    if (!NumberOption(args, "--baud", 1, 65535, baud, error) ||
        !NumberOption(args, "--data-bits", 5, 8, bits, error)) {
        if (error.empty()) error = args.Error();
        return false;
    }
    options.baudRate = static_cast<uint16_t>(baud);
    options.dataBits = static_cast<uint16_t>(bits);
    std::string word;
    if (args.Option("--parity", word) &&
        !Choose(kParities, std::size(kParities), word, options.parity)) {
        error = "--parity wants none, odd, even, mark or space, not '" + word + "'";
        return false;
    }
    if (args.Option("--stop-bits", word) &&
        !Choose(kStopBits, std::size(kStopBits), word, options.stopBits)) {
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
    if (!args.Error().empty()) {
        error = args.Error();
        return false;
    }
    if (options.port.empty()) {
        error = "--port is needed";
        return false;
    }
    options.port = PortNameForDriver(options.port);
    if (options.port.size() >= jyn::kPortNameSize) {
        error = "the port name '" + options.port + "' is longer than the driver's 11 characters";
        return false;
    }
    return true;
}

Session::~Session() { End(); }

int32_t Session::Call(uint32_t function, void* params) {
    jyn::CallBlock block{};
    block.context = context_;
    block.function = function;
    block.instance = instance_;
    block.params = params;
    return library_.Call(block);
}

bool Session::Start(const std::string& driverPath, const PortOptions& options, std::string& error) {
    if (options.port.size() >= jyn::kPortNameSize) {
        error = "the port name '" + options.port + "' is longer than the driver's 11 characters";
        return false;
    }
    if (!library_.Load(driverPath, error)) return false;
    // A host allocates what GetJynInfo asks for, and never less than the record.
    jyn::DriverInfo info{};
    if (Call(jyn::kGetJynInfo, &info) != jyn::kOk ||
        info.contextSize < sizeof(jyn::DriverContext)) {
        error = "the driver reports a context of " + std::to_string(info.contextSize) +
                " bytes; this jynmb needs " + std::to_string(sizeof(jyn::DriverContext));
        return false;
    }
    const std::size_t words =
        (info.contextSize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    storage_ = std::make_unique<std::max_align_t[]>(words);
    context_ = reinterpret_cast<jyn::DriverContext*>(storage_.get());
    instance_ = options.instance;
    jyn::ColdStartParams params{};
    std::memcpy(params.portName, options.port.c_str(), options.port.size());
    params.openNow = options.openNow ? 1 : 0;
    params.replyTimeout = options.timeout;
    params.baudRate = options.baudRate;
    params.dataBits = options.dataBits;
    params.stopBits = options.stopBits;
    params.parity = options.parity;
    const int32_t result = Call(jyn::kColdStart, &params);
    started_ = true;
    if (result != jyn::kOk) {
        error = "cannot open port " + options.port + " (ColdStart returned " +
                std::to_string(result) + ")";
        return false;
    }
    return true;
}

bool Session::ChangePort(const std::string& port, std::string& error) {
    if (port.size() >= jyn::kPortNameSize) {
        error = "the port name '" + port + "' is longer than 11 characters";
        return false;
    }
    jyn::PortChangeParams params{};
    std::memcpy(params.portName, port.c_str(), port.size());
    params.replyTimeout = -1;  // keep the instance's own
    params.baudRate = 0;       // keep the line parameters
    const int32_t result = Call(jyn::kChangeJynParams, &params);
    if (result != jyn::kOk) {
        error = "cannot open port " + port + " (ChangeJynParams returned " +
                std::to_string(result) + ")";
        return false;
    }
    return true;
}

bool Session::Configure(GateOutcome& gate) {
    jyn::GateDefinition definition{};
    definition.addressText = gate.arg.text.c_str();
    definition.gateType = gate.arg.gateType;
    definition.blockSize = gate.arg.blockSize;
    TakeMessages();
    gate.parseResult = Call(
        gate.arg.IsBlock() ? jyn::kBlockAddressParser : jyn::kSingleAddressParser, &definition);
    gate.address = definition.gateAddress;
    gate.messages = TakeDriverMessages();
    gate.lastMessage = Cause(gate.messages);
    return gate.parseResult == jyn::kOk;
}

int32_t Session::Transfer(GateOutcome& gate, uint32_t function, unsigned char* buffer) {
    jyn::GateRequest request{};
    request.addressText = gate.arg.text.c_str();
    request.gateAddress = gate.address;
    request.count = gate.arg.IsBlock() ? gate.arg.blockSize : 1;
    request.data = buffer;
    TakeMessages();
    gate.result = Call(function, &request);
    gate.messages = TakeDriverMessages();
    gate.lastMessage = Cause(gate.messages);
    return gate.result;
}

int32_t Session::Read(GateOutcome& gate) {
    unsigned char buffer[kValueBufferSize] = {};
    Transfer(gate, gate.arg.IsBlock() ? jyn::kBlockRead : jyn::kSingleRead, buffer);
    if (gate.result == jyn::kOk)
        gate.value = DecodeValue(KindOf(gate.arg, gate.address), gate.arg, buffer);
    return gate.result;
}

int32_t Session::Write(GateOutcome& gate) {
    unsigned char buffer[kValueBufferSize] = {};
    EncodeValue(KindOf(gate.arg, gate.address), gate.arg, gate.value, buffer);
    return Transfer(gate, gate.arg.IsBlock() ? jyn::kBlockWrite : jyn::kSingleWrite, buffer);
}

int32_t Session::End() {
    if (!started_) return jyn::kOk;
    started_ = false;
    return Call(jyn::kEndJyn, nullptr);
}

}  // namespace jynmb
