#include "host/jynmb/scan/scan_plan.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace jynmb {

namespace {

const char kParityLetters[] = "NOEMS";
constexpr unsigned kLastStation = 0x1F;
constexpr int kAttempts = 10;
// What one attempt costs beside the line and the time-out (purge, system
// calls), and one read beside its attempts: generous, as a bound must be.
constexpr double kAttemptOverheadSeconds = 0.003;
constexpr double kReadOverheadSeconds = 0.02;

// Computer link modules offer these; the rest of what the driver sets follow.
const unsigned kUsualBauds[] = {9600, 19200, 4800, 2400, 1200, 38400, 57600, 14400, 600, 300};

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
    if (!text.empty() && text.back() == ',') parts.emplace_back();
    return parts;
}

bool Hex(const std::string& text, unsigned& value) {
    if (text.empty() || text.size() > 2) return false;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    value = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 16));
    return value <= kLastStation;
}

void AddOnce(std::vector<unsigned>& list, unsigned value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

}  // namespace

std::string FrameName(const ScanFrame& frame) {
    const char parity = frame.parity < 5 ? kParityLetters[frame.parity] : '?';
    return std::to_string(frame.dataBits) + parity + (frame.stopBits == 2 ? "2" : "1");
}

std::optional<ScanFrame> ParseFrameName(const std::string& text) {
    if (text.size() != 3 || (text[0] != '7' && text[0] != '8')) return std::nullopt;
    const char* letter =
        std::strchr(kParityLetters, std::toupper(static_cast<unsigned char>(text[1])));
    if (letter == nullptr || *letter == '\0' || (text[2] != '1' && text[2] != '2'))
        return std::nullopt;
    ScanFrame frame;
    frame.dataBits = static_cast<uint16_t>(text[0] - '0');
    frame.parity = static_cast<uint16_t>(letter - kParityLetters);
    frame.stopBits = text[2] == '2' ? 2 : 0;
    return frame;
}

std::string SettingName(unsigned baud, const ScanFrame& frame) {
    return std::to_string(baud) + "," + FrameName(frame);
}

std::vector<unsigned> DefaultBaudOrder(const std::vector<unsigned>& driverBauds) {
    std::vector<unsigned> order;
    for (const unsigned baud : kUsualBauds) {
        if (std::find(driverBauds.begin(), driverBauds.end(), baud) != driverBauds.end())
            order.push_back(baud);
    }
    std::vector<unsigned> rest(driverBauds);
    std::sort(rest.rbegin(), rest.rend());
    for (const unsigned baud : rest) AddOnce(order, baud);
    return order;
}

std::vector<ScanFrame> DefaultFrameOrder() {
    const char* kOrder[] = {"8N1", "7E1", "7E2", "8E1", "7O1", "8O1", "8N2", "7O2", "8E2", "8O2",
                            "7N1", "7N2", "7M1", "7S1", "8M1", "8S1", "7M2", "7S2", "8M2", "8S2"};
    std::vector<ScanFrame> frames;
    for (const char* name : kOrder) frames.push_back(*ParseFrameName(name));
    return frames;
}

std::vector<unsigned> AllStations() {
    std::vector<unsigned> stations;
    for (unsigned station = 0; station <= kLastStation; ++station) stations.push_back(station);
    return stations;
}

bool ParseBaudList(const std::string& text, const std::vector<unsigned>& driverBauds,
                   std::vector<unsigned>& bauds, std::string& error) {
    bauds.clear();
    for (const std::string& part : Split(text)) {
        char* end = nullptr;
        const unsigned long baud = std::strtoul(part.c_str(), &end, 10);
        if (part.empty() || *end != '\0' || !std::isdigit(static_cast<unsigned char>(part[0])) ||
            std::find(driverBauds.begin(), driverBauds.end(), baud) == driverBauds.end()) {
            error = "--bauds: '" + part + "' is no rate the driver sets";
            return false;
        }
        AddOnce(bauds, static_cast<unsigned>(baud));
    }
    if (bauds.empty()) error = "--bauds wants at least one rate";
    return !bauds.empty();
}

bool ParseStationList(const std::string& text, std::vector<unsigned>& stations,
                      std::string& error) {
    stations.clear();
    for (const std::string& part : Split(text)) {
        const std::size_t dash = part.find('-');
        unsigned first = 0, last = 0;
        const bool good = dash == std::string::npos
                              ? Hex(part, first) && Hex(part, last)
                              : Hex(part.substr(0, dash), first) &&
                                    Hex(part.substr(dash + 1), last) && first <= last;
        if (!good) {
            error = "--stations: '" + part + "' is no station number 00 to 1F (hexadecimal)";
            return false;
        }
        for (unsigned station = first; station <= last; ++station) AddOnce(stations, station);
    }
    if (stations.empty()) error = "--stations wants at least one station number";
    return !stations.empty();
}

bool ParseFrameList(const std::string& text, std::vector<ScanFrame>& frames, std::string& error) {
    frames.clear();
    for (const std::string& part : Split(text)) {
        const auto frame = ParseFrameName(part);
        if (!frame) {
            error = "--frames: '" + part + "' is no frame: 7 or 8 data bits, parity N O E M S, " +
                    "1 or 2 stop bits (7E2, 8N1)";
            return false;
        }
        frames.push_back(*frame);
    }
    if (frames.empty()) error = "--frames wants at least one frame";
    return !frames.empty();
}

double SilentReadSeconds(unsigned baud, const ScanFrame& frame, uint32_t timeoutUnits,
                         unsigned requestChars) {
    const unsigned bits =
        1u + frame.dataBits + (frame.parity != 0 ? 1u : 0u) + (frame.stopBits == 2 ? 2u : 1u);
    const double onLine = static_cast<double>(requestChars * bits) / baud;
    const double attempt = onLine + timeoutUnits * 0.01 + kAttemptOverheadSeconds;
    return kAttempts * attempt + kReadOverheadSeconds;
}

double WorstCaseSeconds(const ScanPlan& plan) {
    double seconds = 0;
    for (const unsigned baud : plan.bauds) {
        seconds += static_cast<double>(plan.stations.size()) *
                   SilentReadSeconds(baud, plan.frames.front(), plan.timeoutUnits);
    }
    return seconds;
}

std::string DurationText(double seconds) {
    const long whole = std::lround(std::ceil(seconds));
    char text[48];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, whole % 3600 / 60);
    } else if (whole >= 60) {
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld s", whole);
    }
    return text;
}

}  // namespace jynmb
