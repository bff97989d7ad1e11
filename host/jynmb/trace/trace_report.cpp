#include "host/jynmb/trace/trace_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/jynmb/values/json.h"
#include "host/jynmb/trace/trace_stats.h"

namespace jynmb::trace {

namespace {

std::string Fixed(double value, int decimals) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Joined(const std::vector<std::string>& parts, const char* between) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? between : "") + parts[i];
    return out;
}

std::string Span(const Tally& tally) {
    return FormatStamp(tally.From()) + " to " + FormatStamp(tally.To());
}

// "02h x3, ??h x1"
std::string NakText(const StationStats& stats) {
    std::vector<std::string> parts;
    for (const auto& [code, count] : stats.naks) {
        parts.push_back(Printable(code) + "h x" + std::to_string(count));
    }
    return parts.empty() ? std::string("-") : Joined(parts, ", ");
}

// A row's fixed columns have a bounded width; its NAK codes, however many,
// follow them in full, and the row ends with its own line end.
std::string StationTable(const std::vector<StationStats>& stations) {
    std::string out;
    char line[400];
    std::snprintf(line, sizeof line, "%-3s %-3s %6s %6s %6s %8s %9s %7s %9s %9s %8s %8s %8s  %s\n",
                  "st", "pc", "txns", "good", "failed", "attempts", "time-outs", "settles",
                  "bytes out", "bytes in", "p50 ms", "p95 ms", "max ms", "NAKs");
    out += line;
    for (const StationStats& s : stations) {
        const bool answered = !s.answers.Empty();
        std::snprintf(
            line, sizeof line,
            "%-3s %-3s %6llu %6llu %6llu %8llu %9llu %7llu %9llu %9llu %8s %8s %8s  ",
            Printable(s.station).c_str(), Printable(s.pc).c_str(),
            static_cast<unsigned long long>(s.transactions),
            static_cast<unsigned long long>(s.good), static_cast<unsigned long long>(s.failed),
            static_cast<unsigned long long>(s.attempts),
            static_cast<unsigned long long>(s.timeouts), static_cast<unsigned long long>(s.settles),
            static_cast<unsigned long long>(s.bytesOut), static_cast<unsigned long long>(s.bytesIn),
            answered ? Fixed(s.answers.Percentile(0.5), 1).c_str() : "-",
            answered ? Fixed(s.answers.Percentile(0.95), 1).c_str() : "-",
            answered ? Fixed(s.answers.MaxMs(), 1).c_str() : "-");
        out += line + NakText(s) + "\n";
    }
    return out;
}

// The reply time-out, in the host's units of 10 ms, that would have waited
// for the latest of a station's late answers.
unsigned long CatchingTimeout(const Answers& late) {
    return static_cast<unsigned long>(std::ceil(late.MaxMs() / 10.0)) + 1;
}

// Answers that came after their attempt had given up: the station is slow,
// not dead; said only for the stations that had any.
std::string LateAnswers(const std::vector<StationStats>& stations) {
    std::string out;
    for (const StationStats& s : stations) {
        if (s.late.Empty()) continue;
        if (out.empty()) out = "\nlate answers (after their attempt had given up):\n";
        out += Printable(s.station) + " " + Printable(s.pc) + ": " +
               std::to_string(s.late.Count()) + ", p50 " + Fixed(s.late.Percentile(0.5), 1) +
               " ms, max " + Fixed(s.late.MaxMs(), 1) + " ms; a reply time-out of " +
               std::to_string(CatchingTimeout(s.late)) + " (x 10 ms) would have caught them\n";
    }
    return out;
}

}  // namespace

std::string ReadAheadText(const std::vector<StationStats>& stations) {
    std::string out;
    for (const StationStats& s : stations) {
        if (s.readAheadBlocks == 0 && s.readAheadServed == 0) continue;
        const double each =
            s.readAheadBlocks != 0 ? static_cast<double>(s.readAheadServed) / s.readAheadBlocks : 0;
        out += "read-ahead  st " + Printable(s.station) + " pc " + Printable(s.pc) + ": " +
               std::to_string(s.readAheadBlocks) + " blocks served " +
               std::to_string(s.readAheadServed) + " reads, " + Fixed(each, 1) + " a block\n";
    }
    return out;
}

