// A driver instance held the way a host holds one: the loaded library, the
// context memory, the port settings, and the gates it has configured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/client/driver_instance.h"
#include "host/client/driver_library.h"
#include "host/client/records.h"
#include "host/jynmb/values/gate_arg.h"
#include "host/jynmb/commands/messages.h"
#include "interface/host_abi.h"

namespace jynmb {

struct PortOptions {
    std::string port;
    jynhost::LineSettings line;
    uint32_t instance = 1;
    bool openNow = true;  // ColdStart opens the port
};

// Reads --port, --baud, --data-bits, --parity, --stop-bits, --timeout,
// --instance, after the command's own options. False with `error` set on a
// bad value or an unknown option.
bool ReadPortOptions(class Args& args, PortOptions& options, std::string& error);
// Only --timeout and --instance: for commands that bring their own line.
bool ReadInstanceOptions(class Args& args, PortOptions& options, std::string& error);
// The port options, for a command's --help.
std::string PortOptionsHelp();

// What became of one gate.
struct GateOutcome {
    GateArg arg;
    jyn::GateAddress address{};
    int32_t parseResult = -1;  // codes 3/4
    int32_t result = -1;       // codes 5/6/7/10
    Value value;
    std::vector<DriverMessage> messages;  // what the driver said during the last call
    std::string lastMessage;              // of those, the one that says why
    std::vector<std::size_t> unread;      // characters the driver passes over (accepted gates)
};

class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads the driver only: enough for the address parsers.
    bool Load(const std::string& driverPath, std::string& error) {
        return library_.Load(driverPath, error);
    }
    // Loads the driver and starts an instance on the port (ColdStart, with
    // openNow as the options say). A driver or port failure gives false and
    // `error`.
    bool Start(const std::string& driverPath, const PortOptions& options, std::string& error);
    // Points the started instance at another port and opens it, keeping the
    // line parameters and the reply time-out (ChangeJynParams).
    bool ChangePort(const std::string& port, std::string& error);
    // Sets the port to other line parameters: closes it first (CloseCom),
    // since the driver cannot open a port it holds already, then opens it
    // with them (ChangeJynParams), keeping the reply time-out.
    bool ChangeLine(const std::string& port, const jynhost::LineSettings& line,
                    std::string& error);

    // Configures the gate (code 3 or 4); the outcome carries the address.
    bool Configure(GateOutcome& gate);
    // Reads or writes a configured gate (codes 5, 6, 7, 10).
    int32_t Read(GateOutcome& gate);
    int32_t Write(GateOutcome& gate);

    jyn::DriverContext& Context() { return *instance_.Context(); }
    // What the driver said while it started; whether Start failed on the port.
    const std::vector<DriverMessage>& StartMessages() const { return startMessages_; }
    bool PortFailed() const { return portFailed_; }
    // Ends the driver (EndJyn). Done by the destructor if not called.
    int32_t End();

private:
    int32_t Transfer(GateOutcome& gate, bool write, unsigned char* buffer);

    jynhost::DriverLibrary library_;
    jynhost::DriverInstance instance_{library_};
    bool started_ = false;
    bool portFailed_ = false;
    std::vector<DriverMessage> startMessages_;
};

// Starts the session as Start does. On failure it says why on standard
// error: the driver's messages that jynmb held back, then, for a port that
// did not open, each cause jynmb finds with what to do; with `json` also
// one error object on standard output. False after such a report.
bool StartSession(Session& session, const char* command, const std::string& driverPath,
                  const PortOptions& options, bool json);

}  // namespace jynmb
