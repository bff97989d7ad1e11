#include "harness/options.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace jynharness {

bool ParseOptions(int argc, char* const* argv, const OptionTable& table) {
    for (int i = 1; i < argc; ++i) {
        const Option* found = nullptr;
        for (const Option& option : table) {
            if (std::strcmp(argv[i], option.name) == 0) found = &option;
        }
        if (found == nullptr) return false;
        if (!found->takesValue) {
            if (!found->apply(nullptr)) return false;
            continue;
        }
        if (i + 1 >= argc || !found->apply(argv[++i])) return false;
    }
    return true;
}

bool Number(const char* text, double least, double most, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= least && value <= most;
}

bool NumberList(const char* text, uint32_t least, uint32_t most, std::vector<uint32_t>& out) {
    std::vector<uint32_t> numbers;
    for (const char* p = text;;) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(p, &end, 10);
        if (std::isdigit(static_cast<unsigned char>(*p)) == 0 || n < least || n > most)
            return false;
        numbers.push_back(static_cast<uint32_t>(n));
        if (*end == '\0') break;
        if (*end != ',') return false;
        p = end + 1;
    }
    out = numbers;
    return true;
}

Option Flag(const char* name, bool& setting, bool value) {
    return {name, false, [&setting, value](const char*) {
                setting = value;
                return true;
            }};
}

Option Text(const char* name, std::string& setting) {
    return {name, true, [&setting](const char* text) { return !(setting = text).empty(); }};
}

namespace {

template <typename T>
Option NumberOption(const char* name, T& setting, double least, double most) {
    return {name, true, [&setting, least, most](const char* text) {
                double value = 0;
                if (!Number(text, least, most, value)) return false;
                setting = static_cast<T>(value);
                return true;
            }};
}

}  // namespace

Option Count(const char* name, uint64_t& setting, double least, double most) {
    return NumberOption(name, setting, least, most);
}
Option Whole(const char* name, uint32_t& setting, double least, double most) {
    return NumberOption(name, setting, least, most);
}
Option Whole(const char* name, int& setting, double least, double most) {
    return NumberOption(name, setting, least, most);
}
Option Real(const char* name, double& setting, double least, double most) {
    return NumberOption(name, setting, least, most);
}

Option List(const char* name, std::vector<uint32_t>& setting, uint32_t least, uint32_t most) {
    return {name, true, [&setting, least, most](const char* text) {
                return NumberList(text, least, most, setting);
            }};
}

}  // namespace jynharness
