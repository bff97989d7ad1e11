#include "harness/gate_kinds.h"

namespace jynharness {

const char* KindName(Kind kind) {
    const char* kNames[] = {"bit", "word", "32-bit", "string", "word block", "32-bit block"};
    return kNames[static_cast<int>(kind)];
}

std::size_t WordsOf(Kind kind, int32_t count, uint32_t chars) {
    const auto n = static_cast<std::size_t>(count);
    switch (kind) {
        case Kind::kBit:
        case Kind::kWord: return 1;
        case Kind::k32Bit: return 2;
        case Kind::kString: return RoundedChars(chars) / 2;
        case Kind::kWordBlock: return n;
        case Kind::k32BitBlock: return 2 * n;
    }
    return 0;
}

std::size_t OwnedBytes(Kind kind, int32_t count, uint32_t chars, bool write) {
    switch (kind) {
        case Kind::kString: return RoundedChars(chars) + (write ? 0 : 1);
        case Kind::kWordBlock:
        case Kind::k32BitBlock: return 2 * WordsOf(kind, count, chars);
        default: return 4;
    }
}

std::size_t ReplyDataChars(Kind kind, int32_t count, uint32_t chars) {
    return kind == Kind::kBit ? 1 : 4 * WordsOf(kind, count, chars);
}

}  // namespace jynharness
