#pragma once

#include <cstddef>
#include <string>

namespace jynmb {

// The driver's banner is code page 437; terminals today speak UTF-8.
std::string Cp437ToUtf8(const char* text, std::size_t length);

}  // namespace jynmb
