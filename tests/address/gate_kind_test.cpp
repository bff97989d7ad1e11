// The four gate kinds as the read and write code tells them apart, and the
// string length read from the host's text, bounded by its terminator.
#include "address/gate_kind.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/address/host_text.h"

namespace jyn::testing {
namespace {

using address::GateKind;

TEST(GateKind, TestedInTheOrderBitThirtyTwoStringWord) {
    const struct {
        const char* text;
        GateAddress fields;
        GateKind kind;
    } cases[] = {
        {"01BM100", {1, 'M', 6, 4, 8}, GateKind::kBit},
        {"01WD100", {1, 'D', 100, -1, 16}, GateKind::kWord},
        {"01WZ100", {1, 'Z', 50, -1, 32}, GateKind::k32Bit},
        {"01W1100", {1, '1', 50, -1, 32}, GateKind::k32Bit},
        {"01W2100", {1, '2', 0x80, -1, 32}, GateKind::k32Bit},
        {"01WS0100L5", {1, 'S', 100, -1, 16}, GateKind::kString},
        {"01WR0100L5", {1, 'R', 100, -1, 16}, GateKind::kString},
        // A bit index wins over a marker and a 32-bit letter; a 32-bit
        // letter over a marker (a host may pass any record it kept).
        {"01BS0100L5", {1, 'S', 6, 4, 8}, GateKind::kBit},
        {"01WZ0100L5", {1, 'Z', 50, -1, 32}, GateKind::k32Bit},
        // The marker must be an upper-case 'L' at the ninth character.
        {"01WS0100l5", {1, 'S', 100, -1, 16}, GateKind::kWord},
        {"01WW100L5", {1, 'W', 0x100, -1, 16}, GateKind::kWord},
    };
    for (const auto& c : cases) {
        const HostText text(c.text);
        EXPECT_EQ(address::KindOf(c.fields, text.get()), c.kind) << c.text;
    }
    EXPECT_EQ(address::KindOf(GateAddress{1, 'D', 100, -1, 16}, nullptr), GateKind::kWord);
}

TEST(GateKind, StringLengthAndItsWholeWords) {
    const struct {
        const char* text;
        bool marker;
        unsigned length;
        unsigned rounded;
    } cases[] = {
        {"00WS0100L20", true, 20, 20},  {"00WS0100L5", true, 5, 6}, {"00WS0100L0", true, 0, 0},
        {"00WS0100L64", true, 64, 64},  {"00WS0100L", true, 0, 0},  {"00WS0100L7x9", true, 7, 8},
        {"00WS0100", false, 0, 0},      {"00WS010", false, 0, 0},   {"", false, 0, 0},
        {"00WS0100L65536", true, 0, 0},  // kept to 16 bits
        {"00WS0100L65537", true, 1, 2},
    };
    for (const auto& c : cases) {
        const HostText text(c.text);  // exactly its own size: no read past the end
        EXPECT_EQ(address::HasStringMarker(text.get()), c.marker) << c.text;
        EXPECT_EQ(address::StringLength(text.get()), c.length) << c.text;
        EXPECT_EQ(address::RoundedStringLength(text.get()), c.rounded) << c.text;
    }
    EXPECT_FALSE(address::HasStringMarker(nullptr));
    EXPECT_EQ(address::StringLength(nullptr), 0u);
}

}  // namespace
}  // namespace jyn::testing
