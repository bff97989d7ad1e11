// jynmb info: what the driver tells a host before anything is started.
#include <cstdio>
#include <cstring>

#include "host/client/driver_library.h"
#include "host/jynmb/commands.h"
#include "host/jynmb/cp437.h"
#include "host/jynmb/messages.h"

namespace jynmb {

namespace {

const char* const kStopBitNames[] = {"1", "1.5", "2"};
const char* const kParityNames[] = {"none", "odd", "even", "mark", "space"};

const char* NameOf(const char* const* names, unsigned count, unsigned code) {
    return code < count ? names[code] : "?";
}

}  // namespace

int RunInfo(Args& args) {
    if (args.Flag("--help")) {
        std::printf(
            "usage: jynmb info [--driver PATH] [-q|-v]\n\n"
            "Loads the driver library as a host does, calls GetJynInfo and prints what\n"
            "it reports: name, banner, default line parameters and context size.\n");
        return kExitOk;
    }
    InstallMessageHandler(ReadVerbosity(args));
    std::string driverPath;
    args.Option("--driver", driverPath);
    if (!args.Error().empty()) return UsageError("info", args.Error());
    if (!args.Rest().empty()) return UsageError("info", "unexpected '" + args.Rest().front() + "'");
    jynhost::DriverLibrary driver;
    std::string error;
    if (!driver.Load(driverPath, error)) {
        std::fprintf(stderr, "jynmb info: %s\n", error.c_str());
        return kExitUsage;
    }
    jyn::DriverInfo info{};
    const int32_t result = driver.Call(nullptr, jyn::kGetJynInfo, &info, 0);
    if (result != jyn::kOk) {
        std::fprintf(stderr, "jynmb info: GetJynInfo returned %d\n", result);
        return kExitUsage;
    }
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
    return kExitOk;
}

}  // namespace jynmb
