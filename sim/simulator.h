#pragma once
// The simulator as other threads use it: one line of stations behind a
// mutex. The front end's thread feeds it bytes; tests, the fault soak, the
// benchmark and the demo poke and peek memory, script faults and read the
// truth (records, counters, traffic) while the line runs.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/engine.h"

namespace jynsim {

// A CPU on the line: station number, and PC number (-1: the first CPU with
// that station number).
struct Target {
    Target(int station_number, int pc_number = -1) : station(station_number), pc(pc_number) {}
    int station;
    int pc;
};

class Simulator {
public:
    explicit Simulator(LineConfig config);

    // The front end's side.
    void Receive(std::string_view bytes, Micros now);
    // Drops a stalled request and returns the bytes due by `now`.
    std::string TakeOutput(Micros now);
    std::optional<Micros> NextEvent() const;

    // Memory. Devices by name ("D100", "X1F", "TN5") or by reference; false or
    // empty for a station or device the line does not have.
    bool SetBit(Target target, std::string_view device, bool on);
    std::optional<bool> Bit(Target target, std::string_view device) const;
    // On a bit device: 16 points from the named one, which is bit 0.
    bool SetWord(Target target, std::string_view device, std::uint16_t value);
    std::optional<std::uint16_t> Word(Target target, std::string_view device) const;
    bool SetDword(Target target, std::string_view device, std::uint32_t value);
    std::optional<std::uint32_t> Dword(Target target, std::string_view device) const;
    bool SetText(Target target, std::string_view device, const std::string& text);
    std::optional<std::string> Text(Target target, std::string_view device,
                                    std::uint32_t words) const;

    // Faults.
    void AddFault(const Fault& fault);
    void SetRandomFaults(const RandomFaults& random);
    std::size_t PendingFaults() const;
    // Bit errors on the line from now on (rate 0: a clean line again).
    void SetNoise(const NoiseConfig& noise);

    // The truth about the line.
    LineCounters Counters() const;
    std::vector<RequestRecord> Records() const;
    std::vector<TrafficEntry> Traffic() const;
    std::vector<std::string> TrafficLines() const;
    void ClearTraffic();
    void ClearRecords();
    // Every frame is also written there as it happens; null stops it.
    void SetTrafficFile(std::FILE* file);
    LineTiming Timing() const;

    // Waits (bounded) until `done` holds for the counters; re-checked after
    // every batch of bytes from the host.
    bool WaitUntil(const std::function<bool(const LineCounters&)>& done,
                   std::chrono::milliseconds timeout) const;
    // Anything else, under the lock.
    template <typename F>
    auto WithEngine(F&& action) {
        std::lock_guard<std::mutex> lock(mutex_);
        return action(engine_);
    }

private:
    template <typename Self, typename Access>
    static auto OnMemory(Self& self, Target target, std::string_view device, Access access);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    LineEngine engine_;
};

}  // namespace jynsim
