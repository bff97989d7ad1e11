// Libraries on Windows: LoadLibrary, and the executable's own module name.
#include <windows.h>

#include <vector>

#include "host/client/loader.h"

namespace jynhost::loader {

const char kDriverFile[] = "RAVEVUD.dll";

void* Open(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "cannot load " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
    }
    return module;
}

void* Symbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void Close(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

bool IsMapped(const std::string& path) { return GetModuleHandleA(path.c_str()) != nullptr; }

std::string ExecutableDirectory() {
    std::vector<char> buffer(MAX_PATH);
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    const std::string path(buffer.data(), length);
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace jynhost::loader
