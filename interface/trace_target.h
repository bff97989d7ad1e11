// Where a trace may be written, and the file operations of one, per
// platform. A trace path comes from a station file or a command line and
// may name anything: a user's own file, a device, a FIFO, a directory. The
// driver writes only into a regular file that is new (or empty) or that
// begins with a trace header of this driver's, and it renames or replaces
// only such files: anything else is left exactly as it was. No step may
// wait on the file (a FIFO without a reader) or raise a signal (a FIFO
// whose reader left): only regular files are ever written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace jyn::tracefile {

constexpr int kNoFile = -1;

// What every trace begins with: "# JYNMB <version> trace, instance ...".
bool IsTraceStart(const char* head, std::size_t count);

// The path made absolute against the current directory, once, so that a
// host that changes its directory later still writes the same file.
std::string Absolute(const std::string& path);

// Why the path cannot take a trace, or empty when it can; creates nothing.
std::string Problem(const std::string& path);

// Opens a regular file to read a trace back; null with `why` for anything
// else (a FIFO would wait for a writer, /dev/zero never end); its size
// when opened in `size`.
std::FILE* OpenToRead(const std::string& path, uint64_t& size, std::string& why);

// Opens the path for appending, creating it when it is not there; its
// size so far in `size`. kNoFile with `why` when the path is refused.
int Open(const std::string& path, uint64_t& size, std::string& why);

// Writes all of it; false with `why` (a full disk, an I/O error).
bool Write(int file, const char* bytes, std::size_t count, std::string& why);

void Close(int file);

// The full file becomes path.1 (replacing an older trace there, never
// another file) and a new, empty file takes its name: its handle, or
// kNoFile with `why`, the old file left as it is. `file` is closed either
// way.
int TurnOver(int file, const std::string& path, std::string& why);

}  // namespace jyn::tracefile
