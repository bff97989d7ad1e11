#pragma once
// Device memory of one CPU, apart from any request handling: the command
// layer, the preset loader and the facade all go through these calls, which
// refuse numbers the CPU does not have.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices.h"

namespace jynsim {

class DeviceMemory {
public:
    // With `mls_shared`, M, L and S are one pool of relays, as in the A-series
    // CPUs where the parameters only name parts of it latch or step relays.
    DeviceMemory(const DeviceRanges& ranges, bool mls_shared);

    const DeviceRanges& Ranges() const { return ranges_; }
    bool Has(Device device, std::uint32_t head, std::uint32_t count) const {
        return ranges_.Contains(device, head, count);
    }

    std::optional<bool> Bit(DeviceRef ref) const;
    bool SetBit(DeviceRef ref, bool on);
    // A word device's value, or 16 points of a bit device with the head
    // point in bit 0 (any head; the 16-point alignment is the protocol's rule).
    std::optional<std::uint16_t> Word(DeviceRef ref) const;
    bool SetWord(DeviceRef ref, std::uint16_t value);
    // Two words, the lower address holding the low half.
    std::optional<std::uint32_t> Dword(DeviceRef ref) const;
    bool SetDword(DeviceRef ref, std::uint32_t value);
    // Two characters per word, the first in the low byte; `words` words are
    // read (the text stops at the first zero byte) or written (zero-padded).
    std::optional<std::string> Text(DeviceRef ref, std::uint32_t words) const;
    bool SetText(DeviceRef ref, const std::string& text);

private:
    std::vector<std::uint8_t>& BitsOf(Device device);
    const std::vector<std::uint8_t>& BitsOf(Device device) const;
    std::vector<std::uint16_t>& WordsOf(Device device) {
        return words_[static_cast<std::size_t>(device)];
    }
    const std::vector<std::uint16_t>& WordsOf(Device device) const {
        return words_[static_cast<std::size_t>(device)];
    }

    DeviceRanges ranges_;
    bool mls_shared_;
    std::vector<std::vector<std::uint8_t>> bits_;
    std::vector<std::vector<std::uint16_t>> words_;
};

}  // namespace jynsim
