// Whether a Windows test program runs under wine rather than on Windows: a
// few checks of the COM ports hold on Windows only and are skipped there.
#pragma once

#include <windows.h>

namespace jyn::testing {

// wine's ntdll exports wine_get_version; Windows' does not.
inline bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace jyn::testing
