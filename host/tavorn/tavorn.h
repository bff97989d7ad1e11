// TAVORN: our stand-in for the host application's logging library. The
// driver calls err(); a host (jynmb) may route the formatted lines to itself.
#pragma once

#if defined(_WIN32)
#if defined(TAVORN_BUILD)
#define TAVORN_API __declspec(dllexport)
#else
#define TAVORN_API __declspec(dllimport)
#endif
#define TAVORN_CALL __cdecl
#else
#define TAVORN_API __attribute__((visibility("default")))
#define TAVORN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

// printf-style message with a level (8 information, 32 error). Without a
// handler each message becomes one line "[level] text" on standard error, or
// in the file named by the environment variable TAVORN_LOG.
TAVORN_API int TAVORN_CALL err(int level, const char* format, ...);

typedef void(TAVORN_CALL* TavornHandler)(int level, const char* text, void* user);

// Sends every formatted message to handler instead; null restores the default.
TAVORN_API void TAVORN_CALL TavornSetHandler(TavornHandler handler, void* user);

#ifdef __cplusplus
}
#endif
