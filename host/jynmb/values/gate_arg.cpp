#include "host/jynmb/values/gate_arg.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>

namespace jynmb {

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Decimal, or hexadecimal after "0x"; a leading zero is no octal marker
// (010 is ten, as the person typing it means).
bool ParseInteger(const std::string& text, int64_t& value) {
    const bool negative = !text.empty() && text[0] == '-';
    std::size_t at = negative ? 1 : 0;
    int base = 10;
    if (text.size() > at + 2 && text[at] == '0' && Upper(text[at + 1]) == 'X') {
        base = 16;
        at += 2;
    }
    if (at >= text.size()) return false;
    const auto first = static_cast<unsigned char>(text[at]);
    if (base == 10 ? !std::isdigit(first) : !std::isxdigit(first)) return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str() + at, &end, base);
    if (errno != 0 || *end != '\0') return false;
    value = negative ? -parsed : parsed;
    return true;
}

// The numbers a kind can carry: unsigned or signed, as a person prefers.
bool InRange(ValueKind kind, int64_t value) {
    switch (kind) {
        case ValueKind::kBit: return value == 0 || value == 1;
        case ValueKind::kWord: return value >= -32768 && value <= 0xFFFF;
        case ValueKind::k32Bit: return value >= INT32_MIN && value <= 0xFFFFFFFFLL;
        case ValueKind::kString: return false;
    }
    return false;
}

// Blanks around a value go; a blank inside one ("1 2") stays, so that the
// value is refused rather than read as another number.
std::vector<std::string> SplitCommas(const std::string& input) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = input.find(',', start);
        std::string part = input.substr(start, comma - start);
        const std::size_t first = part.find_first_not_of(' ');
        part = first == std::string::npos
                   ? std::string()
                   : part.substr(first, part.find_last_not_of(' ') - first + 1);
        parts.push_back(part);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

// The gate type a host would give the address: bit gate 6, a 32-bit letter
// 3, a string address 7, anything else 1.
int32_t DefaultGateType(const std::string& text) {
    if (text.size() > 2 && Upper(text[2]) == 'B') return jyn::kGateDigital;
    if (text.size() > 3 && jyn::address::Is32BitLetter(Upper(text[3]))) {
        return jyn::kGateAnalog32First;
    }
    if (jyn::address::HasStringMarker(text.c_str())) return jyn::kGateString;
    if (text.size() > 3 && Upper(text[3]) == 'S') return jyn::kGateString;
    return 1;
}

// Takes "<mark>N" off the end of `rest`, if it is there. False when N is
// not a number from low to high.
bool TakeSuffix(std::string& rest, char mark, int64_t low, int64_t high,
                std::optional<int64_t>& value) {
    const auto at = rest.rfind(mark);
    if (at == std::string::npos) return true;
    int64_t number = 0;
    if (!ParseInteger(rest.substr(at + 1), number) || number < low || number > high) return false;
    value = number;
    rest.resize(at);
    return true;
}

}  // namespace

bool ParseGateArg(const std::string& word, GateArg& arg, std::string& error) {
    arg = GateArg{};
    std::string rest = word;
    std::optional<int64_t> type, size;
    if (!TakeSuffix(rest, ':', 0, 7, type)) {
        error = "gate type in '" + word + "' must be 0..7";
        return false;
    }
    if (!TakeSuffix(rest, '*', 1, 255, size)) {
        error = "block size in '" + word + "' must be 1..255";
        return false;
    }
    if (rest.empty()) {
        error = "no address text in '" + word + "'";
        return false;
    }
    arg.text = rest;
    arg.gateType = type ? static_cast<int32_t>(*type) : DefaultGateType(rest);
    arg.blockSize = size ? static_cast<int32_t>(*size) : 0;
    return true;
}

std::string GateName(const GateArg& arg) {
    return arg.IsBlock() ? arg.text + "*" + std::to_string(arg.blockSize) : arg.text;
}

bool ParseGateList(const std::string& text, std::vector<GateArg>& args, std::string& error) {
    args.clear();
    std::size_t start = 0;
    for (int line = 1; start <= text.size(); ++line) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string word = text.substr(start, end - start);
        start = end + 1;
        word.resize(std::min(word.size(), word.find('#')));
        const auto first = word.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        word = word.substr(first, word.find_last_not_of(" \t\r") - first + 1);
        GateArg arg;
        if (word.find_first_of(" \t") != std::string::npos) {
            error = "line " + std::to_string(line) + ": one gate a line, not '" + word + "'";
            return false;
        }
        if (!ParseGateArg(word, arg, error)) {
            error = "line " + std::to_string(line) + ": " + error;
            return false;
        }
        args.push_back(arg);
    }
    if (args.empty()) error = "no gates in it";
    return !args.empty();
}

unsigned StringLength(const std::string& text) { return jyn::address::StringLength(text.c_str()); }

ValueKind KindOf(const GateArg& arg, const jyn::GateAddress& address) {
    return jyn::address::KindOf(address, arg.text.c_str());
}

const char* KindName(ValueKind kind) {
    switch (kind) {
        case ValueKind::kBit: return "bit";
        case ValueKind::kWord: return "word";
        case ValueKind::k32Bit: return "32-bit";
        case ValueKind::kString: return "string";
    }
    return "?";
}

bool ParseValue(ValueKind kind, const GateArg& arg, const std::string& input, Value& value,
                std::string& error) {
    value = Value{};
    if (kind == ValueKind::kString) {
        value.text = input;
        if (value.text.size() >= 2 && value.text.front() == '"' && value.text.back() == '"') {
            value.text = value.text.substr(1, value.text.size() - 2);
        }
        if (value.text.size() > StringLength(arg.text)) {
            error = "text longer than the gate's " + std::to_string(StringLength(arg.text)) +
                    " characters";
            return false;
        }
        return true;
    }
    const std::vector<std::string> parts = SplitCommas(input);
    const std::size_t wanted = arg.IsBlock() ? static_cast<std::size_t>(arg.blockSize) : 1;
    if (parts.size() != wanted) {
        error =
            "expected " + std::to_string(wanted) + " value(s), got " + std::to_string(parts.size());
        return false;
    }
    for (const std::string& part : parts) {
        int64_t number = 0;
        if (!ParseInteger(part, number) || !InRange(kind, number)) {
            error = "'" + part + "' is not a " + KindName(kind) + " value";
            return false;
        }
        // A negative number is the two's complement the PLC will hold, so a
        // written value reads back the same.
        const int64_t mask = kind == ValueKind::k32Bit ? 0xFFFFFFFFLL : 0xFFFFLL;
        value.numbers.push_back(number & mask);
    }
    return true;
}

}  // namespace jynmb
