#include "sim/devices.h"

#include <cctype>

#include "sim/hex.h"

namespace jynsim {
namespace {

const std::array<DeviceInfo, kDeviceCount> kDevices = {{
    {Device::kX, "X", true, 16},
    {Device::kY, "Y", true, 16},
    {Device::kM, "M", true, 10},
    {Device::kL, "L", true, 10},
    {Device::kS, "S", true, 10},
    {Device::kB, "B", true, 16},
    {Device::kF, "F", true, 10},
    {Device::kTS, "TS", true, 10},
    {Device::kTC, "TC", true, 10},
    {Device::kCS, "CS", true, 10},
    {Device::kCC, "CC", true, 10},
    {Device::kD, "D", false, 10},
    {Device::kW, "W", false, 16},
    {Device::kR, "R", false, 10},
    {Device::kTN, "TN", false, 10},
    {Device::kCN, "CN", false, 10},
}};

struct FamilyRanges {
    Device device;
    std::uint32_t acpu;
    std::uint32_t anacpu;
};

// From the CPU manuals of an A3N and an A3A; the station configuration can
// override every entry.
const FamilyRanges kFamilyRanges[] = {
    {Device::kX, 0x800, 0x800}, {Device::kY, 0x800, 0x800}, {Device::kM, 2048, 8192},
    {Device::kL, 2048, 8192},   {Device::kS, 2048, 8192},   {Device::kB, 0x400, 0x1000},
    {Device::kF, 256, 2048},    {Device::kTS, 256, 2048},   {Device::kTC, 256, 2048},
    {Device::kTN, 256, 2048},   {Device::kCS, 256, 1024},   {Device::kCC, 256, 1024},
    {Device::kCN, 256, 1024},   {Device::kD, 1024, 8192},   {Device::kW, 0x400, 0x1000},
    {Device::kR, 8192, 8192},
};

bool Within(std::uint32_t head, std::uint32_t count, std::uint32_t first, std::uint32_t last) {
    if (count == 0 || head < first) return false;
    const std::uint64_t end = static_cast<std::uint64_t>(head) + count - 1;
    return end <= last;
}

}  // namespace

const DeviceInfo& InfoOf(Device device) { return kDevices[static_cast<std::size_t>(device)]; }

std::optional<Device> DeviceFromCode(std::string_view code) {
    for (const DeviceInfo& info : kDevices) {
        if (code == info.code) return info.device;
    }
    return std::nullopt;
}

const char* FamilyName(CpuFamily family) { return family == CpuFamily::kAcpu ? "ACPU" : "AnACPU"; }

std::optional<CpuFamily> FamilyFromName(std::string_view name) {
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "ACPU") return CpuFamily::kAcpu;
    if (upper == "ANACPU") return CpuFamily::kAnAcpu;
    return std::nullopt;
}

bool DeviceRanges::Contains(Device device, std::uint32_t head, std::uint32_t count) const {
    const std::uint32_t points = Points(device);
    if (points > 0 && Within(head, count, 0, points - 1)) return true;
    return HasSpecials(device) && Within(head, count, kSpecialFirst, kSpecialLast);
}

std::uint32_t DeviceRanges::StorageSize(Device device) const {
    const std::uint32_t points = Points(device);
    if (HasSpecials(device) && points <= kSpecialLast) return kSpecialLast + 1;
    return points;
}

DeviceRanges DefaultRanges(CpuFamily family) {
    DeviceRanges ranges;
    for (const FamilyRanges& entry : kFamilyRanges) {
        ranges.SetPoints(entry.device, family == CpuFamily::kAcpu ? entry.acpu : entry.anacpu);
    }
    return ranges;
}

std::optional<DeviceRef> ParseDeviceName(std::string_view text) {
    std::string upper;
    for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::size_t letters = 0;
    while (letters < upper.size() && letters < 2 &&
           std::isalpha(static_cast<unsigned char>(upper[letters]))) {
        ++letters;
    }
    // A one-letter hexadecimal device may be followed by hex letters ("BA0").
    for (std::size_t length = letters; length >= 1; --length) {
        const auto device = DeviceFromCode(std::string_view(upper).substr(0, length));
        if (!device) continue;
        const std::string digits = upper.substr(length);
        if (digits.empty() || digits.size() > 7) return std::nullopt;
        const int radix = InfoOf(*device).radix;
        std::uint32_t number = 0;
        for (char c : digits) {
            const int digit = HexDigit(c);
            if (digit < 0 || digit >= radix) return std::nullopt;
            number = number * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(digit);
        }
        return DeviceRef{*device, number};
    }
    return std::nullopt;
}

std::string DeviceName(DeviceRef ref) {
    const DeviceInfo& info = InfoOf(ref.device);
    if (info.radix == 10) return std::string(info.code) + std::to_string(ref.number);
    std::string hex = FormatHex(ref.number, 8);
    const std::size_t first = hex.find_first_not_of('0');
    return std::string(info.code) + (first == std::string::npos ? "0" : hex.substr(first));
}

}  // namespace jynsim
