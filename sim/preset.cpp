// The preset file: initial memory of the simulated stations.
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "sim/config_files.h"
#include "sim/hex.h"
#include "sim/line_settings.h"
#include "sim/simulator.h"

namespace jynsim {
namespace {

struct Scope {
    int station = -1;
    int pc = -1;
};

std::string Trimmed(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return std::string(text.substr(first, last - first));
}

// "1234", "-1", "0xABCD"; within [low, high].
bool ParseNumber(const std::string& text, long long low, long long high, std::uint32_t& value) {
    if (text.empty()) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 11) return false;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const char c = digits[i];
        const bool sign = i == 0 && c == '-' && !hex && digits.size() > 1;
        if (!sign && !(hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                           : std::isdigit(static_cast<unsigned char>(c)) != 0)) {
            return false;
        }
    }
    const long long number = std::strtoll(digits.c_str(), nullptr, hex ? 16 : 10);
    if (number < low || number > high) return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

bool ParseScope(const std::string& line, Scope& scope) {
    const std::string inner = Trimmed(std::string_view(line).substr(1, line.size() - 2));
    if (inner == "*") {
        scope = Scope{};
        return true;
    }
    const std::size_t slash = inner.find('/');
    const auto station = ParseHex(inner.substr(0, slash));
    if (!station || *station > 0xFF) return false;
    scope.station = static_cast<int>(*station);
    scope.pc = -1;
    if (slash == std::string::npos) return true;
    const auto pc = ParseHex(inner.substr(slash + 1));
    if (!pc || *pc > 0xFF) return false;
    scope.pc = static_cast<int>(*pc);
    return true;
}

// The value part of one assignment; a message when it does not fit.
std::string ParseValue(PresetEntry& entry, const std::string& value) {
    switch (entry.kind) {
        case PresetEntry::kText:
            if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
                return "text must be in double quotes";
            }
            entry.text = value.substr(1, value.size() - 2);
            return entry.text.empty() ? "text must not be empty" : "";
        case PresetEntry::kDword:
            return ParseNumber(value, -2147483648LL, 0xFFFFFFFFLL, entry.value)
                       ? ""
                       : "'" + value + "' is not a 32-bit value";
        case PresetEntry::kBit:
            if (value != "0" && value != "1")
                return "a bit device takes 0 or 1, not '" + value + "'";
            entry.value = value == "1" ? 1 : 0;
            return "";
        case PresetEntry::kWord: break;
    }
    return ParseNumber(value, -32768, 0xFFFF, entry.value)
               ? ""
               : "'" + value + "' is not a 16-bit value";
}

std::string ParseAssignment(const std::string& line, PresetEntry& entry) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return "expected DEVICE=VALUE";
    std::string name = Trimmed(std::string_view(line).substr(0, equals));
    const std::size_t colon = name.find(':');
    if (colon != std::string::npos) {
        const std::string prefix = Trimmed(std::string_view(name).substr(0, colon));
        if (prefix != "S" && prefix != "L") return "unknown prefix '" + prefix + ":' (S: or L:)";
        entry.kind = prefix == "S" ? PresetEntry::kText : PresetEntry::kDword;
        name = Trimmed(std::string_view(name).substr(colon + 1));
    }
    const auto device = ParseDeviceName(name);
    if (!device) return "unknown device '" + name + "'";
    entry.device = *device;
    if (colon == std::string::npos) {
        entry.kind = InfoOf(device->device).is_bit ? PresetEntry::kBit : PresetEntry::kWord;
    } else if (InfoOf(device->device).is_bit) {
        return "S: and L: need a word device, not '" + name + "'";
    }
    return ParseValue(entry, Trimmed(std::string_view(line).substr(equals + 1)));
}

bool ApplyOne(const PresetEntry& entry, Simulator& simulator, const Target& target) {
    const std::string name = DeviceName(entry.device);
    switch (entry.kind) {
        case PresetEntry::kBit: return simulator.SetBit(target, name, entry.value != 0);
        case PresetEntry::kWord:
            return simulator.SetWord(target, name, static_cast<std::uint16_t>(entry.value));
        case PresetEntry::kDword: return simulator.SetDword(target, name, entry.value);
        case PresetEntry::kText: return simulator.SetText(target, name, entry.text);
    }
    return false;
}

}  // namespace

bool ParsePreset(std::string_view text, std::vector<PresetEntry>& entries, std::string& error) {
    std::istringstream in{std::string(text)};
    Scope scope;
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        const std::string line = Trimmed(raw);
        if (line.empty() || line[0] == '#' || line[0] == '*') continue;
        std::optional<SerialFormat> format;
        if (IsLineSettingLine(line, format)) continue;  // the line, not memory: jynmb sim takes it
        std::string problem;
        if (line.front() == '[') {
            if (line.back() != ']' || !ParseScope(line, scope)) problem = "bad station section";
        } else {
            PresetEntry entry;
            entry.line = number;
            entry.station = scope.station;
            entry.pc = scope.pc;
            problem = ParseAssignment(line, entry);
            if (problem.empty()) entries.push_back(entry);
        }
        if (!problem.empty()) {
            error = "line " + std::to_string(number) + ": " + problem + ": '" + line + "'";
            return false;
        }
    }
    return true;
}

bool ApplyPreset(const std::vector<PresetEntry>& entries, Simulator& simulator,
                 std::string& error) {
    const auto stations = simulator.WithEngine([](LineEngine& engine) {
        std::vector<Target> targets;
        for (const auto& station : engine.Stations()) {
            targets.emplace_back(station->Config().station, station->Config().pc);
        }
        return targets;
    });
    for (const PresetEntry& entry : entries) {
        bool matched = false;
        for (const Target& target : stations) {
            if (entry.station >= 0 &&
                (target.station != entry.station || (entry.pc >= 0 && target.pc != entry.pc))) {
                continue;
            }
            matched = true;
            if (!ApplyOne(entry, simulator, target)) {
                error = "line " + std::to_string(entry.line) + ": station " +
                        FormatHex(static_cast<std::uint32_t>(target.station), 2) + " has no " +
                        DeviceName(entry.device) +
                        (entry.kind == PresetEntry::kText ? " for that text" : "");
                return false;
            }
        }
        if (!matched) {
            error = "line " + std::to_string(entry.line) + ": no such station on the line";
            return false;
        }
    }
    return true;
}

}  // namespace jynsim
