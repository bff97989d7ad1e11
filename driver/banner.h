#pragma once

#include <cstddef>

namespace jyn {

extern const char kDriverName[];  // "Mitsubishi MELSEC-A"

// The installation banner the host shows: code page 437 box drawing, a line
// feed and six lines of 62 characters, each closed by a line feed.
extern const char kBanner[];
constexpr std::size_t kBannerLength = 379;

}  // namespace jyn
