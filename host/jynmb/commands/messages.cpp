#include "host/jynmb/commands/messages.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "host/jynmb/commands/commands.h"
#include "interface/host_abi.h"

namespace jynmb {

namespace {

std::atomic<Verbosity> g_verbosity{Verbosity::kNormal};
std::atomic<bool> g_echo{true};
// A command that never takes the messages must not grow without bound.
constexpr std::size_t kPendingLimit = 1000;
std::unique_ptr<jynhost::MessageRoute> g_route;
std::atomic<bool> g_traceEnded{false};

void Print(const DriverMessage& message) {
    const std::string stamp =
        g_verbosity == Verbosity::kVerbose ? LocalTimeStamp(false) + " " : std::string();
    std::fprintf(stderr, "%s[%d] %s\n", stamp.c_str(), message.level, message.text.c_str());
    std::fflush(stderr);
}

// Quiet holds every message back, errors too: a start that opens the port
// logs one at level 32, and a run that succeeds should print its results only.
void Echo(const DriverMessage& message) {
    static const char kTraceEnded[] = "JYNMB> trace '";
    if (message.text.rfind(kTraceEnded, 0) == 0 &&
        message.text.find("' ended: ") != std::string::npos) {
        g_traceEnded = true;
    }
    if (g_echo && g_verbosity != Verbosity::kQuiet) Print(message);
}

}  // namespace

void InstallMessageHandler(Verbosity verbosity) {
    g_verbosity = verbosity;
    if (g_route == nullptr) g_route = std::make_unique<jynhost::MessageRoute>(kPendingLimit, &Echo);
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
    return g_route != nullptr ? g_route->Take() : std::vector<DriverMessage>();
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

void SetEcho(bool echo) { g_echo = echo; }

bool DriverTraceEnded() { return g_traceEnded; }

void ShowHeld(const std::vector<DriverMessage>& messages, const std::string& shown) {
    if (!g_echo || g_verbosity != Verbosity::kQuiet) return;
    for (const DriverMessage& message : messages) {
        if (message.level > jyn::kLevelInfo && message.text != shown) Print(message);
    }
}

}  // namespace jynmb
