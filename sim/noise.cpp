#include "sim/noise.h"

#include <cmath>

#include "sim/hex.h"

namespace jynsim {
namespace {

const std::array<const char*, kNoiseOutcomeCount> kOutcomeNames = {
    "silence", "NAK", "bad sum", "lost STX/ETX", "changed ACK/NAK", "confirmation", "unseen"};

constexpr int kDataBits = 8;

}  // namespace

const char* NoiseOutcomeName(NoiseOutcome outcome) {
    return kOutcomeNames[static_cast<std::size_t>(outcome)];
}

void NoiseCounters::Count(const CharHit& hit, bool in) {
    bits += static_cast<std::uint64_t>(hit.bits);
    ++(in ? hits_in : hits_out);
    // A character that lost its start bit has no stop bit or parity to miss.
    lost += hit.lost ? 1 : 0;
    framing += hit.framing && !hit.lost ? 1 : 0;
    parity += hit.parity && !hit.lost ? 1 : 0;
}

std::string NoiseSummary(const NoiseCounters& counters) {
    std::string text = std::to_string(counters.bits) + " bits flipped in " +
                       std::to_string(counters.Hits()) + " characters (" +
                       std::to_string(counters.hits_in) + " from the host, " +
                       std::to_string(counters.hits_out) + " to it):";
    for (std::size_t i = 0; i < kNoiseOutcomeCount; ++i) {
        text += std::string(i == 0 ? " " : ", ") + kOutcomeNames[i] + " " +
                std::to_string(counters.outcomes[i]);
    }
    return text + "; " + std::to_string(counters.lost) + " lost, " +
           std::to_string(counters.framing) + " framing and " + std::to_string(counters.parity) +
           " parity errors";
}

std::string HitText(const CharHit& hit) {
    if (hit.lost) return "lost (start bit)";
    std::string text = Printable(std::string(1, hit.received)) + " (" + std::to_string(hit.bits) +
                       (hit.bits == 1 ? " bit)" : " bits)");
    if (hit.framing) text += ", framing error";
    if (hit.parity) text += ", parity error";
    return text;
}

void LineNoise::Set(const NoiseConfig& config, const std::vector<std::uint64_t>& flips,
                    int bits_per_char) {
    flips_.assign(flips.rbegin(), flips.rend());
    consumed_ = 0;
    rate_ =
        flips_.empty() && config.bit_error_rate > 0 ? std::fmin(config.bit_error_rate, 1.0) : 0.0;
    bits_per_char_ = bits_per_char;
    rng_ = SplitMix(config.seed);
    next_flip_ = rate_ > 0 ? Gap() : 0;
}

// Flipped bits are a Bernoulli process, so the run of clean bits before the
// next one is geometric: one draw per flip instead of one per bit.
std::uint64_t LineNoise::Gap() {
    if (rate_ >= 1.0) return 0;
    const double u = 1.0 - rng_.Uniform();  // (0, 1]
    const double gap = std::floor(std::log(u) / std::log1p(-rate_));
    return gap >= 1e15 ? static_cast<std::uint64_t>(1e15) : static_cast<std::uint64_t>(gap);
}

CharHit LineNoise::Hit(char sent) {
    CharHit hit;
    hit.received = sent;
    if (!On()) return hit;
    unsigned data_mask = 0;
    bool parity_bit = false;
    const auto flip = [&](std::uint64_t at) {
        const auto position = static_cast<int>(at);
        ++hit.bits;
        if (position == 0) {
            hit.lost = true;
        } else if (position <= kDataBits) {
            data_mask ^= 1u << (position - 1);
        } else if (position == bits_per_char_ - 1) {
            hit.framing = true;
        } else {
            parity_bit = true;
        }
    };
    const auto width = static_cast<std::uint64_t>(bits_per_char_);
    if (rate_ > 0) {
        for (; next_flip_ < width; next_flip_ += 1 + Gap()) flip(next_flip_);
        next_flip_ -= width;
    } else {
        for (; !flips_.empty() && flips_.back() < consumed_ + width; flips_.pop_back()) {
            if (flips_.back() >= consumed_) flip(flips_.back() - consumed_);
        }
        consumed_ += width;
    }
    hit.received = static_cast<char>(static_cast<unsigned char>(sent) ^ data_mask);
    if (bits_per_char_ > kDataBits + 2) {
        int odd = parity_bit ? 1 : 0;
        for (unsigned m = data_mask; m != 0; m &= m - 1) odd ^= 1;
        hit.parity = odd != 0;
    }
    return hit;
}

}  // namespace jynsim
