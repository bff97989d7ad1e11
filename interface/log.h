// Messages to the host's err(level, format, ...). The format and its
// arguments go to the host unchanged; the host formats them.
#pragma once

#include "interface/host_abi.h"

namespace jyn {

using ErrFunction = int (*)(int level, const char* format, ...);

// The host's err, bound once per process (see log_bind_*.cpp). Never null:
// when the host library cannot be found, messages go to standard error.
ErrFunction HostErr();

// Replaces the destination of every message (tests record them); null puts
// the host's err back.
void SetLogSink(ErrFunction sink);
ErrFunction LogSink();

// Only plain C arguments (integers, characters, C strings) may be passed.
template <typename... Args>
void LogInfo(const char* format, Args... args) {
    LogSink()(kLevelInfo, format, args...);
}

template <typename... Args>
void LogError(const char* format, Args... args) {
    LogSink()(kLevelError, format, args...);
}

}  // namespace jyn
