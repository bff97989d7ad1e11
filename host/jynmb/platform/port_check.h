// Why a port did not open, found out by jynmb itself: the driver's messages
// say only that it failed. One file per platform asks the system.
#pragma once

#include <string>
#include <vector>

#include "host/client/records.h"

namespace jynmb {

struct PortCause {
    std::string cause;   // "no such device /dev/ttyS99"
    std::string action;  // what to do about it
};

// Every cause found for the port `name` (as the driver is given it) with
// `line`; empty when the system shows nothing wrong.
std::vector<PortCause> DiagnosePort(const std::string& name, const jynhost::LineSettings& line);

// The baud rates the driver can set on this system, for a person to read:
// "50, 75, 110, ... 57600".
std::string DriverBaudRates();
// The same, as numbers, slowest first: one list per platform.
std::vector<unsigned> DriverBaudList();
bool DriverSetsRate(unsigned rate);

}  // namespace jynmb
