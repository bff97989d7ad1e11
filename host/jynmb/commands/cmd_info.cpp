// jynmb info: what the driver tells a host before anything is started.
#include <cstdio>
#include <cstring>

#include "host/client/driver_library.h"
#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/cp437.h"
#include "host/jynmb/values/json.h"
#include "host/jynmb/commands/messages.h"

namespace jynmb {

namespace {

const char* const kStopBitNames[] = {"1", "1.5", "2"};
const char* const kParityNames[] = {"none", "odd", "even", "mark", "space"};

const char* NameOf(const char* const* names, unsigned count, unsigned code) {
    return code < count ? names[code] : "?";
}

void PrintText(const jynhost::DriverLibrary& driver, const jyn::DriverInfo& info) {
    std::printf("driver        %s\n", driver.Path().c_str());
    std::printf("name          %s\n", info.name != nullptr ? info.name : "(none)");
    std::printf("context size  %u bytes\n", info.contextSize);
    std::printf("defaults      %u baud, %u data bits, %s stop bit(s), parity %s\n",
                info.defaultBaudRate, info.defaultDataBits,
                NameOf(kStopBitNames, 3, info.defaultStopBits),
                NameOf(kParityNames, 5, info.defaultParity));
    std::printf("info          code %d, value %d, flags %d\n", info.infoCode, info.infoValue,
                info.infoFlags);
    if (info.banner != nullptr) {
        std::printf("%s", Cp437ToUtf8(info.banner, std::strlen(info.banner)).c_str());
    }
}

void PrintJson(const jynhost::DriverLibrary& driver, const jyn::DriverInfo& info) {
    const std::string banner =
        info.banner != nullptr ? Cp437ToUtf8(info.banner, std::strlen(info.banner)) : "";
    std::printf(
        "{\"driver\": %s, \"name\": %s, \"contextSize\": %u, \"baudRate\": %u, "
        "\"dataBits\": %u, \"stopBits\": %s, \"parity\": %s, \"infoCode\": %d, "
        "\"infoValue\": %d, \"infoFlags\": %d, \"banner\": %s}\n",
        JsonString(driver.Path()).c_str(),
        info.name != nullptr ? JsonString(info.name).c_str() : "null", info.contextSize,
        info.defaultBaudRate, info.defaultDataBits,
        JsonString(NameOf(kStopBitNames, 3, info.defaultStopBits)).c_str(),
        JsonString(NameOf(kParityNames, 5, info.defaultParity)).c_str(), info.infoCode,
        info.infoValue, info.infoFlags, JsonString(banner).c_str());
}

}  // namespace

int RunInfo(Args& args) {
    if (args.Flag("--help")) {
        std::printf(
            "usage: jynmb info [--driver PATH] [--json] [-q|-v]\n\n"
            "Loads the driver library as a host does, calls GetJynInfo and prints what\n"
            "it reports: name, banner, default line parameters and context size.\n");
        return kExitOk;
    }
    InstallMessageHandler(ReadVerbosity(args));
    const bool json = args.Flag("--json");
    std::string driverPath;
    args.Option("--driver", driverPath);
    if (!args.Leftover(false).empty()) return UsageError("info", args.Leftover(false));
    jynhost::DriverLibrary driver;
    std::string error;
    if (!driver.Load(driverPath, error)) {
        std::fprintf(stderr, "jynmb info: %s\n", error.c_str());
        if (json) std::printf("{\"result\": 2, \"error\": %s}\n", JsonString(error).c_str());
        return kExitUsage;
    }
    jyn::DriverInfo info{};
    const int32_t result = driver.Call(nullptr, jyn::kGetJynInfo, &info, 0);
    if (result != jyn::kOk) {
        std::fprintf(stderr, "jynmb info: GetJynInfo returned %d\n", result);
        return kExitUsage;
    }
    if (json) {
        PrintJson(driver, info);
    } else {
        PrintText(driver, info);
    }
    return kExitOk;
}

}  // namespace jynmb
