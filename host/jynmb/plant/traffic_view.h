// Frames as the simulated plant saw them go over the line, for a person:
// without line times, so that two runs print the same, and with the fields
// of a request frame named.
#pragma once

#include <string>
#include <vector>

#include "sim/traffic_log.h"

namespace jynmb {

// "host > PLC  <ENQ>01FFWR0D0100012C          WR st 01 pc FF D100 x1"
std::string FrameLine(const jynsim::TrafficEntry& entry);
// Each frame on a line of its own, indented, a request followed by its fields.
void PrintFrames(const std::vector<jynsim::TrafficEntry>& entries);

// The fields of a request frame as it was sent:
// "ENQ | station 01 | PC FF | command WR | wait 0 | device D0100 | points 01 | sum 2C".
// Empty when the bytes are not a request of the BR/WR/JR/QR/BW/WW/JW/QW kind.
std::string RequestFields(const std::string& frame);

}  // namespace jynmb
