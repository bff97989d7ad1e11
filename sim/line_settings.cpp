#include "sim/line_settings.h"

#include <cctype>

namespace jynsim {

namespace {

constexpr std::uint32_t kHighestBaud = 4000000;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

bool ParseBaud(std::string_view digits, std::uint32_t& baud) {
    if (digits.empty() || digits.size() > 7) return false;
    baud = 0;
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        baud = baud * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return baud >= 50 && baud <= kHighestBaud;
}

// "7E2": data bits, parity letter, stop bits.
bool ParseFrame(std::string_view frame, SerialFormat& format) {
    if (frame.size() != 3 || frame[0] < '5' || frame[0] > '8') return false;
    format.data_bits = frame[0] - '0';
    const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(frame[1])));
    if (std::string_view("NOEMS").find(parity) == std::string_view::npos) return false;
    format.parity = parity;
    if (frame[2] != '1' && frame[2] != '2') return false;
    format.stop_bits = frame[2] - '0';
    return true;
}

}  // namespace

std::optional<SerialFormat> ParseSerialFormat(std::string_view text) {
    text = Trim(text);
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    SerialFormat format;
    if (!ParseBaud(Trim(text.substr(0, comma)), format.baud) ||
        !ParseFrame(Trim(text.substr(comma + 1)), format)) {
        return std::nullopt;
    }
    return format;
}

std::string FormatSerialFormat(const SerialFormat& format) {
    return std::to_string(format.baud) + "," + std::to_string(format.data_bits) + format.parity +
           std::to_string(format.stop_bits);
}

LineMatch CompareFormats(const SerialFormat& stations, const HostFormat& host) {
    if (stations.baud != host.format.baud) return LineMatch::kOtherBaud;
    if (stations.stop_bits != host.format.stop_bits) return LineMatch::kOtherFrame;
    if (host.frame_known &&
        (stations.data_bits != host.format.data_bits || stations.parity != host.format.parity)) {
        return LineMatch::kOtherFrame;
    }
    return LineMatch::kSame;
}

std::string GarbleForOtherFrame(std::string_view answer) {
    std::string garbled(answer);
    for (char& c : garbled) c = static_cast<char>(static_cast<unsigned char>(c) ^ 0x80u);
    return garbled;
}

std::optional<SerialFormat> ParseHostFormatLine(std::string_view line,
                                                const std::string& slave_path) {
    line = Trim(line);
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || line.substr(0, blank) != slave_path) return std::nullopt;
    return ParseSerialFormat(line.substr(blank + 1));
}

bool IsLineSettingLine(std::string_view line, std::optional<SerialFormat>& format) {
    line = Trim(line);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = Trim(line.substr(0, equals));
    if (name.size() != 4) return false;
    for (std::size_t i = 0; i < 4; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "LINE"[i]) return false;
    }
    format = ParseSerialFormat(line.substr(equals + 1));
    return true;
}

}  // namespace jynsim
