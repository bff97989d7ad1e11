// Libraries on POSIX: dlopen, and the executable found through /proc.
#include <dlfcn.h>
#include <unistd.h>

#include <vector>

#include "host/client/loader.h"

namespace jynhost::loader {

const char kDriverFile[] = "libRAVEVUD.so";

void* Open(const std::string& path, std::string& error) {
    // A bare file name would make dlopen search the library path instead.
    const std::string target = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
    }
    return handle;
}

void* Symbol(void* handle, const char* name) { return dlsym(handle, name); }

void Close(void* handle) { dlclose(handle); }

bool IsMapped(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

std::string ExecutableDirectory() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return std::string();
    const std::string path(buffer.data(), static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace jynhost::loader
