#include "host/tavorn/tavorn.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_mutex;
TavornHandler g_handler = nullptr;
void* g_user = nullptr;

void EmitDefault(int level, const char* text) {
    const char* path = std::getenv("TAVORN_LOG");
    if (path != nullptr && *path != '\0') {
        if (std::FILE* file = std::fopen(path, "a")) {
            std::fprintf(file, "[%d] %s\n", level, text);
            std::fclose(file);
            return;
        }
    }
    std::fprintf(stderr, "[%d] %s\n", level, text);
    std::fflush(stderr);
}

}  // namespace

extern "C" TAVORN_API int TAVORN_CALL err(int level, const char* format, ...) {
    char text[1024];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format != nullptr ? format : "", args);
    va_end(args);

    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_handler != nullptr) {
        g_handler(level, text, g_user);
    } else {
        EmitDefault(level, text);
    }
    return 0;
}

extern "C" TAVORN_API void TAVORN_CALL TavornSetHandler(TavornHandler handler, void* user) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handler = handler;
    g_user = user;
}
