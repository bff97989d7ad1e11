// On Windows err is imported by name from the host's TAVORN.dll.
#include "interface/log.h"

extern "C" __declspec(dllimport) int __cdecl err(int level, const char* format, ...);

namespace jyn {

ErrFunction HostErr() { return &err; }

}  // namespace jyn
