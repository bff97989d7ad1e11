#pragma once
// An engine with a clock the test moves, one-station lines, and the frames
// of tests/support/frames.h.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/engine.h"
#include "tests/support/frames.h"

namespace simtest {

using jyn::testing::Ack;
using jyn::testing::DataReply;
using jyn::testing::Hex2;
using jyn::testing::Nak;
using jyn::testing::Request;
using jyn::testing::Sum;
using jyn::testing::SumCheck;
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

// A chunk of what the host hears and when it came.
struct Heard {
    Micros at;
    std::string bytes;
};

// Sends each (time, bytes) at its time and lets the engine run from event
// to event until `until` (and every `poll` between, as a front end that
// wakes for other reasons): what the host hears, chunk by chunk.
inline std::vector<Heard> RunLine(jynsim::LineEngine& engine,
                                  const std::vector<std::pair<Micros, std::string>>& sends,
                                  Micros until, Micros poll = Micros(0)) {
    std::vector<Heard> heard;
    std::size_t next_send = 0;
    Micros now{0};
    for (int step = 0; step < 100000; ++step) {
        std::optional<Micros> next = engine.NextEvent();
        if (next_send < sends.size() && (!next || sends[next_send].first <= *next))
            next = sends[next_send].first;
        if (poll.count() > 0 && (!next || now + poll < *next)) next = now + poll;
        if (!next || *next > until) break;
        now = std::max(now, *next);
        while (next_send < sends.size() && sends[next_send].first <= now)
            engine.Receive(sends[next_send++].second, now);
        engine.Advance(now);
        std::string out = engine.TakeOutput(now);
        if (!out.empty()) heard.push_back({now, std::move(out)});
    }
    return heard;
}

}  // namespace simtest
