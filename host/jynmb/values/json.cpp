#include "host/jynmb/values/json.h"

#include <cstdio>

namespace jynmb {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonValue(ValueKind kind, const GateArg& arg, const Value& value) {
    if (kind == ValueKind::kString) return JsonString(value.text);
    if (!arg.IsBlock()) return value.numbers.empty() ? "null" : std::to_string(value.numbers[0]);
    std::string out = "[";
    for (std::size_t i = 0; i < value.numbers.size(); ++i) {
        out += (i ? "," : "") + std::to_string(value.numbers[i]);
    }
    return out + "]";
}

}  // namespace jynmb
