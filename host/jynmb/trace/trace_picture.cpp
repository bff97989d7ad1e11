#include "host/jynmb/trace/trace_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "host/jynmb/trace/trace_stats.h"

namespace jynmb::trace {

namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 170;
constexpr double kRight = 24;
constexpr double kTop = 70;
constexpr double kRowHeight = 118;
constexpr double kRowGap = 18;
constexpr double kMarkBand = 20;  // above each row's plot: the crosses and triangles
constexpr double kBottom = 44;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr int kMostTicks = 8;
constexpr Micros kSecond = 1000000;
const char kAnswerColour[] = "#1f6fb4";
const char kFailColour[] = "#d62728";
const char kRetryColour[] = "#ff8c00";

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// "5 ms", "2.5 ms", "0.1 ms"
std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g ms", ms);
    return text;
}

std::string Xml(const std::string& text) {
    std::string out;
    for (const char c : Printable(text)) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

// 1, 2 or 5 times a power of ten, at least `value`.
double NiceCeiling(double value) {
    if (value <= 1) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        if (value <= step * power) return step * power;
    }
    return 10 * power;
}

// Tick steps that divide a day, then whole days.
const Micros kTickSteps[] = {
    kSecond / 10,    kSecond / 5,    kSecond / 2,     kSecond,         2 * kSecond,
    5 * kSecond,     10 * kSecond,   15 * kSecond,    30 * kSecond,    60 * kSecond,
    120 * kSecond,   300 * kSecond,  600 * kSecond,   900 * kSecond,   1800 * kSecond,
    3600 * kSecond,  7200 * kSecond, 10800 * kSecond, 21600 * kSecond, 43200 * kSecond,
    86400 * kSecond,
};

Micros TickStep(Micros span) {
    for (const Micros step : kTickSteps) {
        if (span / step <= kMostTicks) return step;
    }
    const Micros day = 86400 * kSecond;
    return (span / (kMostTicks * day) + 1) * day;
}

// The part of a time stamp a tick needs.
std::string TickLabel(Micros at, Micros step, Micros span) {
    const std::string stamp = FormatStamp(at);  // 2026-12-09T12:49:34.057805Z
    if (span >= 86400 * kSecond) return stamp.substr(5, 5) + " " + stamp.substr(11, 5);
    if (step < kSecond) return stamp.substr(11, 10);
    return stamp.substr(11, step >= 60 * kSecond ? 5 : 8);
}

struct Scale {
    Micros from = 0;
    Micros to = 0;
    double X(Micros at) const {
        return kLeft + kPlotWidth * static_cast<double>(at - from) / static_cast<double>(to - from);
    }
};

Scale TimeScale(const Tally& tally) {
    Scale scale{tally.From(), tally.LastMoment()};
    if (scale.to - scale.from < kSecond) scale.to = scale.from + kSecond;
    return scale;
}

// Marks of one kind in one row; those on the same spot drawn once.
struct Spot {
    std::size_t count = 0;
    std::string title;
};
using Spots = std::map<std::pair<long, long>, Spot>;

void AddSpot(Spots& spots, double x, double y, const std::string& title) {
    Spot& spot = spots[{std::lround(x), std::lround(y)}];
    if (spot.count++ == 0) spot.title = title;
}

// Answers fill a row's plot: a spot is a cell of kCell pixels, smaller than
// a circle, and keeps what its title needs in a few bytes, so that a trace
// of any length draws in a memory its size on the screen bounds.
constexpr double kCell = 3;
constexpr std::size_t kMostGates = 1000;  // a row's gate texts that titles name

struct AnswerSpot {
    uint64_t count = 0;
    Micros at = 0;
    double ms = 0;
    uint32_t gate = 0;
};
using AnswerSpots = std::map<std::pair<int32_t, int32_t>, AnswerSpot>;

struct Row {
    StationStats stats;
    double top = 0;
    double yMax = 1;  // ms at the top of the plot
    AnswerSpots answers;
    std::vector<std::string> gates{"..."};
    std::map<std::string, uint32_t> gateIds;
    Spots failures;
    Spots retries;

    double PlotTop() const { return top + kMarkBand; }
    double Y(double ms) const {
        return top + kRowHeight - (kRowHeight - kMarkBand) * std::min(ms, yMax) / yMax;
    }
    uint32_t GateId(const std::string& gate) {
        const auto known = gateIds.find(gate);
        if (known != gateIds.end()) return known->second;
        if (gates.size() > kMostGates) return 0;
        gates.push_back(gate);
        return gateIds[gate] = static_cast<uint32_t>(gates.size() - 1);
    }
    void AddAnswer(double x, double y, const Response& response, const std::string& gate) {
        AnswerSpot& spot = answers[{static_cast<int32_t>(std::lround(x / kCell)),
                                    static_cast<int32_t>(std::lround(y / kCell))}];
        if (spot.count++ == 0) spot = {1, response.at, response.ms, GateId(gate)};
    }
};

