// Station configuration file contents through ReadInitFile. The bytes become
// JYNMB.INT in a private folder (the fuzzer's current directory); instance 7
// looks for JYNMB07.INT and JYNMB7.INT first, finds neither and reads it.
#include <cstdio>
#include <cstring>

#include "driver/handlers.h"
#include "fuzz/fuzz_support.h"
#include "interface/host_abi.h"

namespace {

using jynfuzz::Check;

constexpr char kFileName[] = "JYNMB.INT";

void WriteFile(const uint8_t* bytes, std::size_t size) {
    std::FILE* file = std::fopen(kFileName, "wb");
    Check(file != nullptr, "cannot write the station file");
    Check(std::fwrite(bytes, 1, size, file) == size, "short write of the station file");
    std::fclose(file);
}

void FillDefaults(jyn::DriverContext& context) {
    std::memset(&context, 0xA5, sizeof context);
    for (std::size_t i = 0; i < jyn::kStationCount; ++i) {
        context.stationTable[i] = {static_cast<uint8_t>(i), 0xFF, jyn::kCpuA};
    }
}

bool Contains(const uint8_t* bytes, std::size_t size, char c) {
    return std::memchr(bytes, c, size) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    jynfuzz::InstallLogSink();
    jynfuzz::EnterPrivateFolder({kFileName});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    WriteFile(bytes, size);
    jyn::DriverContext context;
    FillDefaults(context);
    unsigned char was[sizeof context];  // padding included, unlike a copy of the record
    std::memcpy(was, &context, sizeof context);
    jyn::CallBlock call{&context, jyn::kColdStart, 7, 0, nullptr};
    jyn::StationFileOptions options;
    jyn::ReadInitFile(call, options);
    // Keyword lines keep their values inside the ranges the driver takes.
    Check(options.offlineSeconds <= 86400, "OFFLINE beyond a day");
    Check(!options.traced || (!options.trace.path.empty() && options.trace.limitBytes >= 1024),
          "a TRACE without a path or with no size");

    // Only the station table is the file's to change.
    const std::size_t table = offsetof(jyn::DriverContext, stationTable);
    const std::size_t tableEnd = table + sizeof context.stationTable;
    const auto* now = reinterpret_cast<const unsigned char*>(&context);
    Check(std::memcmp(now, was, table) == 0, "the file changed a field before the station table");
    Check(std::memcmp(now + tableEnd, was + tableEnd, sizeof context - tableEnd) == 0,
          "the file changed bytes after the station table");
    for (const jyn::StationEntry& entry : context.stationTable) {
        Check(entry.cpuType == jyn::kCpuA || entry.cpuType == jyn::kCpuAn, "CPU type outside 0..1");
    }
    // A station line needs '=' and ','; without them nothing may change.
    if (!Contains(bytes, size, '=') || !Contains(bytes, size, ',')) {
        Check(std::memcmp(now, was, sizeof context) == 0,
              "a file without station lines changed the table");
    }
    return 0;
}
