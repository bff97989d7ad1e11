// jynmb scan's results: a table with the lines to paste into the host's
// port settings and the station file, or one JSON object.
#pragma once

#include <cstdint>
#include <string>

#include "host/jynmb/scan/scan_search.h"

namespace jynmb {

struct ScanReportInfo {
    std::string port;
    uint32_t instance = 1;
    uint32_t timeoutUnits = 5;
    double seconds = 0;  // the search took
};

std::string ScanTable(const ScanOutcome& outcome, const ScanReportInfo& info);
std::string ScanJson(const ScanOutcome& outcome, const ScanReportInfo& info);
// "answers in 12.3 ms", "NAK 06h (Character area error)", "bytes that are no frame".
std::string HeardText(const ProbeResult& probe);

}  // namespace jynmb
