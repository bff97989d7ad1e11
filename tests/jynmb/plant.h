// The plant jynmb's tests run against: two CPUs on one line, station 01 an
// ACPU and station 05 an AnACPU.
#pragma once

#include "sim/pty_server.h"

namespace jynmbtest {

inline jynsim::LineConfig TwoCpuPlant() {
    jynsim::LineConfig config;
    jynsim::StationConfig acpu;
    acpu.station = 0x01;
    config.stations.push_back(acpu);
    jynsim::StationConfig anacpu;
    anacpu.station = 0x05;
    anacpu.family = jynsim::CpuFamily::kAnAcpu;
    config.stations.push_back(anacpu);
    return config;
}

}  // namespace jynmbtest
