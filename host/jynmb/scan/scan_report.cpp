#include "host/jynmb/scan/scan_report.h"

#include <cstdio>

#include "host/jynmb/values/json.h"
#include "interface/station_file_names.h"

namespace jynmb {

namespace {

const char* const kParityWords[] = {"none", "odd", "even", "mark", "space"};

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string Ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

std::string NakText(int code) {
    return code < 0 ? "unreadable" : Hex2(static_cast<unsigned>(code)) + "h";
}

// The NAK a station gave to either read, for the table: "-" for none.
std::string NakColumn(const FoundStation& station) {
    std::string text;
    if (station.plain.heard == Heard::kNak) text = NakText(station.plain.nakCode) + " to WR";
    if (station.family.heard == Heard::kNak) {
        text += (text.empty() ? "" : ", ") + NakText(station.family.nakCode) + " to QR";
    }
    return text.empty() ? "-" : text;
}

std::string StationList(const std::vector<unsigned>& stations) {
    std::string text;
    for (const unsigned station : stations) text += (text.empty() ? "" : " ") + Hex2(station);
    return text;
}

std::string PasteLines(const ScanOutcome& outcome, const ScanReportInfo& info) {
    const ScanFrame& frame = outcome.frame;
    const std::string stop = frame.stopBits == 2 ? "2" : "1";
    std::string text = "\nhost port settings: baud rate " + std::to_string(outcome.baud) +
                       ", data bits " + std::to_string(frame.dataBits) + ", parity " +
                       std::to_string(frame.parity) + " (" + kParityWords[frame.parity] +
                       "), stop bits " + std::to_string(frame.stopBits) + " (" +
                       (frame.stopBits == 2 ? "two" : "one") + ")\n";
    text += "jynmb options:      --port " + info.port + " --baud " + std::to_string(outcome.baud) +
            " --data-bits " + std::to_string(frame.dataBits) + " --parity " +
            kParityWords[frame.parity] + " --stop-bits " + stop + "\n";
    const std::string name = jyn::station_file::NamesFor(info.instance).name[0];
    text += "\nstation file " + name + " (logical station = station number):\n";
    for (const FoundStation& station : outcome.stations) {
        const std::string cpu = station.cpu == "AnACPU" ? "AnACPU" : "ACPU";
        text += Hex2(station.station) + " = " + Hex2(station.station) + ", FF, " + cpu +
                (station.cpu == "AnACPU" || station.cpu == "ACPU" ? "" : "   * CPU not known") +
                "\n";
    }
    return text;
}

}  // namespace

std::string HeardText(const ProbeResult& probe) {
    switch (probe.heard) {
        case Heard::kAnswer: return "answers in " + Ms(probe.ms) + " ms";
        case Heard::kNak: return "NAK " + NakText(probe.nakCode);
        case Heard::kNoise:
            return probe.nakCode >= 0
                       ? "cannot read this frame (NAK " + NakText(probe.nakCode) + ")"
                       : "bytes that are no frame";
        case Heard::kSilence: break;
    }
    return "silent";
}

std::string ScanTable(const ScanOutcome& outcome, const ScanReportInfo& info) {
    std::string text;
    if (!outcome.found) {
        text = "no station answered at " + std::to_string(outcome.tried.size()) +
               " settings tried" + (outcome.interrupted ? " (stopped)" : "") + "\n";
    } else {
        text = "line settings: " + SettingName(outcome.baud, outcome.frame) +
               (outcome.interrupted ? " (stopped before the end)" : "") + "\n\n";
        text += "station  PC  CPU        read ms  NAK\n";
        for (const FoundStation& station : outcome.stations) {
            char row[160];
            std::snprintf(row, sizeof row, "%-7s  FF  %-9s  %7s  %s\n",
                          Hex2(station.station).c_str(), station.cpu.c_str(),
                          Ms(station.plain.ms).c_str(), NakColumn(station).c_str());
            text += row;
        }
    }
    if (!outcome.noiseOnly.empty()) {
        text += "\nbytes that are no frame, at every setting tried, from station(s) " +
                StationList(outcome.noiseOnly) +
                ": a station at other settings (try the rates and frames left out)\n";
    }
    if (outcome.found) text += PasteLines(outcome, info);
    text += "\nsearched " + std::to_string(outcome.tried.size()) + " settings in " +
            DurationText(info.seconds) + "\n";
    return text;
}

namespace {

std::string JsonProbe(const ProbeResult& probe) {
    const char* kHeard[] = {"silence", "noise", "nak", "answer"};
    std::string text = "{\"heard\": \"" + std::string(kHeard[static_cast<int>(probe.heard)]) + "\"";
    text += ", \"ms\": " + Ms(probe.ms);
    text += ", \"nak\": " + (probe.nakCode >= 0
                                 ? "\"" + Hex2(static_cast<unsigned>(probe.nakCode)) + "\""
                                 : std::string("null"));
    return text + "}";
}

std::string JsonStations(const ScanOutcome& outcome) {
    std::string text = "[";
    for (std::size_t i = 0; i < outcome.stations.size(); ++i) {
        const FoundStation& station = outcome.stations[i];
        text += std::string(i ? ", " : "") + "{\"station\": \"" + Hex2(station.station) +
                "\", \"pc\": \"FF\", \"cpu\": " + JsonString(station.cpu) +
                ", \"readMs\": " + Ms(station.plain.ms) +
                ", \"read\": " + JsonProbe(station.plain) +
                ", \"extendedRead\": " + JsonProbe(station.family) + "}";
    }
    return text + "]";
}

}  // namespace

std::string ScanJson(const ScanOutcome& outcome, const ScanReportInfo& info) {
    std::string text = "{\"result\": " + std::to_string(outcome.found ? 0 : 1) +
                       ", \"port\": " + JsonString(info.port) +
                       ", \"found\": " + (outcome.found ? "true" : "false");
    if (outcome.found) {
        const ScanFrame& frame = outcome.frame;
        text += ", \"settings\": {\"baud\": " + std::to_string(outcome.baud) +
                ", \"dataBits\": " + std::to_string(frame.dataBits) + ", \"parity\": \"" +
                kParityWords[frame.parity] +
                "\", \"stopBits\": " + (frame.stopBits == 2 ? "2" : "1") + ", \"frame\": \"" +
                FrameName(frame) + "\"}";
    }
    text += ", \"stations\": " + JsonStations(outcome) + ", \"noiseOnly\": [";
    for (std::size_t i = 0; i < outcome.noiseOnly.size(); ++i)
        text += std::string(i ? ", " : "") + "\"" + Hex2(outcome.noiseOnly[i]) + "\"";
    text += "], \"tried\": [";
    for (std::size_t i = 0; i < outcome.tried.size(); ++i)
        text += std::string(i ? ", " : "") + JsonString(outcome.tried[i]);
    text += "], \"interrupted\": " + std::string(outcome.interrupted ? "true" : "false") +
            ", \"seconds\": " + Ms(info.seconds);
    if (!outcome.error.empty()) text += ", \"error\": " + JsonString(outcome.error);
    return text + "}\n";
}

}  // namespace jynmb
