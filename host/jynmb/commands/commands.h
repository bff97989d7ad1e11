#pragma once

#include <string>
#include <vector>

namespace jynmb {

enum ExitCode : int {
    kExitOk = 0,
    kExitGate = 1,   // a gate or the PLC failed
    kExitUsage = 2,  // the driver, the port, or the command line failed
};

// The words after the command name.
class Args {
public:
    explicit Args(std::vector<std::string> words) : words_(std::move(words)) {}

    // Removes a flag (--name) and reports whether it was there.
    bool Flag(const std::string& name);
    // Removes --name VALUE (or --name=VALUE); false if absent. A missing
    // value is recorded as an error.
    bool Option(const std::string& name, std::string& value);
    // What is left once every known option has been taken.
    const std::vector<std::string>& Rest() const { return words_; }
    // The first unknown option, or empty.
    std::string UnknownOption() const;
    // What is wrong with the words left once every known option has been
    // taken: a missing value, an unknown option or, unless words may be
    // left, an unexpected word. Empty when nothing is.
    std::string Leftover(bool wordsAllowed) const;
    const std::string& Error() const { return error_; }

private:
    std::vector<std::string> words_;
    std::string error_;
};

// Reports a wrong command line on standard error, after what standard
// output holds so far, and gives the usage exit code.
int UsageError(const char* command, const std::string& error);

int RunInfo(Args& args);
int RunRead(Args& args);
int RunWrite(Args& args);
int RunParse(Args& args);
int RunSim(Args& args);
int RunPoll(Args& args);
int RunExplain(Args& args);
int RunDemo(Args& args);
int RunTrace(Args& args);
int RunScan(Args& args);

}  // namespace jynmb
