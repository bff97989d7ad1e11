// What the fuzz targets share: a bounded reader over the fuzzer's bytes, a
// log sink that formats every message as the host would (so a format that
// does not fit its arguments shows up under the sanitizers), and a private
// working folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace jynfuzz {

// Stops the run with a message libFuzzer reports as a crash.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}
inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

class Input {
public:
    Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t Word() {
        const uint16_t high = Byte();
        return static_cast<uint16_t>(high << 8 | Byte());
    }
    std::vector<uint8_t> Bytes(std::size_t count) {
        const std::size_t n = count < size_ - at_ ? count : size_ - at_;
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }
    std::vector<uint8_t> Rest() { return Bytes(size_ - at_); }
    bool Empty() const { return at_ >= size_; }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Installs the formatting sink; every message must open with the driver's
// prefix.
void InstallLogSink();
std::size_t MessagesLogged();

// Creates a fresh folder under the system's temporary folder, makes it the
// current directory, and removes it (with `files` in it) at exit.
void EnterPrivateFolder(const std::vector<std::string>& files);

}  // namespace jynfuzz
