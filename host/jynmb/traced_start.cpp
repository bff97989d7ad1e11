#include "host/jynmb/traced_start.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "host/jynmb/commands.h"
#include "host/jynmb/demo_directory.h"
#include "host/jynmb/json.h"
#include "host/jynmb/messages.h"

namespace jynmb {

namespace fs = std::filesystem;

const char kTraceOptionHelp[] =
    "  --trace FILE       the driver's trace of this run (every frame, one line per\n"
    "                     transaction) appended to FILE; read it with 'jynmb trace'\n";

namespace {

// The driver reads its station file in pieces of 255 characters: the whole
// TRACE line must be one.
constexpr std::size_t kLongestLine = 254;
const char kTraceKeyword[] = "TRACE = ";

// The driver's own order: its instance's file with two digits, with one,
// then the file every instance shares.
std::vector<std::string> StationFileNames(uint32_t instance) {
    char names[3][32];
    std::snprintf(names[0], sizeof names[0], "JYNMB%02u.INT", static_cast<unsigned>(instance));
    std::snprintf(names[1], sizeof names[1], "JYNMB%u.INT", static_cast<unsigned>(instance));
    std::snprintf(names[2], sizeof names[2], "JYNMB.INT");
    return {names[0], names[1], names[2]};
}

// The station file the current directory gives the instance, as the driver
// would pick it; with none, the name the driver looks for first.
void FindStationFile(uint32_t instance, std::string& name, std::string& text) {
    const std::vector<std::string> names = StationFileNames(instance);
    for (const std::string& candidate : names) {
        std::ifstream in(candidate, std::ios::binary);
        if (!in) continue;
        std::ostringstream content;
        content << in.rdbuf();
        name = candidate;
        text = content.str();
        return;
    }
    name = names.front();
    text.clear();
}

// What the station file can carry after "TRACE = ": no comma (a size would
// follow it), no blank at either end (the driver trims them), no line end.
std::string PathProblem(const std::string& path) {
    if (path.find(',') != std::string::npos) return "holds a comma";
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20) return "holds a control character";
    }
    if (path.back() == ' ' || path.back() == '\t') return "ends with a blank";
    if (path.size() + sizeof kTraceKeyword - 1 > kLongestLine) {
        return "is longer than the " + std::to_string(kLongestLine - (sizeof kTraceKeyword - 1)) +
               " characters a station file line holds for it";
    }
    return std::string();
}

bool ReportFailure(const char* command, const std::string& error, bool json) {
    std::fflush(stdout);
    std::fprintf(stderr, "jynmb %s: %s\n", command, error.c_str());
    if (json) {
        std::printf("{\"result\": %d, \"error\": %s}\n", jyn::kDriverFailure,
                    JsonString(error).c_str());
    }
    return false;
}

// The driver writes the trace's header as it opens the file at ColdStart;
// a file that did not grow was not opened (its messages say why). A device
// (/dev/null) has no size to tell by: it counts as grown.
std::uintmax_t SizeOf(const std::string& path) {
    std::error_code failed;
    if (!fs::is_regular_file(path, failed)) return UINTMAX_MAX;
    const std::uintmax_t size = fs::file_size(path, failed);
    return failed ? 0 : size;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code failed;
    const fs::path absolute = fs::absolute(path, failed);
    return failed ? path : absolute.lexically_normal().string();
}

bool ReadTraceOption(Args& args, std::string& trace, std::string& error) {
    std::string given;
    if (!args.Option("--trace", given)) return args.Error().empty();
    if (given.empty()) {
        error = "--trace wants a file name";
        return false;
    }
    trace = AbsolutePath(given);
    const std::string problem = PathProblem(trace);
    if (!problem.empty()) {
        error = "--trace " + given + ": the path " + trace + " " + problem;
        return false;
    }
    return true;
}

bool StartTracedSession(Session& session, const char* command, const std::string& driverPath,
                        const PortOptions& options, bool json, const std::string& trace) {
    if (trace.empty()) return StartSession(session, command, driverPath, options, json);
    // Made now if it is not there, as the driver would: it appends to it.
    if (!std::ofstream(trace, std::ios::binary | std::ios::app)) {
        return ReportFailure(command, "cannot write the trace " + trace, json);
    }
    const std::uintmax_t before = SizeOf(trace);
    std::string name, text, error;
    FindStationFile(options.instance, name, text);
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += kTraceKeyword + trace + "\n";
    {
        PrivateDirectory directory;
        if (!directory.Enter("jynmb-trace-", error) || !directory.WriteFile(name, text, error)) {
            return ReportFailure(command, error, json);
        }
        if (!StartSession(session, command, driverPath, options, json)) return false;
    }
    const std::uintmax_t after = SizeOf(trace);
    if (after != UINTMAX_MAX && after <= before) {
        ShowHeld(session.StartMessages());
        return ReportFailure(command, "the driver did not open the trace " + trace, json);
    }
    return true;
}

}  // namespace jynmb
