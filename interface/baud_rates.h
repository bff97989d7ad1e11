// The line speeds of the driver: the one a host gets without asking for
// another (GetJynInfo reports it), and the rates it sets on a POSIX system,
// where termios has a setting only for these. The list is a macro so that
// the serial code makes each rate's termios code from the same entry (B9600
// from 9600): the rates the driver accepts and those jynmb offers a person
// can never part.
#pragma once

#include <cstdint>

// Slowest first, up to the largest the host's 16-bit field can carry.
// clang-format off
#define JYN_POSIX_BAUD_RATES(RATE)                                                              \
    RATE(50) RATE(75) RATE(110) RATE(134) RATE(150) RATE(200) RATE(300) RATE(600) RATE(1200)   \
    RATE(1800) RATE(2400) RATE(4800) RATE(9600) RATE(19200) RATE(38400) RATE(57600)
// clang-format on

namespace jyn {

constexpr uint16_t kDefaultBaudRate = 9600;

#define JYN_BAUD_NUMBER(rate) rate,
constexpr uint32_t kPosixBaudRates[] = {JYN_POSIX_BAUD_RATES(JYN_BAUD_NUMBER)};
#undef JYN_BAUD_NUMBER

}  // namespace jyn
