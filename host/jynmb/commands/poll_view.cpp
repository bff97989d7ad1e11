#include "host/jynmb/commands/poll_view.h"

#include <algorithm>
#include <cstdio>

#include "host/jynmb/commands/gate_output.h"
#include "host/jynmb/commands/messages.h"
#include "host/jynmb/values/value_text.h"

namespace jynmb {

namespace {

std::size_t NameWidth(const std::vector<PolledGate>& gates) {
    std::size_t width = 4;
    for (const PolledGate& gate : gates) {
        width = std::max(width, GateName(gate.outcome.arg).size());
    }
    return width;
}

std::string ValueText(const GateOutcome& gate) {
    if (gate.parseResult != jyn::kOk || gate.result != jyn::kOk) return std::string();
    const ValueKind kind = KindOf(gate.arg, gate.address);
    return gate.arg.IsBlock() ? CompactValue(kind, gate.value) : FormatValue(kind, gate.value);
}

const char* KindText(const GateOutcome& gate) {
    return gate.parseResult == jyn::kOk ? KindName(KindOf(gate.arg, gate.address)) : "-";
}

// Every driver message starts so; a narrow column is better spent on the rest.
std::string WithoutPrefix(const std::string& message) {
    static const char kPrefix[] = "JYNMB> ";
    return message.compare(0, sizeof kPrefix - 1, kPrefix) == 0 ? message.substr(sizeof kPrefix - 1)
                                                                : message;
}

// A table redrawn in place: the cursor goes back up over the lines drawn
// last time. Lines are cut to the terminal's width, since a wrapped line
// would throw the count off.
class TableView : public PollView {
public:
    explicit TableView(int columns) : columns_(static_cast<std::size_t>(std::max(columns, 20))) {}

    void Start(const std::vector<PolledGate>& gates, const PollStatus& status) override {
        Draw(gates, status, "starting");
    }
    void GateStarting(const std::vector<PolledGate>& gates, std::size_t index,
                      const PollStatus& status) override {
        Draw(gates, status,
             "round " + std::to_string(status.round) + ": reading " +
                 GateName(gates[index].outcome.arg));
    }
    void GateDone(const std::vector<PolledGate>& gates, std::size_t index,
                  const PollStatus& status) override {
        Draw(gates, status,
             "round " + std::to_string(status.round) + ": " + GateName(gates[index].outcome.arg) +
                 " read");
    }
    void Finish(const std::vector<PolledGate>& gates, const PollStatus& status) override {
        Draw(gates, status, status.interrupted ? "stopped by Ctrl-C" : "done");
    }
    // The notice takes the place of the status line, the last one drawn, so
    // the next drawing still finds the top of the table where it left it.
    bool NoticeOnStdout() const override { return true; }
    std::string NoticePrefix() const override { return "\x1b[1A\r\x1b[K"; }
    std::string NoticeSuffix() const override { return "\n"; }

private:
    void Line(std::string text) {
        if (text.size() >= columns_) text.resize(columns_ - 1);
        std::printf("\r\x1b[K%s\n", text.c_str());
        ++drawn_;
    }
    void Heading(const PollStatus& status) {
        std::string text = "jynmb poll  " + status.port + "  round " + std::to_string(status.round);
        if (status.count != 0) text += " of " + std::to_string(status.count);
        text += "  every " + std::to_string(status.interval) + " ms";
        if (status.count == 0) text += "  (Ctrl-C stops)";
        Line(text);
    }
    void Draw(const std::vector<PolledGate>& gates, const PollStatus& status,
              const std::string& doing) {
        if (drawn_ > 0) std::printf("\x1b[%luA", static_cast<unsigned long>(drawn_));
        drawn_ = 0;
        Heading(status);
        const int name = static_cast<int>(NameWidth(gates));
        int value = 14;
        for (const PolledGate& gate : gates) {
            value = std::max(value, static_cast<int>(StatusText(gate.outcome).size()));
        }
        char text[512];
        std::snprintf(text, sizeof text, "%-*s  %-6s  %-*s  %8s %8s  %s", name, "gate", "kind",
                      value, "value / status", "good", "failed", "last error");
        Line(text);
        for (const PolledGate& gate : gates) {
            const GateOutcome& o = gate.outcome;
            std::snprintf(text, sizeof text, "%-*s  %-6s  %-*s  %8llu %8llu  ", name,
                          GateName(o.arg).c_str(), KindText(o), value, StatusText(o).c_str(),
                          static_cast<unsigned long long>(gate.good),
                          static_cast<unsigned long long>(gate.failed));
            Line(text + WithoutPrefix(gate.lastError));
        }
        Line(LocalTimeStamp(false) + "  " + doing);
        std::fflush(stdout);
    }

    std::size_t columns_;
    std::size_t drawn_ = 0;
};

class PlainView : public PollView {
public:
    void GateDone(const std::vector<PolledGate>& gates, std::size_t index,
                  const PollStatus& status) override {
        const GateOutcome& gate = gates[index].outcome;
        const bool ok = gate.parseResult == jyn::kOk && gate.result == jyn::kOk;
        std::printf("%s  %lu  %-*s  %-11s  %s\n", LocalTimeStamp(true).c_str(), status.round,
                    static_cast<int>(NameWidth(gates)), GateName(gate.arg).c_str(),
                    ok ? "ok" : StatusText(gate).c_str(),
                    ok                         ? ValueText(gate).c_str()
                    : gate.lastMessage.empty() ? "(no message from the driver)"
                                               : gate.lastMessage.c_str());
        std::fflush(stdout);
    }
    void Finish(const std::vector<PolledGate>&, const PollStatus&) override {}
};

class JsonView : public PollView {
public:
    void GateDone(const std::vector<PolledGate>& gates, std::size_t index,
                  const PollStatus& status) override {
        std::printf("{\"time\": \"%s\", \"round\": %lu, %s}\n", LocalTimeStamp(true).c_str(),
                    status.round, GateJsonFields(gates[index].outcome).c_str());
        std::fflush(stdout);
    }
    void Finish(const std::vector<PolledGate>&, const PollStatus&) override {}
};

}  // namespace

std::string StatusText(const GateOutcome& gate) {
    if (gate.parseResult != jyn::kOk) return "refused (" + std::to_string(gate.parseResult) + ")";
    if (gate.result < 0) return "waiting";
    if (gate.result != jyn::kOk) return "failed (" + std::to_string(gate.result) + ")";
    return ValueText(gate);
}

std::unique_ptr<PollView> MakeTableView(int columns) {
    return std::make_unique<TableView>(columns);
}

std::unique_ptr<PollView> MakePlainView() { return std::make_unique<PlainView>(); }

std::unique_ptr<PollView> MakeJsonView() { return std::make_unique<JsonView>(); }

}  // namespace jynmb
