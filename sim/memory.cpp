#include "sim/memory.h"

namespace jynsim {

DeviceMemory::DeviceMemory(const DeviceRanges& ranges, bool mls_shared)
    : ranges_(ranges), mls_shared_(mls_shared), bits_(kDeviceCount), words_(kDeviceCount) {
    for (std::size_t i = 0; i < kDeviceCount; ++i) {
        const auto device = static_cast<Device>(i);
        const std::uint32_t size = ranges_.StorageSize(device);
        if (InfoOf(device).is_bit) {
            bits_[i].assign(size, 0);
        } else {
            words_[i].assign(size, 0);
        }
    }
    if (mls_shared_) {
        // One pool as large as the largest of the three.
        auto& pool = bits_[static_cast<std::size_t>(Device::kM)];
        for (Device other : {Device::kL, Device::kS}) {
            const std::size_t size = bits_[static_cast<std::size_t>(other)].size();
            if (pool.size() < size) pool.resize(size, 0);
            bits_[static_cast<std::size_t>(other)].clear();
        }
    }
}

std::vector<std::uint8_t>& DeviceMemory::BitsOf(Device device) {
    if (mls_shared_ && (device == Device::kL || device == Device::kS)) device = Device::kM;
    return bits_[static_cast<std::size_t>(device)];
}

const std::vector<std::uint8_t>& DeviceMemory::BitsOf(Device device) const {
    if (mls_shared_ && (device == Device::kL || device == Device::kS)) device = Device::kM;
    return bits_[static_cast<std::size_t>(device)];
}

std::optional<bool> DeviceMemory::Bit(DeviceRef ref) const {
    if (!InfoOf(ref.device).is_bit || !Has(ref.device, ref.number, 1)) return std::nullopt;
    return BitsOf(ref.device)[ref.number] != 0;
}

bool DeviceMemory::SetBit(DeviceRef ref, bool on) {
    if (!InfoOf(ref.device).is_bit || !Has(ref.device, ref.number, 1)) return false;
    BitsOf(ref.device)[ref.number] = on ? 1 : 0;
    return true;
}

std::optional<std::uint16_t> DeviceMemory::Word(DeviceRef ref) const {
    if (InfoOf(ref.device).is_bit) {
        if (!Has(ref.device, ref.number, 16)) return std::nullopt;
        const auto& bits = BitsOf(ref.device);
        std::uint16_t value = 0;
        for (unsigned i = 0; i < 16; ++i) {
            if (bits[ref.number + i] != 0) value = static_cast<std::uint16_t>(value | (1u << i));
        }
        return value;
    }
    if (!Has(ref.device, ref.number, 1)) return std::nullopt;
    return WordsOf(ref.device)[ref.number];
}

bool DeviceMemory::SetWord(DeviceRef ref, std::uint16_t value) {
    if (InfoOf(ref.device).is_bit) {
        if (!Has(ref.device, ref.number, 16)) return false;
        auto& bits = BitsOf(ref.device);
        for (unsigned i = 0; i < 16; ++i) bits[ref.number + i] = (value >> i) & 1u;
        return true;
    }
    if (!Has(ref.device, ref.number, 1)) return false;
    WordsOf(ref.device)[ref.number] = value;
    return true;
}

std::optional<std::uint32_t> DeviceMemory::Dword(DeviceRef ref) const {
    const std::uint32_t step = InfoOf(ref.device).is_bit ? 16 : 1;
    const auto low = Word(ref);
    const auto high = Word({ref.device, ref.number + step});
    if (!low || !high) return std::nullopt;
    return static_cast<std::uint32_t>(*high) << 16 | *low;
}

bool DeviceMemory::SetDword(DeviceRef ref, std::uint32_t value) {
    const std::uint32_t step = InfoOf(ref.device).is_bit ? 16 : 1;
    if (!Word(ref) || !Word({ref.device, ref.number + step})) return false;
    SetWord(ref, static_cast<std::uint16_t>(value & 0xFFFF));
    SetWord({ref.device, ref.number + step}, static_cast<std::uint16_t>(value >> 16));
    return true;
}

std::optional<std::string> DeviceMemory::Text(DeviceRef ref, std::uint32_t words) const {
    if (InfoOf(ref.device).is_bit || !Has(ref.device, ref.number, words)) return std::nullopt;
    std::string text;
    for (std::uint32_t i = 0; i < words; ++i) {
        const std::uint16_t word = WordsOf(ref.device)[ref.number + i];
        for (const int shift : {0, 8}) {
            const char c = static_cast<char>((word >> shift) & 0xFF);
            if (c == '\0') return text;
            text += c;
        }
    }
    return text;
}

bool DeviceMemory::SetText(DeviceRef ref, const std::string& text) {
    const auto words = static_cast<std::uint32_t>((text.size() + 1) / 2);
    if (InfoOf(ref.device).is_bit || words == 0 || !Has(ref.device, ref.number, words)) {
        return false;
    }
    for (std::uint32_t i = 0; i < words; ++i) {
        const auto low = static_cast<unsigned char>(text[2 * i]);
        const auto high = 2 * i + 1 < text.size() ? static_cast<unsigned char>(text[2 * i + 1]) : 0;
        WordsOf(ref.device)[ref.number + i] = static_cast<std::uint16_t>(high << 8 | low);
    }
    return true;
}

}  // namespace jynsim
