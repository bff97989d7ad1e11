// On POSIX the host's logging library is libTAVORN.so. err is taken from
// that library's own handle: the C library exports an unrelated err() (from
// <err.h>) that prints and exits the process, so the global symbol scope
// must never be asked for it.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "driver/log.h"

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

ErrFunction Bind() {
    if (void* handle = OpenTavorn()) {
        if (void* symbol = dlsym(handle, "err")) return reinterpret_cast<ErrFunction>(symbol);
    }
    return &StderrErr;
}

}  // namespace

ErrFunction HostErr() {
    static const ErrFunction bound = Bind();
    return bound;
}

}  // namespace jyn
