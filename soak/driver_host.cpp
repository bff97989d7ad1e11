#include "soak/driver_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

namespace jynsoak {

namespace {

using TavornHandler = void (*)(int level, const char* text, void* user);
using SetHandler = void (*)(TavornHandler handler, void* user);

std::mutex g_mutex;

void Route(int level, const char* text, void*) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Messages& log = DriverHost::Log();
    ++(level >= 32 ? log.errors : log.info);
    if (log.recent.size() < Messages::kKeep) {
        log.recent.push_back("[" + std::to_string(level) + "] " + text);
    }
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace

Messages& DriverHost::Log() {
    static Messages messages;
    return messages;
}

bool DriverHost::Load(const std::string& path, std::string& error) {
    Unload();
    // The same path the driver opens it by, so both hold one library.
    tavorn_ = dlopen((FolderOf(path) + "libTAVORN.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (tavorn_ == nullptr) {
        error = dlerror();
        return false;
    }
    if (auto set = reinterpret_cast<SetHandler>(dlsym(tavorn_, "TavornSetHandler"))) {
        set(&Route, nullptr);
    }
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error = dlerror();
        Unload();
        return false;
    }
    entry_ = reinterpret_cast<Entry>(dlsym(handle_, "JynMain"));
    if (entry_ == nullptr) {
        error = "no JynMain in " + path;
        Unload();
        return false;
    }
    return true;
}

void DriverHost::Unload() {
    if (handle_ != nullptr) dlclose(handle_);
    if (tavorn_ != nullptr) {
        if (auto set = reinterpret_cast<SetHandler>(dlsym(tavorn_, "TavornSetHandler"))) {
            set(nullptr, nullptr);
        }
        dlclose(tavorn_);
    }
    handle_ = nullptr;
    tavorn_ = nullptr;
    entry_ = nullptr;
}

bool DriverHost::StillLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

int32_t DriverHost::Call(void* context, uint32_t function, void* params, uint32_t instance) const {
    jyn::CallBlock block{};
    block.context = static_cast<jyn::DriverContext*>(context);
    block.function = function;
    block.instance = instance;
    block.params = params;
    return Call(block);
}

std::string ExecutableFolder() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? FolderOf(std::string(path, static_cast<std::size_t>(length))) : "./";
}

}  // namespace jynsoak
