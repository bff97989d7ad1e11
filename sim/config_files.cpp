#include "sim/config_files.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include "sim/hex.h"
#include "sim/simulator.h"

namespace jynsim {
namespace {

std::string Trim(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return std::string(text.substr(first, last - first));
}

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::optional<std::uint32_t> SmallHex(const std::string& text) {
    const std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed.size() > 2) return std::nullopt;
    return ParseHex(trimmed);
}

void AddStation(StationFile& file, const StationConfig& station) {
    for (StationConfig& known : file.stations) {
        if (known.station == station.station && known.pc == station.pc) {
            known.family = station.family;  // a later line wins, as in the driver
            return;
        }
    }
    file.stations.push_back(station);
}

}  // namespace

StationFile ParseStationFile(std::string_view text) {
    StationFile file;
    int number = 0;
    for (const std::string& raw : Lines(text)) {
        ++number;
        const std::string line = Trim(raw);
        if (raw.empty() || raw[0] == '*') continue;
        const std::size_t equals = line.find('=');
        const std::size_t comma1 = line.find(',', equals == std::string::npos ? 0 : equals);
        const std::size_t comma2 =
            comma1 == std::string::npos ? std::string::npos : line.find(',', comma1 + 1);
        const auto logical = SmallHex(line.substr(0, equals));
        const auto station = comma1 == std::string::npos
                                 ? std::nullopt
                                 : SmallHex(line.substr(equals + 1, comma1 - equals - 1));
        const auto pc = comma1 == std::string::npos
                            ? std::nullopt
                            : SmallHex(line.substr(comma1 + 1, comma2 - comma1 - 1));
        if (equals == std::string::npos || !logical || !station || !pc) {
            file.warnings.push_back("line " + std::to_string(number) + ": illegal line '" + raw +
                                    "'");
            continue;
        }
        StationConfig config;
        config.station = static_cast<std::uint8_t>(*station);
        config.pc = static_cast<std::uint8_t>(*pc);
        if (comma2 != std::string::npos) {
            const std::string word = Trim(line.substr(comma2 + 1));
            const auto family = FamilyFromName(word);
            if (!family) {
                file.warnings.push_back("line " + std::to_string(number) + ": illegal CPU '" +
                                        word + "', taken as ACPU");
            }
            config.family = family.value_or(CpuFamily::kAcpu);
        }
        AddStation(file, config);
    }
    return file;
}

bool ReadTextFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return !in.bad();
}

}  // namespace jynsim
