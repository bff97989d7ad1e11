#include "host/jynmb/messages.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "host/jynmb/commands.h"
#include "host/tavorn/tavorn.h"

namespace jynmb {

namespace {

std::mutex g_mutex;
Verbosity g_verbosity = Verbosity::kNormal;
bool g_echo = true;
std::vector<std::string> g_pending;

std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms.count()));
    return text;
}

void TAVORN_CALL OnMessage(int level, const char* text, void*) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_pending.size() < 1000) g_pending.emplace_back(text);
    if (!g_echo) return;
    if (level <= 8 && g_verbosity == Verbosity::kQuiet) return;
    const std::string stamp = g_verbosity == Verbosity::kVerbose ? TimeStamp() : std::string();
    std::fprintf(stderr, "%s[%d] %s\n", stamp.c_str(), level, text);
    std::fflush(stderr);
}

}  // namespace

void InstallMessageHandler(Verbosity verbosity) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_verbosity = verbosity;
    }
    TavornSetHandler(&OnMessage, nullptr);
}

Verbosity ReadVerbosity(Args& args) {
    Verbosity verbosity = Verbosity::kNormal;
    if (args.Flag("-q") || args.Flag("--quiet")) verbosity = Verbosity::kQuiet;
    if (args.Flag("-v") || args.Flag("--verbose")) verbosity = Verbosity::kVerbose;
    return verbosity;
}

std::vector<std::string> TakeMessages() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::string> out;
    out.swap(g_pending);
    return out;
}

void SetEcho(bool echo) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_echo = echo;
}

}  // namespace jynmb