namespace {

std::string Summary(const Transaction& txn) {
    std::string text = FormatStamp(txn.start) + "  st " + Printable(txn.station) + " pc " +
                       Printable(txn.pc) + "  " + Printable(txn.service) + " '" +
                       Printable(txn.gate) + "'  result " + std::to_string(txn.result) +
                       ", attempts " + std::to_string(txn.attempts) + ", time-outs " +
                       std::to_string(txn.timeouts);
    if (!txn.naks.empty()) text += ", NAKs " + Printable(Joined(txn.naks, ","));
    if (!txn.note.empty()) text += ", " + Printable(txn.note);
    return text + "  (" + Printable(txn.where) + ")\n";
}

std::string FailedHeading(uint64_t failed) {
    if (failed == 0) return "\nno failed transactions\n";
    return "\nfailed transactions: " + std::to_string(failed) + "\n";
}

std::string Counters(const StationStats& s) {
    const auto field = [](const char* name, uint64_t value) {
        return std::string("\"") + name + "\": " + std::to_string(value) + ", ";
    };
    return field("transactions", s.transactions) + field("good", s.good) +
           field("failed", s.failed) + field("attempts", s.attempts) +
           field("timeouts", s.timeouts) + field("settles", s.settles) +
           field("bytesOut", s.bytesOut) + field("bytesIn", s.bytesIn);
}

std::string StationJson(const StationStats& s) {
    std::vector<std::string> naks;
    for (const auto& [code, count] : s.naks) {
        naks.push_back(JsonString(code) + ": " + std::to_string(count));
    }
    std::string response = "null";
    if (!s.answers.Empty()) {
        response = "{\"count\": " + std::to_string(s.answers.Count()) +
                   ", \"p50\": " + Fixed(s.answers.Percentile(0.5), 3) +
                   ", \"p95\": " + Fixed(s.answers.Percentile(0.95), 3) +
                   ", \"max\": " + Fixed(s.answers.MaxMs(), 3) + "}";
    }
    std::string readAhead;
    if (s.readAheadBlocks != 0 || s.readAheadServed != 0) {
        readAhead = ", \"readAhead\": {\"blocks\": " + std::to_string(s.readAheadBlocks) +
                    ", \"served\": " + std::to_string(s.readAheadServed) + "}";
    }
    std::string late;
    if (!s.late.Empty()) {
        late = ", \"lateMs\": {\"count\": " + std::to_string(s.late.Count()) +
               ", \"p50\": " + Fixed(s.late.Percentile(0.5), 3) +
               ", \"max\": " + Fixed(s.late.MaxMs(), 3) +
               ", \"catchingTimeout\": " + std::to_string(CatchingTimeout(s.late)) + "}";
    }
    return "{\"station\": " + JsonString(s.station) + ", \"pc\": " + JsonString(s.pc) + ", " +
           Counters(s) + "\"naks\": {" + Joined(naks, ", ") + "}, \"responseMs\": " + response +
           readAhead + late + "}";
}

}  // namespace

std::string FailedJson(const Transaction& txn) {
    std::vector<std::string> naks;
    for (const std::string& code : txn.naks) naks.push_back(JsonString(code));
    std::vector<std::string> records;
    for (const Record& record : txn.records) {
        records.push_back("{\"time\": " + JsonString(FormatStamp(record.time)) + ", \"kind\": " +
                          JsonString(record.kind) + ", \"text\": " + JsonString(record.text) + "}");
    }
    return "{\"start\": " + JsonString(FormatStamp(txn.start)) +
           ", \"end\": " + JsonString(FormatStamp(txn.end)) +
           ", \"station\": " + JsonString(txn.station) + ", \"pc\": " + JsonString(txn.pc) +
           ", \"service\": " + JsonString(txn.service) + ", \"gate\": " + JsonString(txn.gate) +
           ", \"result\": " + std::to_string(txn.result) +
           ", \"attempts\": " + std::to_string(txn.attempts) +
           ", \"timeouts\": " + std::to_string(txn.timeouts) + ", \"naks\": [" +
           Joined(naks, ", ") + "], \"note\": " + JsonString(txn.note) +
           ", \"where\": " + JsonString(txn.where) + ",\n     \"records\": [" +
           Joined(records, ",\n       ") + "]}";
}

