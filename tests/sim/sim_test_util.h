#pragma once
// Frames as the host writes them and as a station should answer, built from
// the characters between the control codes; the sum check is computed here
// once more, so the worked examples of the manuals pin it down.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/engine.h"

namespace simtest {

inline std::string Sum(std::string_view text) {
    unsigned sum = 0;
    for (char c : text) sum += static_cast<unsigned char>(c);
    static const char kDigits[] = "0123456789ABCDEF";
    return {kDigits[(sum >> 4) & 0xF], kDigits[sum & 0xF]};
}

// ENQ, the characters, their sum.
inline std::string Request(std::string_view body) { return "\x05" + std::string(body) + Sum(body); }
// STX, station+PC+data, ETX, sum over all but STX.
inline std::string DataReply(std::string_view body) {
    const std::string summed = std::string(body) + "\x03";
    return "\x02" + summed + Sum(summed);
}
inline std::string Ack(std::string_view station_pc) { return "\x06" + std::string(station_pc); }
inline std::string Nak(std::string_view station_pc, std::string_view code) {
    return "\x15" + std::string(station_pc) + std::string(code);
}

using jynsim::Micros;
using std::chrono::milliseconds;

// An engine with a clock the test moves.
class Line {
public:
    explicit Line(jynsim::LineConfig config) : engine(std::move(config)) {}

    // Sends `bytes` at the current time, then collects what comes back
    // within `wait`, and moves the clock past it.
    std::string Exchange(std::string_view bytes, Micros wait = milliseconds(1000)) {
        engine.Receive(bytes, now);
        now += wait;
        engine.Advance(now);
        return engine.TakeOutput(now);
    }
    jynsim::Station& StationNo(int number) { return *engine.FindStation(number); }

    jynsim::LineEngine engine;
    Micros now{0};
};

inline jynsim::LineConfig OneStation(int number, jynsim::CpuFamily family, int pc = 0xFF) {
    jynsim::LineConfig config;
    jynsim::StationConfig station;
    station.station = static_cast<std::uint8_t>(number);
    station.pc = static_cast<std::uint8_t>(pc);
    station.family = family;
    config.stations.push_back(station);
    return config;
}

}  // namespace simtest
