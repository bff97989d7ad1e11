#pragma once
// The devices of a MELSEC-A CPU as the computer link names them, and the
// ranges a CPU of each family has.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jynsim {

enum class Device : std::uint8_t {
    kX,
    kY,
    kM,
    kL,
    kS,
    kB,
    kF,  // bit devices
    kTS,
    kTC,
    kCS,
    kCC,  // timer/counter contacts and coils (bits)
    kD,
    kW,
    kR,
    kTN,
    kCN,  // word devices
};
inline constexpr std::size_t kDeviceCount = 16;

enum class CpuFamily : std::uint8_t { kAcpu, kAnAcpu };

struct DeviceInfo {
    Device device;
    const char* code;  // as in the device field: "X", "TN", ...
    bool is_bit;
    int radix;  // 16 for X, Y, B, W; 10 for the rest
};

const DeviceInfo& InfoOf(Device device);
// The device of a field code ("D", "TN"), case-sensitive as on the line.
std::optional<Device> DeviceFromCode(std::string_view code);
const char* FamilyName(CpuFamily family);
// "ACPU" or "AnACPU", case ignored.
std::optional<CpuFamily> FamilyFromName(std::string_view name);

// Special relays M9000-M9255 and special registers D9000-D9255 exist on
// every CPU of both families, beyond the ordinary ranges.
inline constexpr std::uint32_t kSpecialFirst = 9000;
inline constexpr std::uint32_t kSpecialLast = 9255;

// Number of points of each device (numbers 0 .. points-1); 0 = absent.
class DeviceRanges {
public:
    std::uint32_t Points(Device device) const { return points_[Index(device)]; }
    void SetPoints(Device device, std::uint32_t points) { points_[Index(device)] = points; }
    // Whether head .. head+count-1 lies inside one stretch of the device.
    bool Contains(Device device, std::uint32_t head, std::uint32_t count) const;
    // Storage a memory needs to hold every number the device has.
    std::uint32_t StorageSize(Device device) const;
    static bool HasSpecials(Device device) { return device == Device::kM || device == Device::kD; }

private:
    static std::size_t Index(Device device) { return static_cast<std::size_t>(device); }
    std::array<std::uint32_t, kDeviceCount> points_{};
};

// A3N-class ACPU and A3A-class AnACPU.
DeviceRanges DefaultRanges(CpuFamily family);

struct DeviceRef {
    Device device;
    std::uint32_t number;
    bool operator==(const DeviceRef& other) const {
        return device == other.device && number == other.number;
    }
};

// A device as people write it: code and number in the device's radix
// ("D100", "X1F", "TN5", "W01AF"); case ignored.
std::optional<DeviceRef> ParseDeviceName(std::string_view text);
std::string DeviceName(DeviceRef ref);

}  // namespace jynsim
