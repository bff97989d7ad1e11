// On POSIX the host's logging library is libTAVORN.so. err is taken from
// that library's own handle: the C library exports an unrelated err() (from
// <err.h>) that prints and exits the process, so the global symbol scope
// must never be asked for it.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "interface/log.h"

namespace jyn {

namespace {

int StderrErr(int level, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fprintf(stderr, "[%d] ", level);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    return 0;
}

// Beside this library first (a host installation keeps them together), then
// wherever the dynamic loader looks.
void* OpenTavorn() {
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&HostErr), &self) != 0 && self.dli_fname != nullptr) {
        std::string path = self.dli_fname;
        const auto slash = path.rfind('/');
        if (slash != std::string::npos) {
            path.resize(slash + 1);
            path += "libTAVORN.so";
            if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
        }
    }
    return dlopen("libTAVORN.so", RTLD_NOW | RTLD_LOCAL);
}

// Held for as long as this library is loaded: the reference to the host's
// logging library is given back when the host unloads the driver, so that
// loading and unloading it again and again adds nothing.
struct Binding {
    void* handle = nullptr;
    ErrFunction err = &StderrErr;

    Binding() {
        handle = OpenTavorn();
        if (handle == nullptr) return;
        if (void* symbol = dlsym(handle, "err")) err = reinterpret_cast<ErrFunction>(symbol);
    }
    ~Binding() {
        if (handle != nullptr) dlclose(handle);
    }
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;
};

}  // namespace

ErrFunction HostErr() {
    static const Binding binding;
    return binding.err;
}

}  // namespace jyn
