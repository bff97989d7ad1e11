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

}  // namespace jyn::testing