std::string TextFailed(const Transaction& txn) {
    std::string out = "\n" + Summary(txn);
    char line[64];
    for (const Record& record : txn.records) {
        std::snprintf(line, sizeof line, "    %s  %-8s ",
                      FormatStamp(record.time).substr(11, 15).c_str(),
                      Printable(record.kind).c_str());
        out += line + Printable(record.text) + "\n";
    }
    return out;
}

std::string TextHead(const TraceData& data, const Tally& tally) {
    std::string out = "trace       " + Printable(Joined(data.files, ", ")) + ": " +
                      std::to_string(data.lines) + " lines, " +
                      std::to_string(data.transactionCount) + " transactions\n";
    if (data.unreadLines != 0) {
        std::vector<std::string> first;
        for (const Unread& unread : data.unread) {
            first.push_back(Printable(unread.where) + " " + unread.why);
        }
        out += "not read    " + std::to_string(data.unreadLines) + " lines (" +
               Joined(first, "; ") + (data.unreadLines > first.size() ? "; ...)\n" : ")\n");
    }
    if (data.unfinished != 0) {
        out +=
            "unfinished  " + std::to_string(data.unfinished) + " records that no TXN line closes\n";
    }
    if (tally.Selected() == 0) return out + "selected    no transactions\n";
    out += "selected    " + std::to_string(tally.Selected()) + " transactions, " + Span(tally) +
           " (UTC)\n\n";
    const std::vector<StationStats> stations = tally.Stations();
    const std::string readAhead = ReadAheadText(stations);
    return out + StationTable(stations) + (readAhead.empty() ? "" : "\n" + readAhead) +
           LateAnswers(stations) + FailedHeading(tally.Failed());
}

std::string JsonHead(const TraceData& data, const Tally& tally) {
    std::vector<std::string> files;
    for (const std::string& file : data.files) files.push_back(JsonString(file));
    std::vector<std::string> unread;
    for (const Unread& u : data.unread) {
        unread.push_back("{\"where\": " + JsonString(u.where) + ", \"why\": " + JsonString(u.why) +
                         "}");
    }
    std::vector<std::string> stations;
    for (const StationStats& s : tally.Stations()) stations.push_back(StationJson(s));
    std::string from = "null", to = "null";
    if (tally.Selected() != 0) {
        from = JsonString(FormatStamp(tally.From()));
        to = JsonString(FormatStamp(tally.To()));
    }
    return "{\"files\": [" + Joined(files, ", ") + "], \"lines\": " + std::to_string(data.lines) +
           ", \"unreadLines\": " + std::to_string(data.unreadLines) + ", \"unread\": [" +
           Joined(unread, ", ") + "], \"unfinished\": " + std::to_string(data.unfinished) +
           ",\n \"transactions\": " + std::to_string(tally.Selected()) + ", \"from\": " + from +
           ", \"to\": " + to + ",\n \"stations\": [\n  " + Joined(stations, ",\n  ") +
           "],\n \"failed\": [\n  ";
}

const char kJsonFailedBetween[] = ",\n  ";
const char kJsonTail[] = "]}\n";

std::string TextReport(const TraceData& data, const std::vector<const Transaction*>& selected) {
    Tally tally;
    for (const Transaction* txn : selected) tally.Add(*txn);
    std::string out = TextHead(data, tally);
    if (tally.Selected() == 0) return out;
    for (const Transaction* txn : selected) {
        if (txn->result != 0) out += TextFailed(*txn);
    }
    return out;
}

std::string JsonReport(const TraceData& data, const std::vector<const Transaction*>& selected) {
    Tally tally;
    for (const Transaction* txn : selected) tally.Add(*txn);
    std::string out = JsonHead(data, tally);
    const char* between = "";
    for (const Transaction* txn : selected) {
        if (txn->result == 0) continue;
        out += between + FailedJson(*txn);
        between = kJsonFailedBetween;
    }
    return out + kJsonTail;
}

}  // namespace jynmb::trace
