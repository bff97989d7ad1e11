// The driver's messages, as jynmb shows them: on standard error, level-8
// messages hidden with -q, time stamps with -v.
#pragma once

#include <string>
#include <vector>

namespace jynmb {

enum class Verbosity { kQuiet, kNormal, kVerbose };

// Routes TAVORN's err to jynmb. Call before the driver logs anything.
void InstallMessageHandler(Verbosity verbosity);
// Takes -q and -v out of the arguments.
Verbosity ReadVerbosity(class Args& args);

// The messages since the last call, oldest first; they are also kept for
// a person to read when `echo` is off (the poll table, the demo).
std::vector<std::string> TakeMessages();
void SetEcho(bool echo);

}  // namespace jynmb
