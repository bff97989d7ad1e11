// The command line of the harness's programs, one table each: every option
// a name, whether it takes a value, and what it does with it. The options
// the programs share are made here once, with their names and limits, so
// that --seconds or --timeout mean the same in every one of them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace jynharness {

struct Option {
    const char* name;
    bool takesValue;
    // The value's text (nullptr for a flag); false when it is no good.
    std::function<bool(const char* value)> apply;
};
using OptionTable = std::vector<Option>;

// False on a name not in the table, a value missing or not accepted.
bool ParseOptions(int argc, char* const* argv, const OptionTable& table);

// A decimal number from `least` to `most`, the whole text; false otherwise.
bool Number(const char* text, double least, double most, double& value);
// "1,2,4,8": numbers from `least` to `most`, at least one.
bool NumberList(const char* text, uint32_t least, uint32_t most, std::vector<uint32_t>& out);

Option Flag(const char* name, bool& setting, bool value = true);
Option Text(const char* name, std::string& setting);  // not empty
Option Count(const char* name, uint64_t& setting, double least = 0, double most = 1e18);
Option Whole(const char* name, uint32_t& setting, double least, double most);
Option Whole(const char* name, int& setting, double least, double most);
Option Real(const char* name, double& setting, double least, double most);
Option List(const char* name, std::vector<uint32_t>& setting, uint32_t least, uint32_t most);

// The options the programs share.
inline Option Transactions(uint64_t& s) { return Count("--transactions", s); }
inline Option Seed(uint64_t& s) { return Count("--seed", s); }
inline Option Seconds(double& s, double most = 1e18) { return Real("--seconds", s, 0, most); }
inline Option Timeout(uint32_t& s) { return Whole("--timeout", s, 1, 4294967295.0); }
inline Option Faults(double& s) { return Real("--faults", s, 0, 1); }
inline Option Baud(uint32_t& s) { return Whole("--baud", s, 0, 4294967295.0); }
inline Option Driver(std::string& s) { return Text("--driver", s); }
inline Option Verbose(bool& s) { return Flag("--verbose", s); }
inline Option Smoke(bool& s) { return Flag("--smoke", s); }

}  // namespace jynharness