std::string Attributes(const Row& row, uint64_t count) {
    return " data-st=\"" + Xml(row.stats.station) + "\" data-pc=\"" + Xml(row.stats.pc) +
           "\" data-n=\"" + std::to_string(count) + "\"";
}

void Fill(Row& row, const Transaction& txn, const Scale& scale) {
    const double markY = row.top + kMarkBand / 2;
    const std::string what = FormatStamp(txn.start) + " " + txn.service + " '" + txn.gate +
                             "' result " + std::to_string(txn.result) + ", " +
                             std::to_string(txn.attempts) + " attempts";
    if (txn.result != 0) {
        AddSpot(row.failures, scale.X(txn.start), markY, what);
    } else if (txn.attempts > 1) {
        AddSpot(row.retries, scale.X(txn.start), markY, what);
    }
    for (const Response& response : txn.responses) {
        row.AddAnswer(scale.X(response.at), row.Y(response.ms), response, txn.gate);
    }
}

void DrawRowFrame(std::string& svg, const Row& row) {
    const double bottom = row.top + kRowHeight;
    svg += "<rect x=\"" + Number(kLeft) + "\" y=\"" + Number(row.PlotTop()) + "\" width=\"" +
           Number(kPlotWidth) + "\" height=\"" + Number(kRowHeight - kMarkBand) +
           "\" fill=\"#f7f7f7\" stroke=\"#bbb\"/>\n";
    for (const double share : {0.5, 1.0}) {
        const double y = row.Y(row.yMax * share);
        svg += "<line x1=\"" + Number(kLeft) + "\" y1=\"" + Number(y) + "\" x2=\"" +
               Number(kWidth - kRight) + "\" y2=\"" + Number(y) +
               "\" stroke=\"#ddd\" stroke-dasharray=\"3,3\"/>\n";
        svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(y + 4) +
               "\" text-anchor=\"end\" font-size=\"11\">" + Milliseconds(row.yMax * share) +
               "</text>\n";
    }
    svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(bottom) +
           "\" text-anchor=\"end\" font-size=\"11\">0</text>\n";
    const StationStats& s = row.stats;
    const std::string lines[] = {
        "station " + s.station + ", PC " + s.pc,
        std::to_string(s.transactions) + " txns, " + std::to_string(s.failed) + " failed",
        s.answers.Empty() ? std::string("no answers")
                          : "p95 " + Number(s.answers.Percentile(0.95)) + " ms",
    };
    for (std::size_t i = 0; i < std::size(lines); ++i) {
        svg += "<text x=\"8\" y=\"" + Number(row.PlotTop() + 34 + 16 * i) + "\" font-size=\"" +
               (i == 0 ? "13\" font-weight=\"bold" : "11") + "\">" + Xml(lines[i]) + "</text>\n";
    }
}

void DrawMarks(std::string& svg, const Row& row) {
    for (const auto& [at, spot] : row.answers) {
        const std::string title = FormatStamp(spot.at).substr(11, 12) + "  " + Number(spot.ms) +
                                  " ms  '" + row.gates[spot.gate] + "'";
        svg += "<circle class=\"rt\"" + Attributes(row, spot.count) + " cx=\"" +
               std::to_string(std::lround(at.first * kCell)) + "\" cy=\"" +
               std::to_string(std::lround(at.second * kCell)) + "\" r=\"2.5\" fill=\"" +
               kAnswerColour + "\"><title>" + Xml(title) + "</title></circle>\n";
    }
    for (const auto& [at, spot] : row.retries) {
        const long x = at.first, y = at.second;
        svg += "<path class=\"retry\"" + Attributes(row, spot.count) + " d=\"M" +
               std::to_string(x) + " " + std::to_string(y - 5) + " L" + std::to_string(x + 5) +
               " " + std::to_string(y + 4) + " L" + std::to_string(x - 5) + " " +
               std::to_string(y + 4) + " Z\" fill=\"" + kRetryColour + "\"><title>" +
               Xml(spot.title) + "</title></path>\n";
    }
    for (const auto& [at, spot] : row.failures) {
        const long x = at.first, y = at.second;
        svg += "<path class=\"fail\"" + Attributes(row, spot.count) + " d=\"M" +
               std::to_string(x - 5) + " " + std::to_string(y - 5) + " L" + std::to_string(x + 5) +
               " " + std::to_string(y + 5) + " M" + std::to_string(x - 5) + " " +
               std::to_string(y + 5) + " L" + std::to_string(x + 5) + " " + std::to_string(y - 5) +
               "\" stroke=\"" + kFailColour + "\" stroke-width=\"2.5\"><title>" + Xml(spot.title) +
               "</title></path>\n";
    }
}

