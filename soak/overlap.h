// How many lines are inside a transfer at once. The run is only worth
// something if every line was in the driver at the same moment: then the
// state the instances share was used from all threads together. The count
// orders nothing between the lines (relaxed), so that ThreadSanitizer sees
// their calls into the driver with only the driver's own synchronisation.
#pragma once

#include <atomic>
#include <cstdint>

namespace jynsoak {

class Overlap {
public:
    explicit Overlap(int lines) : lines_(lines) {}

    void Enter() {
        const int now = inside_.fetch_add(1, kLoose) + 1;
        int seen = most_.load(kLoose);
        while (now > seen && !most_.compare_exchange_weak(seen, now, kLoose)) {
        }
        if (now == lines_) all_.fetch_add(1, kLoose);
    }
    void Leave() { inside_.fetch_sub(1, kLoose); }

    int Most() const { return most_.load(kLoose); }
    // Transfers that began while every other line was inside one.
    uint64_t AllInside() const { return all_.load(kLoose); }

    // Inside for as long as it lives.
    class Scope {
    public:
        explicit Scope(Overlap& overlap) : overlap_(overlap) { overlap_.Enter(); }
        ~Scope() { overlap_.Leave(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Overlap& overlap_;
    };

private:
    static constexpr std::memory_order kLoose = std::memory_order_relaxed;

    const int lines_;
    std::atomic<int> inside_{0};
    std::atomic<int> most_{0};
    std::atomic<uint64_t> all_{0};
};

}  // namespace jynsoak
