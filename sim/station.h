#pragma once
// One simulated CPU behind a computer link module: its configuration, its
// memory, and how it judges and carries out a decoded request.

#include <cstdint>
#include <optional>
#include <string>

#include "sim/memory.h"
#include "sim/request.h"

namespace jynsim {

// What an ACPU does with the AnACPU-only commands JR, JW, QR, QW. The
// manuals do not say; a character area error is the likely answer.
enum class ExtendedOnAcpu : std::uint8_t { kNak, kNoAnswer, kAccept };

struct StationConfig {
    std::uint8_t station = 0;  // computer link station number
    std::uint8_t pc = 0xFF;    // the PC number this CPU answers to
    CpuFamily family = CpuFamily::kAcpu;
    std::optional<DeviceRanges> ranges;  // empty: the family's defaults
    bool mls_shared = true;
    ExtendedOnAcpu extended_on_acpu = ExtendedOnAcpu::kNak;
    std::uint8_t extended_on_acpu_code = kNakCharacterArea;
    // The CPU's "write during RUN" switch set to disabled: writes get 00h.
    bool write_during_run_disabled = false;
};

struct Verdict {
    enum Kind { kExecute, kNak, kNoAnswer } kind = kExecute;
    std::uint8_t code = 0;  // kNak
};

class Station {
public:
    explicit Station(const StationConfig& config);

    const StationConfig& Config() const { return config_; }
    DeviceMemory& Memory() { return memory_; }
    const DeviceMemory& Memory() const { return memory_; }

    // The answer a request gets; a frame with several faults gets the lowest code.
    Verdict Check(const Request& request) const;
    // Carries out a request that Check accepted; returns the data characters
    // of a read or loopback, empty for a write.
    std::string Execute(const Request& request);

private:
    std::optional<std::uint8_t> CheckDevice(const Request& request, const CommandInfo& info) const;
    std::string ReadPoints(const Request& request, const CommandInfo& info) const;
    void WritePoints(const Request& request, const CommandInfo& info);

    StationConfig config_;
    DeviceMemory memory_;
};

}  // namespace jynsim
