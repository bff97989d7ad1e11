// jynmb scan: which line settings and stations it tries, in which order,
// and how long that can take.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jynmb {

// Data bits, parity and stop bits as the host's record codes them.
struct ScanFrame {
    uint16_t dataBits = 8;
    uint16_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint16_t stopBits = 0;  // 0 one, 2 two
};

// "7E2".
std::string FrameName(const ScanFrame& frame);
std::optional<ScanFrame> ParseFrameName(const std::string& text);
// "19200,7E2".
std::string SettingName(unsigned baud, const ScanFrame& frame);

struct ScanPlan {
    std::vector<unsigned> bauds;     // in the order tried
    std::vector<ScanFrame> frames;   // in the order tried at each baud rate
    std::vector<unsigned> stations;  // station numbers, PC FF
    uint32_t timeoutUnits = 5;       // reply time-out, 10 ms units
};

// The rates `driverBauds` holds, the usual ones of computer link modules
// first, then the others from the fastest down.
std::vector<unsigned> DefaultBaudOrder(const std::vector<unsigned>& driverBauds);
// 7 and 8 data bits (format 1 is ASCII), every parity, one or two stop bits;
// the usual module settings first.
std::vector<ScanFrame> DefaultFrameOrder();
std::vector<unsigned> AllStations();

// Comma lists: "9600,19200" (rates the driver sets), "03,1A,10-13" (hex
// station numbers 00-1F), "7E2,8N1". False with `error`.
bool ParseBaudList(const std::string& text, const std::vector<unsigned>& driverBauds,
                   std::vector<unsigned>& bauds, std::string& error);
bool ParseStationList(const std::string& text, std::vector<unsigned>& stations, std::string& error);
bool ParseFrameList(const std::string& text, std::vector<ScanFrame>& frames, std::string& error);

// The read used to probe: ENQ, 16 characters of header, device field and
// sum; the extended form has two more.
constexpr unsigned kProbeChars = 17;
constexpr unsigned kExtendedProbeChars = 19;

// The longest a read can take when nothing answers: the driver's ten
// attempts, each the request on the line and one reply time-out.
double SilentReadSeconds(unsigned baud, const ScanFrame& frame, uint32_t timeoutUnits,
                         unsigned requestChars = kProbeChars);
// The whole search when nothing answers: every station at every rate, in
// the first frame (a rate where nobody answers is not tried again).
double WorstCaseSeconds(const ScanPlan& plan);
// "4 min 05 s", "12 s".
std::string DurationText(double seconds);

}  // namespace jynmb
