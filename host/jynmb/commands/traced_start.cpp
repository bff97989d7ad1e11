#include "host/jynmb/commands/traced_start.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/plant/demo_directory.h"
#include "host/jynmb/values/json.h"
#include "interface/station_file_names.h"
#include "interface/trace.h"

namespace jynmb {

namespace fs = std::filesystem;

const char kTraceOptionHelp[] =
    "  --trace FILE       the driver's trace of this run (every frame, one line per\n"
    "                     transaction) appended to FILE; read it with 'jynmb trace'\n";

namespace {

// The driver reads its station file in pieces: the whole TRACE line, with
// its line end, must be one.
constexpr std::size_t kLongestLine = jyn::station_file::kPieceLength - 1;
const std::string kTraceKeyword = std::string(jyn::station_file::kTrace) + " = ";

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
    if (path.size() + kTraceKeyword.size() > kLongestLine) {
        return "is longer than the " + std::to_string(kLongestLine - kTraceKeyword.size()) +
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
// a file that did not grow was not opened (its messages say why).
std::uintmax_t SizeOf(const std::string& path) {
    std::error_code failed;
    const std::uintmax_t size = fs::file_size(path, failed);
    return failed ? 0 : size;
}

// The pieces the driver reads a station file in (255 characters, or up to
// a line end), as it will see them.
std::vector<std::string> Pieces(const std::string& text) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min({text.find('\n', at), text.size() - 1, at + kLongestLine});
        pieces.push_back(text.substr(at, end + 1 - at));
        at = end + 1;
    }
    return pieces;
}

bool IsTraceKeyword(const std::string& name) {
    const std::string keyword = jyn::station_file::kTrace;
    std::size_t from = name.find_first_not_of(" \t"), to = name.find_last_not_of(" \t");
    if (from == std::string::npos || to - from + 1 != keyword.size()) return false;
    std::string word = name.substr(from, keyword.size());
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word == keyword;
}

// The station file with each TRACE line pointed at `scratch`, its size and
// the rest of the line kept: an illegal one stays illegal on its line.
std::string WithScratchTrace(const std::string& text, const std::string& scratch) {
    std::string out;
    for (const std::string& piece : Pieces(text)) {
        const std::size_t equals = piece.find('=');
        if (equals == std::string::npos || !IsTraceKeyword(piece.substr(0, equals))) {
            out += piece;
            continue;
        }
        const std::size_t rest = piece.find_first_of(",\r\n", equals);
        out += piece.substr(0, equals + 1) + " " + scratch +
               (rest == std::string::npos ? "" : piece.substr(rest));
    }
    return out;
}

}  // namespace

std::vector<std::string> StationFileNames(uint32_t instance) {
    const jyn::station_file::Names names = jyn::station_file::NamesFor(instance);
    return std::vector<std::string>(std::begin(names.name), std::end(names.name));
}

bool TraceFailed(const std::string& trace) {
    if (trace.empty() || !DriverTraceEnded()) return false;
    std::fflush(stdout);
    std::fprintf(stderr, "jynmb: the trace %s ended early, see the driver's message\n",
                 trace.c_str());
    return true;
}

bool StartScratchTracedSession(Session& session, const char* command, const std::string& driverPath,
                               const PortOptions& options, bool json, PrivateDirectory& scratch) {
    std::string name, text, error;
    FindStationFile(options.instance, name, text);
    std::error_code failed;
    const fs::path here = fs::current_path(failed);
    if (failed) return ReportFailure(command, "no current directory: " + failed.message(), json);
    if (!scratch.Enter("jynmb-scratch-", error) ||
        !scratch.WriteFile(name, WithScratchTrace(text, (scratch.Path() / "scratch.trc").string()),
                           error)) {
        return ReportFailure(command, error, json);
    }
    const bool started = StartSession(session, command, driverPath, options, json);
    fs::current_path(here, failed);
    return started;
}

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
    // Refused here as the driver would refuse it, with the reason.
    const std::string problem = jyn::TraceTargetProblem(trace);
    if (!problem.empty()) {
        return ReportFailure(command, "cannot write the trace " + trace + ": " + problem, json);
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
    if (SizeOf(trace) <= before) {
        ShowHeld(session.StartMessages());
        return ReportFailure(command, "the driver did not open the trace " + trace, json);
    }
    return true;
}

}  // namespace jynmb
