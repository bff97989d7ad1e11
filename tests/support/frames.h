// Frames of the computer link as a test writes them, built from the
// characters between the control codes. The sum check is worked out here,
// apart from the driver's and the simulator's code, so a sum both got wrong
// the same way still fails the frames worked out by hand in the tests.
#pragma once

#include <string>
#include <string_view>

namespace jyn::testing {

// Two upper-case hexadecimal digits of the low byte of `value`.
inline std::string Hex2(unsigned value) {
    static const char kDigits[] = "0123456789ABCDEF";
    return {kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

// The low byte of the sum of the characters.
inline unsigned Sum(std::string_view text) {
    unsigned sum = 0;
    for (char c : text) sum += static_cast<unsigned char>(c);
    return sum & 0xFF;
}

inline std::string SumCheck(std::string_view text) { return Hex2(Sum(text)); }

// ENQ, the characters, their sum.
inline std::string Request(std::string_view body) {
    return "\x05" + std::string(body) + SumCheck(body);
}

// STX, station, PC number and data, ETX, the sum of all but the STX.
inline std::string DataReply(std::string_view body) {
    const std::string summed = std::string(body) + "\x03";
    return "\x02" + summed + SumCheck(summed);
}

inline std::string Ack(std::string_view stationPc) { return "\x06" + std::string(stationPc); }

inline std::string Nak(std::string_view stationPc, std::string_view code) {
    return "\x15" + std::string(stationPc) + std::string(code);
}

// A station's answer to the driver's resynchronising read (words from D0,
// as many as the request asks, all 0), or "" when `request` is none.
inline std::string ResyncAnswer(std::string_view request) {
    if (request.size() < 17 || request[0] != '\x05' || request.substr(5, 8) != "WR0D0000") {
        return "";
    }
    const unsigned words =
        static_cast<unsigned>(std::stoul(std::string(request.substr(13, 2)), nullptr, 16));
    return DataReply(std::string(request.substr(1, 4)) + std::string(4 * words, '0'));
}

}  // namespace jyn::testing
