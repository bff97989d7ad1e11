#include "sim/request.h"

#include <array>

#include "sim/hex.h"

namespace jynsim {
namespace {

const std::array<CommandInfo, 9> kCommands = {{
    {Command::kBR, "BR", false, true, false, 5},
    {Command::kBW, "BW", true, true, false, 5},
    {Command::kWR, "WR", false, false, false, 5},
    {Command::kWW, "WW", true, false, false, 5},
    {Command::kJR, "JR", false, true, true, 7},
    {Command::kJW, "JW", true, true, true, 7},
    {Command::kQR, "QR", false, false, true, 7},
    {Command::kQW, "QW", true, false, true, 7},
    {Command::kTT, "TT", false, false, false, 0},
}};

struct NakEntry {
    std::uint8_t code;
    const char* name;
};

const NakEntry kNakNames[] = {
    {0x00, "write during RUN disabled"},
    {0x01, "parity error"},
    {0x02, "sum check error"},
    {0x03, "protocol error"},
    {0x04, "framing error"},
    {0x05, "overrun error"},
    {0x06, "character area error"},
    {0x07, "character error"},
    {0x08, "PC access error"},
    {0x10, "PC number error"},
    {0x11, "mode error"},
    {0x12, "special function module designation error"},
};

// Header: station (2), PC number (2), command (2), message wait (1).
constexpr std::size_t kHeader = 7;

std::size_t DataLength(const CommandInfo& info, std::uint32_t count) {
    if (info.command == Command::kTT) return count;
    if (!info.write) return 0;
    return info.bit_units ? count : 4 * count;
}

// A hexadecimal field: flags 07h for unusable characters (and lower case
// unless the policy takes it).
std::optional<std::uint32_t> HexField(Request& request, std::string_view field,
                                      const DecodePolicy& policy) {
    const HexCase kind = ClassifyHex(field);
    if (kind == HexCase::kInvalid || (kind == HexCase::kHasLower && !policy.lower_hex_ok)) {
        request.Flag(kNakCharacter);
        return std::nullopt;
    }
    return ParseHex(field);
}

void DecodeDeviceField(Request& request, std::string_view field, const DecodePolicy& policy) {
    std::size_t code_length = 1;
    if (field.size() >= 2 && (field[0] == 'T' || field[0] == 'C') &&
        DeviceFromCode(field.substr(0, 2))) {
        code_length = 2;
    }
    const auto device = DeviceFromCode(field.substr(0, code_length));
    if (!device) {
        request.Flag(kNakCharacterArea);
        return;
    }
    const int radix = InfoOf(*device).radix;
    std::uint32_t number = 0;
    bool usable = true;
    for (char c : field.substr(code_length)) {
        const int digit = HexDigit(c);
        const bool lower = c >= 'a' && c <= 'f';
        if (digit < 0 || (lower && !policy.lower_hex_ok)) {
            request.Flag(kNakCharacter);
            return;
        }
        if (digit >= radix) usable = false;  // e.g. "D01A0": a device it cannot have
        number = number * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(digit);
    }
    if (!usable) {
        request.Flag(kNakCharacterArea);
        return;
    }
    request.device = DeviceRef{*device, number};
}

void DecodeData(Request& request, const CommandInfo& info, const DecodePolicy& policy) {
    if (info.command == Command::kTT || !info.write) return;
    if (info.bit_units) {
        for (char c : request.data) {
            if (c != '0' && c != '1') request.Flag(kNakCharacter);
        }
        return;
    }
    HexField(request, request.data, policy);
}

}  // namespace

const CommandInfo& InfoOf(Command command) { return kCommands[static_cast<std::size_t>(command)]; }

std::optional<Command> CommandFromText(std::string_view text) {
    for (const CommandInfo& info : kCommands) {
        if (text == info.name) return info.command;
    }
    return std::nullopt;
}

const char* NakName(std::uint8_t code) {
    for (const NakEntry& entry : kNakNames) {
        if (entry.code == code) return entry.name;
    }
    return "unknown";
}

int StationOfText(std::string_view text) {
    const auto value = text.size() >= 2 ? ParseHex(text.substr(0, 2)) : std::nullopt;
    return value ? static_cast<int>(*value) : -1;
}

Measure MeasureRequest(std::string_view text) {
    if (text.size() < 6) return {Measure::kNeedMore};
    const auto command = CommandFromText(text.substr(4, 2));
    if (!command) return {Measure::kBroken, 0, kNakCharacterArea};
    const CommandInfo& info = InfoOf(*command);
    const std::size_t count_at = kHeader + static_cast<std::size_t>(info.field_length);
    if (text.size() < count_at + 2) return {Measure::kNeedMore};
    // Without a readable point count the end of the frame cannot be found.
    const auto count = ParseHex(text.substr(count_at, 2));
    if (!count) return {Measure::kBroken, 0, kNakCharacter};
    const std::size_t length = count_at + 2 + DataLength(info, *count) + 2;
    if (text.size() < length) return {Measure::kNeedMore};
    return {Measure::kComplete, length};
}

Request DecodeRequest(std::string_view text, const DecodePolicy& policy) {
    Request request;
    request.text = std::string(text);
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) request.Flag(kNakProtocol);
    }
    const auto station = HexField(request, text.substr(0, 2), policy);
    const auto pc = HexField(request, text.substr(2, 2), policy);
    // The station answers with its own numbers even when the host wrote them
    // in lower case.
    request.station = station ? static_cast<int>(*station) : StationOfText(text);
    const auto pc_any_case = ParseHex(text.substr(2, 2));
    request.pc = pc ? static_cast<int>(*pc) : pc_any_case ? static_cast<int>(*pc_any_case) : -1;
    request.command = CommandFromText(text.substr(4, 2));
    const CommandInfo& info = InfoOf(*request.command);
    const auto wait = HexField(request, text.substr(6, 1), policy);
    request.wait = wait ? static_cast<int>(*wait) : 0;
    const auto field_length = static_cast<std::size_t>(info.field_length);
    request.field = std::string(text.substr(kHeader, field_length));
    if (field_length > 0) DecodeDeviceField(request, request.field, policy);
    const std::size_t count_at = kHeader + field_length;
    // A count in lower case is a character error (07h), not also a count
    // out of range (06h) that would win as the lower code.
    const auto count = HexField(request, text.substr(count_at, 2), policy);
    const auto count_any_case = ParseHex(text.substr(count_at, 2));
    request.points = count ? *count : count_any_case.value_or(0);
    if (request.points == 0 && info.bit_units && !info.write) request.points = 256;
    const std::size_t data_at = count_at + 2;
    const std::size_t sum_at = text.size() - 2;
    request.data = std::string(text.substr(data_at, sum_at - data_at));
    DecodeData(request, info, policy);
    // A sum in lower case can still be compared; both faults count.
    const auto sum = ParseHex(text.substr(sum_at, 2));
    request.sum_ok = sum && *sum == SumCheck(text.substr(0, sum_at));
    if (sum && !request.sum_ok) request.Flag(kNakSumCheck);
    HexField(request, text.substr(sum_at, 2), policy);
    return request;
}

}  // namespace jynsim
