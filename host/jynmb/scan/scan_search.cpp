#include "host/jynmb/scan/scan_search.h"

#include <algorithm>
#include <cstdlib>

namespace jynmb {

namespace {

// NAK codes and their texts in the driver's log.
struct NakName {
    int code;
    const char* text;
};
const NakName kNakNames[] = {
    {0x00, "Disable during RUN"},   {0x01, "Parity error"},
    {0x02, "Sum Check error"},      {0x03, "Protocol error"},
    {0x04, "Framing error"},        {0x05, "Overrun error"},
    {0x06, "Character area error"}, {0x07, "Character error"},
    {0x08, "PC access error"},      {0x09, "error 09h"},
    {0x10, "PC number error"},      {0x11, "Mode error"},
};
const char kNakMark[] = "NAK received, ";
const char kRetryMark[] = ", retry ";
const char kLengthMark[] = "(len=";
const char kOtherNak[] = " error nr. ";
constexpr int kAcpuRefusal = 0x06;  // an ACPU's answer to the extended commands

// What the station heard of the request garbled: the driver retries these.
bool LineErrorNak(int code) { return code < 0 || code == 1 || code == 2 || code == 4 || code == 5; }

// Messages that only a reply of bytes (no NAK) can cause: framing, length,
// sum check, the settle after them.
bool SaysBytesCame(const std::string& text) {
    for (const char* mark : {"illegal", "Sum Check", "missing chars", "line settled", "'STX'"}) {
        if (text.find(mark) != std::string::npos) return true;
    }
    return false;
}

bool Contains(const std::vector<unsigned>& list, unsigned value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

int NakCodeOfText(const std::string& text) {
    for (const NakName& name : kNakNames) {
        if (text == name.text) return name.code;
    }
    if (text.compare(0, sizeof kOtherNak - 1, kOtherNak) == 0) {
        char* end = nullptr;
        const unsigned long code = std::strtoul(text.c_str() + sizeof kOtherNak - 1, &end, 10);
        if (end != text.c_str() + sizeof kOtherNak - 1 && *end == '\0' && code <= 0xFF)
            return static_cast<int>(code);
    }
    return -1;
}

ProbeResult ClassifyRead(int32_t result, const std::vector<DriverMessage>& messages) {
    ProbeResult probe;
    bool nak = false;
    bool bytes = false;
    for (const DriverMessage& message : messages) {
        const std::string& text = message.text;
        const std::size_t at = text.find(kNakMark);
        const std::size_t length = text.find(kLengthMark);
        if (at != std::string::npos) {
            const std::size_t from = at + sizeof kNakMark - 1;
            probe.nakCode = NakCodeOfText(text.substr(from, text.rfind(kRetryMark) - from));
            nak = true;
        } else if (length != std::string::npos) {
            bytes = bytes ||
                    std::strtoul(text.c_str() + length + sizeof kLengthMark - 1, nullptr, 10) > 0;
        } else {
            bytes = bytes || SaysBytesCame(text);
        }
    }
    if (result == 0) {
        probe.heard = Heard::kAnswer;
    } else if (nak && !LineErrorNak(probe.nakCode)) {
        probe.heard = Heard::kNak;
    } else if (nak || bytes) {
        probe.heard = Heard::kNoise;
    }
    return probe;
}

namespace {

class Search {
public:
    Search(const ScanPlan& plan, ScanLine& line, ScanProgress& progress,
           const volatile std::sig_atomic_t& stop)
        : plan_(plan), line_(line), progress_(progress), stop_(stop) {}

    ScanOutcome Run() {
        for (std::size_t b = 0; b < plan_.bauds.size() && !out_.found && Going(); ++b) {
            AtBaud(b);
        }
        for (const unsigned station : noisy_) {
            const bool found =
                std::any_of(out_.stations.begin(), out_.stations.end(),
                            [&](const FoundStation& f) { return f.station == station; });
            if (!found) out_.noiseOnly.push_back(station);
        }
        for (FoundStation& station : out_.stations) AskFamily(station);
        out_.interrupted = stop_ != 0;
        return out_;
    }

private:
    bool Going() const { return stop_ == 0 && out_.error.empty(); }

    // The longest the rest can take if nothing more answers.
    double SecondsLeft(std::size_t b, const ScanFrame& frame, std::size_t stations) const {
        double seconds = static_cast<double>(stations) *
                         SilentReadSeconds(plan_.bauds[b], frame, plan_.timeoutUnits);
        for (std::size_t later = b + 1; later < plan_.bauds.size(); ++later) {
            seconds +=
                static_cast<double>(plan_.stations.size()) *
                SilentReadSeconds(plan_.bauds[later], plan_.frames.front(), plan_.timeoutUnits);
        }
        return seconds;
    }

    // Every station in the first frame; then only those that said bytes
    // that are no frame, in the next frames, until one answers.
    void AtBaud(std::size_t b) {
        std::vector<unsigned> candidates = plan_.stations;
        for (std::size_t f = 0; f < plan_.frames.size() && !candidates.empty() && Going(); ++f) {
            candidates = AtSetting(b, plan_.frames[f], candidates);
            if (out_.found) return;
        }
    }

    // The stations that said bytes that are no frame.
    std::vector<unsigned> AtSetting(std::size_t b, const ScanFrame& frame,
                                    const std::vector<unsigned>& stations) {
        const unsigned baud = plan_.bauds[b];
        const std::string name = SettingName(baud, frame);
        if (!line_.Set(baud, frame, out_.error)) return {};
        out_.tried.push_back(name);
        progress_.Trying(name, stations.size(), SecondsLeft(b, frame, stations.size()));
        std::vector<unsigned> noisy;
        for (const unsigned station : stations) {
            if (!Going()) break;
            const ProbeResult probe = line_.Probe(station, false);
            if (probe.heard != Heard::kSilence) progress_.Heard(name, station, probe);
            if (probe.heard == Heard::kNoise) {
                noisy.push_back(station);
                if (!Contains(noisy_, station)) noisy_.push_back(station);
            } else if (probe.heard != Heard::kSilence) {
                out_.found = true;
                out_.baud = baud;
                out_.frame = frame;
                out_.stations.push_back({station, probe, {}, std::string()});
            }
        }
        return noisy;
    }

    void AskFamily(FoundStation& station) {
        if (!Going()) {
            station.cpu = "not asked";
            return;
        }
        station.family = line_.Probe(station.station, true);
        const ProbeResult& family = station.family;
        if (family.heard == Heard::kAnswer) {
            station.cpu = "AnACPU";
        } else if ((family.heard == Heard::kNak && family.nakCode == kAcpuRefusal) ||
                   family.heard == Heard::kSilence) {
            station.cpu = "ACPU";
        } else {
            station.cpu = "unknown";
        }
    }

    const ScanPlan& plan_;
    ScanLine& line_;
    ScanProgress& progress_;
    const volatile std::sig_atomic_t& stop_;
    ScanOutcome out_;
    std::vector<unsigned> noisy_;
};

}  // namespace

ScanOutcome RunScan(const ScanPlan& plan, ScanLine& line, ScanProgress& progress,
                    const volatile std::sig_atomic_t& stop) {
    return Search(plan, line, progress, stop).Run();
}

}  // namespace jynmb
