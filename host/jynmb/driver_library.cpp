#include "host/jynmb/driver_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <vector>

namespace jynmb {

#if defined(_WIN32)

namespace {
constexpr const char* kDriverFile = "RAVEVUD.dll";
}

std::string ExecutableDirectory() {
    std::vector<char> buffer(MAX_PATH);
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::string path(buffer.data(), length);
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    path_ = path.empty() ? ExecutableDirectory() + kDriverFile : path;
    HMODULE module = LoadLibraryA(path_.c_str());
    if (module == nullptr) {
        error = "cannot load " + path_ + " (Windows error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    auto entry =
        reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, "JynMain")));
    if (entry == nullptr) {
        error = path_ + " has no export JynMain";
        FreeLibrary(module);
        return false;
    }
    handle_ = module;
    entry_ = entry;
    return true;
}

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

#else

namespace {
constexpr const char* kDriverFile = "libRAVEVUD.so";
}

std::string ExecutableDirectory() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return std::string();
    std::string path(buffer.data(), static_cast<size_t>(length));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    path_ = path.empty() ? ExecutableDirectory() + kDriverFile : path;
    // A bare file name would make dlopen search the library path instead.
    const std::string target = path_.find('/') == std::string::npos ? "./" + path_ : path_;
    void* handle = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error =
            std::string("cannot load ") + path_ + ": " + (why != nullptr ? why : "unknown error");
        return false;
    }
    auto entry = reinterpret_cast<EntryPoint>(dlsym(handle, "JynMain"));
    if (entry == nullptr) {
        error = path_ + " has no export JynMain";
        dlclose(handle);
        return false;
    }
    handle_ = handle;
    entry_ = entry;
    return true;
}

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

#endif

}  // namespace jynmb
