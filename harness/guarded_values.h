// A host's value buffer with guard bytes before and after the bytes the
// gate's kind owns. Under AddressSanitizer the guards are poisoned as well,
// so the driver reading them is reported at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define JYN_HARNESS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JYN_HARNESS_ASAN 1
#endif
#endif
#if defined(JYN_HARNESS_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace jynharness {

class GuardedValues {
public:
    static constexpr std::size_t kGuard = 32;
    static constexpr uint8_t kGuardByte = 0xC5;

    GuardedValues(std::size_t owned, uint8_t fill)
        : storage_(kGuard + owned + kGuard, kGuardByte), owned_(owned), fill_(fill) {
        std::memset(Data(), fill, owned);
        Poison(true);
    }
    ~GuardedValues() { Poison(false); }
    GuardedValues(const GuardedValues&) = delete;
    GuardedValues& operator=(const GuardedValues&) = delete;

    uint8_t* Data() { return storage_.data() + kGuard; }
    std::size_t Owned() const { return owned_; }
    uint8_t Fill() const { return fill_; }

    bool GuardsIntact() {
        Poison(false);
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (storage_[i] != kGuardByte || storage_[kGuard + owned_ + i] != kGuardByte) {
                return false;
            }
        }
        return true;
    }

private:
    void Poison(bool on) {
#if defined(JYN_HARNESS_ASAN)
        uint8_t* back = Data() + owned_;
        if (on) {
            ASAN_POISON_MEMORY_REGION(storage_.data(), kGuard);
            ASAN_POISON_MEMORY_REGION(back, kGuard);
        } else {
            ASAN_UNPOISON_MEMORY_REGION(storage_.data(), kGuard);
            ASAN_UNPOISON_MEMORY_REGION(back, kGuard);
        }
#else
        (void)on;
#endif
    }

    std::vector<uint8_t> storage_;
    std::size_t owned_;
    uint8_t fill_;
};

}  // namespace jynharness
