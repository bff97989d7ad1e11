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
// A command that never takes the messages must not grow without bound.
constexpr std::size_t kPendingLimit = 1000;
std::vector<DriverMessage> g_pending;

void TAVORN_CALL OnMessage(int level, const char* text, void*) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_pending.size() < kPendingLimit) g_pending.push_back(DriverMessage{level, text});
    if (!g_echo) return;
    if (level <= 8 && g_verbosity == Verbosity::kQuiet) return;
    const std::string stamp =
        g_verbosity == Verbosity::kVerbose ? LocalTimeStamp(false) + " " : std::string();
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

Verbosity InstallQuietMessageHandler(Args& args) {
    const Verbosity verbosity = ReadVerbosity(args);
    InstallMessageHandler(verbosity);
    SetEcho(verbosity == Verbosity::kVerbose);
    return verbosity;
}

std::vector<DriverMessage> TakeDriverMessages() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<DriverMessage> out;
    out.swap(g_pending);
    return out;
}

std::vector<std::string> TakeMessages() {
    std::vector<std::string> texts;
    for (DriverMessage& message : TakeDriverMessages()) texts.push_back(std::move(message.text));
    return texts;
}

std::string LocalTimeStamp(bool withDate) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char date[48] = "";
    if (withDate) {
        std::snprintf(date, sizeof date, "%04d-%02d-%02d ", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday);
    }
    char text[112];
    std::snprintf(text, sizeof text, "%s%02d:%02d:%02d.%03d", date, local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms.count()));
    return text;
}

void SetEcho(bool echo) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_echo = echo;
}

}  // namespace jynmb