void DrawTimeAxis(std::string& svg, const Scale& scale, double top, double bottom) {
    const Micros span = scale.to - scale.from;
    const Micros step = TickStep(span);
    const Micros first = (scale.from / step + (scale.from % step > 0 ? 1 : 0)) * step;
    for (Micros at = first; at <= scale.to; at += step) {
        const double x = scale.X(at);
        svg += "<line x1=\"" + Number(x) + "\" y1=\"" + Number(top) + "\" x2=\"" + Number(x) +
               "\" y2=\"" + Number(bottom + 4) + "\" stroke=\"#e3e3e3\"/>\n";
        svg += "<text x=\"" + Number(x) + "\" y=\"" + Number(bottom + 18) +
               "\" text-anchor=\"middle\" font-size=\"11\">" + TickLabel(at, step, span) +
               "</text>\n";
    }
    svg += "<text x=\"" + Number(kLeft + kPlotWidth / 2) + "\" y=\"" + Number(bottom + 36) +
           "\" text-anchor=\"middle\" font-size=\"12\">time (UTC)</text>\n";
}

void DrawHeading(std::string& svg, const Scale& scale, uint64_t transactions, uint64_t failed) {
    svg += "<text x=\"8\" y=\"22\" font-size=\"15\" font-weight=\"bold\">JYNMB trace: " +
           std::to_string(transactions) + " transactions, " + std::to_string(failed) + " failed, " +
           FormatStamp(scale.from).substr(0, 19) + " to " + FormatStamp(scale.to).substr(0, 19) +
           " UTC</text>\n";
    svg +=
        "<text x=\"8\" y=\"44\" font-size=\"12\">answer time of each request (first byte of "
        "the reply less the request's last byte), per station</text>\n";
    const double y = 44;
    double x = kWidth - 330;
    svg += "<circle cx=\"" + Number(x) + "\" cy=\"" + Number(y - 4) + "\" r=\"3\" fill=\"" +
           kAnswerColour + "\"/><text x=\"" + Number(x + 8) + "\" y=\"" + Number(y) +
           "\" font-size=\"12\">answer</text>\n";
    x += 80;
    svg += "<path d=\"M" + Number(x - 4) + " " + Number(y - 8) + " L" + Number(x + 4) + " " +
           Number(y) + " M" + Number(x - 4) + " " + Number(y) + " L" + Number(x + 4) + " " +
           Number(y - 8) + "\" stroke=\"" + kFailColour + "\" stroke-width=\"2.5\"/><text x=\"" +
           Number(x + 10) + "\" y=\"" + Number(y) + "\" font-size=\"12\">failed</text>\n";
    x += 80;
    svg += "<path d=\"M" + Number(x) + " " + Number(y - 9) + " L" + Number(x + 5) + " " +
           Number(y) + " L" + Number(x - 5) + " " + Number(y) + " Z\" fill=\"" + kRetryColour +
           "\"/><text x=\"" + Number(x + 10) + "\" y=\"" + Number(y) +
           "\" font-size=\"12\">good after a retry</text>\n";
}

std::string DocumentStart(double height) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           Number(kWidth) + "\" height=\"" + Number(height) + "\" viewBox=\"0 0 " + Number(kWidth) +
           " " + Number(height) +
           "\" font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" "
           "fill=\"white\"/>\n";
}

const char kDocumentEnd[] = "</svg>\n";

}  // namespace

std::string Picture(const Tally& tally, const Replay& replay) {
    if (tally.Selected() == 0) {
        return DocumentStart(60) +
               "<text x=\"8\" y=\"34\" font-size=\"15\">JYNMB trace: no transactions</text>\n" +
               kDocumentEnd;
    }
    const Scale scale = TimeScale(tally);
    std::vector<Row> rows;
    std::map<std::pair<std::string, std::string>, std::size_t> rowOf;
    for (StationStats& stats : tally.Stations()) {
        Row row;
        row.top = kTop + static_cast<double>(rows.size()) * (kRowHeight + kRowGap);
        row.yMax = NiceCeiling(stats.answers.Empty() ? 1 : stats.answers.MaxMs());
        rowOf[{stats.station, stats.pc}] = rows.size();
        row.stats = std::move(stats);
        rows.push_back(std::move(row));
    }
    const bool replayed = replay([&](Transaction& txn) {
        const auto at = rowOf.find({txn.station, txn.pc});
        if (at != rowOf.end()) Fill(rows[at->second], txn, scale);
    });
    if (!replayed) return std::string();
    const double bottom = rows.back().top + kRowHeight;
    std::string svg = DocumentStart(bottom + kBottom);
    DrawHeading(svg, scale, tally.Selected(), tally.Failed());
    for (const Row& row : rows) DrawRowFrame(svg, row);
    DrawTimeAxis(svg, scale, kTop, bottom);
    for (const Row& row : rows) DrawMarks(svg, row);
    svg += kDocumentEnd;
    return svg;
}

std::string Picture(const std::vector<const Transaction*>& transactions) {
    Tally tally;
    for (const Transaction* txn : transactions) tally.Add(*txn);
    return Picture(tally, [&transactions](const TransactionSink& sink) {
        for (const Transaction* txn : transactions) {
            Transaction copy = *txn;
            sink(copy);
        }
        return true;
    });
}

}  // namespace jynmb::trace
