// ctest names each case of a parameterised test after its printed parameter
// (gtest_discover_tests puts it in place of the case's index), so every
// table's PrintTo prints a short name made here, of letters, digits, '-'
// and '_' only, unique within its table. A struct without a PrintTo would print
// as a dump of its bytes, and a name generator's name would come with that
// dump behind it.
#pragma once

#include <cctype>
#include <ostream>
#include <string>
#include <string_view>

namespace jyn::testing {

// Each run of other characters becomes one '_', none at either end.
inline std::string CaseName(std::string_view text) {
    std::string name;
    bool gap = false;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-') {
            gap = !name.empty();
            continue;
        }
        if (gap) name += '_';
        gap = false;
        name += c;
    }
    return name;
}

// A text under test as part of a case name, every character kept apart:
// blanks as '_', control characters by their names (<HT>, <CR>, <LF>) or
// codes (<1B>); a name past 40 characters is cut and ends in the text's
// length.
inline std::string TextName(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string name;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ') {
            name += '_';
        } else if (byte >= 0x20 && byte <= 0x7E) {
            name += c;
        } else if (c == '\t' || c == '\r' || c == '\n') {
            name += c == '\t' ? "<HT>" : c == '\r' ? "<CR>" : "<LF>";
        } else {
            name += std::string("<") + kDigits[byte >> 4] + kDigits[byte & 0xF] + ">";
        }
    }
    if (name.size() > 40) name = name.substr(0, 32) + "..." + std::to_string(text.size());
    return name;
}

}  // namespace jyn::testing
