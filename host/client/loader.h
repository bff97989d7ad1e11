// What loading a library takes from the operating system; one file per
// platform implements it, chosen when the library is built.
#pragma once

#include <string>

namespace jynhost::loader {

// The driver library's file name on this platform.
extern const char kDriverFile[];

// A handle, or null with `error` naming the path and the system's reason.
void* Open(const std::string& path, std::string& error);
void* Symbol(void* handle, const char* name);
void Close(void* handle);
bool IsMapped(const std::string& path);
// With a trailing separator; empty when the system does not say.
std::string ExecutableDirectory();

}  // namespace jynhost::loader
