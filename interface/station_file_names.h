// The station file as the driver looks for it and reads it: the names it
// tries, the pieces it reads lines in, and its keywords. The tools that
// find, copy or write a station file for the driver spell it from here, so
// they always name the file the driver will open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace jyn::station_file {

constexpr std::size_t kNameCount = 3;
constexpr std::size_t kNameSize = 32;

// In the order the driver tries them, reading the first that opens: the
// instance's own file with two digits, with as many as its number has, then
// the one every instance shares.
struct Names {
    char name[kNameCount][kNameSize];
};

inline Names NamesFor(uint32_t instance) {
    Names names{};
    const unsigned n = instance;
    std::snprintf(names.name[0], kNameSize, "JYNMB%02u.INT", n);
    std::snprintf(names.name[1], kNameSize, "JYNMB%u.INT", n);
    std::snprintf(names.name[2], kNameSize, "JYNMB.INT");
    return names;
}

// Lines are read in pieces of this many characters; a longer line goes on
// in the next piece, which is judged as a line of its own.
constexpr std::size_t kPieceLength = 255;

// The keywords of a "NAME = value" line, in any mix of cases.
constexpr char kOffline[] = "OFFLINE";
constexpr char kTrace[] = "TRACE";
constexpr char kReadAhead[] = "READAHEAD";

}  // namespace jyn::station_file
