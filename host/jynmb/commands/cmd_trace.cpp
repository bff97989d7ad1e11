// jynmb trace: the driver's trace files read back, as statistics per
// station, the failed transactions with their frames, and a picture.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/trace/trace_file.h"
#include "host/jynmb/trace/trace_picture.h"
#include "host/jynmb/trace/trace_report.h"
#include "host/jynmb/trace/trace_stats.h"
#include "interface/trace.h"

namespace jynmb {

namespace {

namespace fs = std::filesystem;

const char kTraceHelp[] =
    "usage: jynmb trace [OPTIONS] FILE...\n\n"
    "Reads the driver's trace files (TRACE = path in the station file, or\n"
    "'jynmb read --trace FILE') and prints, per station and PC number: the\n"
    "transactions, good and failed, the attempts, time-outs, NAKs by code,\n"
    "settles, the bytes each way and the station's answer time (the reply's\n"
    "first byte less the request's last) as p50, p95 and max; then every\n"
    "failed transaction with its frames. Give a trace that turned over with\n"
    "its older part, x.trc.1 x.trc, in any order. Times are UTC, as in the trace.\n"
    "Exit code 0 when no selected transaction failed, 1 when one did, 2 when a\n"
    "file cannot be read or the command line is wrong.\n\n"
    "Options:\n"
    "  --station SS[:PP]  only this station number (and PC number), hexadecimal;\n"
    "                     again for more stations\n"
    "  --since TIME       only transactions that began at TIME or later\n"
    "  --until TIME       ... and before TIME. TIME as the trace writes it or a\n"
    "                     part of it (2026-12-09T12:49:34Z, 2026-12-09 12:49), or a\n"
    "                     time of day (12:49, 12:49:34.5) on the trace's first day\n"
    "  --svg OUT          also draw the answer times against the time, one row per\n"
    "                     station with the failures marked, into the SVG file OUT\n"
    "  --json             print the statistics and the failures as JSON\n";

struct TracePlan {
    std::vector<std::string> files;
    trace::Selection selection;
    std::string svg;
    bool json = false;
};

bool ReadMoment(Args& args, const char* name, std::optional<trace::Moment>& moment,
                std::string& error) {
    std::string text;
    if (!args.Option(name, text)) return args.Error().empty();
    trace::Moment parsed;
    if (!trace::ParseMoment(text, parsed)) {
        error = std::string(name) + " wants a time such as 2026-12-09T12:49:34Z or 12:49, not '" +
                text + "'";
        return false;
    }
    moment = parsed;
    return true;
}

bool ReadStations(Args& args, std::vector<trace::StationChoice>& stations, std::string& error) {
    for (std::string text; args.Option("--station", text);) {
        trace::StationChoice choice;
        if (!trace::ParseStationChoice(text, choice)) {
            error = "--station wants SS or SS:PP in hexadecimal, not '" + text + "'";
            return false;
        }
        stations.push_back(choice);
    }
    return args.Error().empty();
}

bool ReadPlan(Args& args, TracePlan& plan, std::string& error) {
    plan.json = args.Flag("--json");
    args.Option("--svg", plan.svg);
    if (!ReadStations(args, plan.selection.stations, error) ||
        !ReadMoment(args, "--since", plan.selection.since, error) ||
        !ReadMoment(args, "--until", plan.selection.until, error)) {
        if (error.empty()) error = args.Error();
        return false;
    }
    error = args.Leftover(true);
    if (!error.empty()) return false;
    plan.files = args.Rest();
    if (plan.files.empty()) error = "no trace FILE given";
    return error.empty();
}

// The picture must not take the place of a trace: not one of the files
// read (by any name), nor a trace left out of the list (--svg forgotten
// its OUT, the next trace taken for it).
bool PictureTargetProblem(const TracePlan& plan, std::string& error) {
    std::error_code failed;
    for (const std::string& file : trace::ReadingOrder(plan.files)) {
        if (file == plan.svg || fs::equivalent(file, plan.svg, failed)) {
            error = "--svg " + plan.svg + " is one of the traces read";
            return true;
        }
    }
    if (jyn::TraceTargetProblem(plan.svg).empty() && fs::file_size(plan.svg, failed) > 0 &&
        !failed) {
        error = "--svg " + plan.svg + " is a trace: give the picture a file of its own";
        return true;
    }
    return false;
}

bool WritePicture(const std::string& path, const std::string& svg, std::string& error) {
    std::ofstream out(path, std::ios::binary);
    out << svg;
    out.close();
    if (!out) error = "cannot write the picture '" + path + "'";
    return static_cast<bool>(out);
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Reads the files a second time for what the first reading only counted:
// the failed transactions' frames, printed as they come, and the picture.
bool SecondReading(const TracePlan& plan, const trace::TraceData& data, const trace::Tally& tally,
                   std::string& error) {
    const char* between = "";
    const auto failedOne = [&plan, &between](const trace::Transaction& txn) {
        if (txn.result == 0) return;
        Print(plan.json ? between + trace::FailedJson(txn) : trace::TextFailed(txn));
        between = trace::kJsonFailedBetween;
    };
    const auto replay = [&](const trace::TransactionSink& draw) {
        trace::Selector selector(plan.selection);
        return trace::ReadAgain(data, error, [&](trace::Transaction& txn) {
            if (!selector.Takes(txn)) return;
            failedOne(txn);
            if (draw) draw(txn);
        });
    };
    bool read = true;
    if (!plan.svg.empty()) {
        const std::string svg = trace::Picture(tally, replay);
        read = !svg.empty();
        if (read && !WritePicture(plan.svg, svg, error)) return false;
    } else if (tally.Failed() != 0) {
        read = replay(trace::TransactionSink());
    }
    if (plan.json) Print(trace::kJsonTail);
    return read;
}

}  // namespace

// Two readings of the files: the first counts, the second prints what the
// counts cannot hold. Neither keeps more than one transaction.
int RunTrace(Args& args) {
    if (args.Flag("--help")) {
        std::printf("%s", kTraceHelp);
        return kExitOk;
    }
    ReadVerbosity(args);  // as every command takes it; the trace has no driver messages
    TracePlan plan;
    std::string error;
    if (!ReadPlan(args, plan, error)) return UsageError("trace", error);
    if (!plan.svg.empty() && PictureTargetProblem(plan, error)) return UsageError("trace", error);
    trace::TraceData data;
    trace::Tally tally;
    trace::Selector selector(plan.selection);
    const bool read = trace::ReadFiles(plan.files, data, error, [&](trace::Transaction& txn) {
        if (selector.Takes(txn)) tally.Add(txn);
    });
    if (!read) return UsageError("trace", error);
    Print(plan.json ? trace::JsonHead(data, tally) : trace::TextHead(data, tally));
    if (!SecondReading(plan, data, tally, error)) return UsageError("trace", error);
    return tally.Failed() != 0 ? kExitGate : kExitOk;
}

}  // namespace jynmb
