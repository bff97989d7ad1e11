// The host's value buffers are little-endian whatever the machine the driver
// runs on; words are moved byte by byte so the layout is the host's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jyn::protocol {

inline uint16_t LoadWord(const unsigned char* buffer, std::size_t offset) {
    return static_cast<uint16_t>(buffer[offset] | (buffer[offset + 1] << 8));
}

inline void StoreWord(unsigned char* buffer, std::size_t offset, uint32_t value) {
    buffer[offset] = static_cast<unsigned char>(value & 0xFFu);
    buffer[offset + 1] = static_cast<unsigned char>((value >> 8) & 0xFFu);
}

// Single bit and word values sit behind two bytes the host keeps for itself.
constexpr std::size_t kSingleValueOffset = 2;

}  // namespace jyn::protocol
