#pragma once
// Bit errors on the line. Every bit a character takes on the wire (start
// bit, eight data bits, with 11 bits a character an even parity bit, stop
// bit) is flipped with the same probability, independently of every other,
// in both directions. What the receiving UART then makes of the character:
//
// - start bit flipped: it never sees the character begin, and the character
//   is lost (a real UART may resynchronise on an edge inside it and take a
//   garbled character instead; that is not modelled);
// - stop bit flipped: a framing error; the data bits arrive as they are;
// - data bits flipped: another character (with 11 bits a character, an odd
//   number of data and parity bits flipped is also a parity error).
//
// The draws are seeded, one stream for each direction, so a run repeats as
// long as the host sends the same bytes.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace jynsim {

struct NoiseConfig {
    double bit_error_rate = 0;  // per line bit; 0: a clean line
    std::uint64_t seed = 1;
    // Instead of the random draws, these line bits are flipped: counted from
    // the first bit of the first character after the noise is set, one list
    // for each direction, ascending (a particular hit for a test).
    std::vector<std::uint64_t> flips_in;   // the host's characters
    std::vector<std::uint64_t> flips_out;  // the stations'
};

// What noise in a frame became, as the other side saw it.
enum class NoiseOutcome : std::uint8_t {
    kSilence,    // a request the station did not answer
    kNak,        // a request the station answered with NAK
    kBadSum,     // a data reply that arrived framed, with a sum check that no longer holds
    kLostFrame,  // a reply whose STX or ETX (an ACK's or NAK's first character) was lost or changed
    kChangedAckNak,  // an ACK or NAK with other station, PC or code characters (they carry no sum)
    kConfirmation,   // the host's confirmation of a data reply
    kUnseen,         // a frame that still checks: the station acted on it, or the reply's sum holds
};
inline constexpr std::size_t kNoiseOutcomeCount = 7;
const char* NoiseOutcomeName(NoiseOutcome outcome);  // "silence", "NAK", "bad sum", ...

// What the noise did to one character.
struct CharHit {
    int bits = 0;          // bits flipped; 0: the character arrived as sent
    bool lost = false;     // the start bit
    bool framing = false;  // the stop bit
    bool parity = false;
    char received = 0;  // the data bits as they arrived
};

struct NoiseCounters {
    std::uint64_t bits = 0;      // bits flipped
    std::uint64_t hits_in = 0;   // characters of the host hit
    std::uint64_t hits_out = 0;  // characters of the stations hit
    std::uint64_t lost = 0;      // characters lost (start bit)
    std::uint64_t framing = 0;   // framing errors (stop bit)
    std::uint64_t parity = 0;    // parity errors (11 bits a character)
    // Characters hit, by what became of the frame they were in.
    std::array<std::uint64_t, kNoiseOutcomeCount> outcomes{};

    std::uint64_t Hits() const { return hits_in + hits_out; }
    // A character hit on its way in (from the host) or out.
    void Count(const CharHit& hit, bool in);
};

// "12 bits flipped in 11 characters (4 from the host, 7 to it): silence 1,
// NAK 3, bad sum 5, ..."
std::string NoiseSummary(const NoiseCounters& counters);

// "<ENQ> (1 bit)", "lost (start bit)", "A (2 bits), framing error".
std::string HitText(const CharHit& hit);

class LineNoise {
public:
    LineNoise() : rng_(1) {}
    void Set(const NoiseConfig& config, const std::vector<std::uint64_t>& flips, int bits_per_char);
    bool On() const { return rate_ > 0 || !flips_.empty(); }
    // Draws the bits of the next character on the wire.
    CharHit Hit(char sent);

private:
    std::uint64_t Gap();  // clean bits before the next flipped one

    double rate_ = 0;
    int bits_per_char_ = 10;
    SplitMix rng_;
    std::uint64_t next_flip_ = 0;  // bit position of the next flip, from the next character's start
    std::vector<std::uint64_t> flips_;  // scripted: still to come, from the last one
    std::uint64_t consumed_ = 0;        // scripted: line bits so far
};

}  // namespace jynsim
