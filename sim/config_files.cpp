#include "sim/config_files.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include "sim/hex.h"
#include "sim/simulator.h"

namespace jynsim {
namespace {

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// A station line read the way the driver's formatted scan reads it,
// "II = SS, PP, CPU": blanks may stand before each number and before the
// '=', none before a comma; a number is one or two hexadecimal digits; the
// CPU is one word, and what follows it is not read.
class StationLineScan {
public:
    explicit StationLineScan(std::string_view text) : text_(text) {}

    std::optional<std::uint32_t> Number() {
        SkipBlanks();
        std::uint32_t value = 0;
        std::size_t digits = 0;
        for (; digits < 2 && pos_ < text_.size() && HexDigit(text_[pos_]) >= 0; ++digits, ++pos_) {
            value = value * 16 + static_cast<std::uint32_t>(HexDigit(text_[pos_]));
        }
        if (digits == 0) return std::nullopt;
        return value;
    }
    bool Literal(char c, bool blanksBefore) {
        if (blanksBefore) SkipBlanks();
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    std::string Word() {
        SkipBlanks();
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
        return std::string(text_.substr(start, pos_ - start));
    }

private:
    void SkipBlanks() {
        while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// "OFFLINE = 30", "TRACE = path, size": the driver's own settings (any
// case, blanks around the '='), nothing to the line.
bool IsDriverKeyword(const std::string& line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    std::istringstream in(line.substr(0, equals));
    std::string name, rest;
    in >> name >> rest;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return rest.empty() && (name == "OFFLINE" || name == "TRACE");
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
        if (raw.empty() || raw[0] == '*' || IsDriverKeyword(raw)) continue;
        StationLineScan scan(raw);
        const auto logical = scan.Number();
        const bool equals = logical && scan.Literal('=', true);
        const auto station = equals ? scan.Number() : std::nullopt;
        const auto pc = station && scan.Literal(',', false) ? scan.Number() : std::nullopt;
        if (!pc) {
            file.warnings.push_back("line " + std::to_string(number) + ": illegal line '" + raw +
                                    "'");
            continue;
        }
        StationConfig config;
        config.station = static_cast<std::uint8_t>(*station);
        config.pc = static_cast<std::uint8_t>(*pc);
        const std::string word = scan.Literal(',', false) ? scan.Word() : std::string();
        if (!word.empty()) {
            const auto family = FamilyFromName(word);
            if (!family) {
                file.warnings.push_back("line " + std::to_string(number) + ": illegal CPU '" +
                                        word + "', taken as ACPU");
            }
            config.family = family.value_or(CpuFamily::kAcpu);
        }
        AddStation(file, config);
        file.logical.push_back(*logical);
    }
    return file;
}

bool ReadTextFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.clear();
    char piece[4096];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) {
        text.append(piece, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kLargestTextFile) return false;  // not a file a person wrote
    }
    return !in.bad();
}

}  // namespace jynsim
