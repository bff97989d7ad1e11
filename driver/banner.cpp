#include "driver/banner.h"

namespace jyn {

const char kDriverName[] = "Mitsubishi MELSEC-A";

// Code page 437: \xDA top left, \xC4 horizontal, \xBF top right, \xB3 vertical,
// \xC0 bottom left, \xD9 bottom right, \xDB full block, \xB2 dark shade,
// \xB1 medium shade, \xB0 light shade.
#define JYN_H10 "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4"
#define JYN_H60 JYN_H10 JYN_H10 JYN_H10 JYN_H10 JYN_H10 JYN_H10
#define JYN_B10 "          "

// clang-format off
const char kBanner[] =
    "\n"
    "\xDA" JYN_H60 "\xBF\n"
    "\xB3 \xDB\xDB\xDB\xDB\xDB\xB2\xB2\xB2\xB2\xB2\xB2\xB1\xB1\xB1\xB1\xB1\xB1\xB0\xB0\xB0\xB0\xB0\xB0"
    "  J Y N M B  "
    "\xB0\xB0\xB0\xB0\xB1\xB1\xB1\xB1\xB1\xB1\xB2\xB2\xB2\xB2\xB2\xB2\xDB\xDB\xDB\xDB\xDB  \xB3\n"
    "\xB3            Mitsubish Melsec-A Driver installed.            \xB3\n"
    "\xB3                Mitsubishi Melsec-A Protocol.               \xB3\n"
    "\xB3" JYN_B10 JYN_B10 JYN_B10 JYN_B10 JYN_B10 JYN_B10 "\xB3\n"
    "\xC0" JYN_H60 "\xD9\n";
// clang-format on

#undef JYN_H10
#undef JYN_H60
#undef JYN_B10

static_assert(sizeof(kBanner) == kBannerLength + 1, "banner is 379 bytes");

}  // namespace jyn
