// The driver's messages, as jynmb shows them: on standard error as they
// come, time stamps with -v; with -q only beside a failure they explain.
#pragma once

#include <string>
#include <vector>

#include "host/client/driver_messages.h"

namespace jynmb {

enum class Verbosity { kQuiet, kNormal, kVerbose };

using jynhost::DriverMessage;

// Routes TAVORN's err to jynmb. Call before the driver logs anything.
void InstallMessageHandler(Verbosity verbosity);
// Takes -q and -v out of the arguments.
Verbosity ReadVerbosity(class Args& args);
// Both of the above for a command that shows the driver's messages itself
// (a table, an explanation): echoed on standard error only with -v.
Verbosity InstallQuietMessageHandler(class Args& args);

// The messages since the last call, oldest first; they are also kept for
// a person to read when `echo` is off (the poll table, the demo).
std::vector<DriverMessage> TakeDriverMessages();
void SetEcho(bool echo);
// Whether the driver said that it ended a trace early (a write failed).
bool DriverTraceEnded();
// After a failed call: with -q, the errors among the messages it held back,
// on standard error, except `shown` (the cause, printed with the result).
void ShowHeld(const std::vector<DriverMessage>& messages, const std::string& shown = "");

// Local time "17:21:55.123", with the date in front when asked
// ("2026-12-08 17:21:55.123").
std::string LocalTimeStamp(bool withDate);

}  // namespace jynmb
