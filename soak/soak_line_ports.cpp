// The host's port commands on one line while the other lines keep working:
// close, fail a read on the closed port, reopen; switch to the line's other
// pseudo-terminal; start the instance again on its open port.
#include <cstdio>

#include "host/client/records.h"
#include "soak/soak_line.h"

namespace jynsoak {

namespace {

constexpr std::size_t kSingleValueBytes = 4;  // a single word's value buffer

}  // namespace

void SoakLine::PortCommand(RunControl& control, Messages& messages) {
    bool done = false;
    const char* what = "";
    // The reopened port reads with the driver's own time-out of a second,
    // not the host's, until the next switch or start sets the host's again:
    // the close and reopen come last, so that a short run sees all three.
    switch (commands_++ % 3) {
        case 0:
            what = "ColdStart again on the open port";
            done = Restart(messages);
            break;
        case 1:
            what = "ChangeJynParams to the line's other port";
            done = SwitchPlant(messages);
            break;
        default:
            what = "CloseCom, a read on the closed port, ReOpenCom";
            done = CloseReadReopen(control, messages);
            break;
    }
    jynharness::Tally& figures = judge_.Figures();
    ++figures[jynharness::kPortCommands];
    if (done) return;
    ++figures[jynharness::kBadPortCommands];
    std::printf("--- line %d: %s went wrong\n", index_, what);
    for (const jynhost::DriverMessage& message : messages.Kept())
        std::printf("    [%d] %s\n", message.level, message.text.c_str());
}

// The messages of all three steps are kept, for the report if one fails.
bool SoakLine::CloseReadReopen(RunControl& control, Messages& messages) {
    messages.Take();
    const bool closed =
        Call(jyn::kCloseCom) == jyn::kOk && messages.Has("JYNMB> CloseCom() exited 0");
    const jynharness::Gate* gate = &gates_.front();
    for (const jynharness::Gate& g : gates_) {
        if (g.shape.kind == jynharness::Kind::kWord) gate = &g;
    }
    jynharness::Transaction t;
    t.gate = gate;
    jynharness::GuardedValues values(kSingleValueBytes, 0x3C);
    t.values = &values;
    t.sent.assign(values.Data(), values.Data() + values.Owned());
    Transfer(t, control);
    // Every attempt failed to send: the simulator's byte count cannot tell,
    // since the last transaction's confirmation may still be on its way.
    const bool failed = FailedAsTheDriver(t, messages.Kept()) &&
                        messages.Has("JYNMB> DoRead() Send req error retry 10") &&
                        !BufferDamaged(t);
    const bool reopened =
        Call(jyn::kReOpenCom) == jyn::kOk && messages.Has("JYNMB> ReOpenCom() exited 0");
    return closed && failed && reopened;
}

bool SoakLine::SwitchPlant(Messages& messages) {
    const std::size_t next = 1 - current_;
    jyn::PortChangeParams params =
        jynhost::MakePortChange(PortOf(plants_[next]), jynhost::kKeepReplyTimeout);
    messages.Take();
    const int32_t result = Call(jyn::kChangeJynParams, &params);
    if (result == jyn::kOk) current_ = next;
    return result == jyn::kOk && messages.Has("JYNMB> ChangeJynParams() exited 0");
}

// The start releases the instance's buffers and its trace and takes new
// ones; the station file is read again.
bool SoakLine::Restart(Messages& messages) {
    messages.Take();
    const bool started = host_.ColdStart(PortOf(plants_[current_]), TimeoutUnits(),
                                         DriverBaud(options_, Baud())) == jyn::kOk &&
                         messages.Has("JYNMB> ColdStart() exited, 0") && TableHolds();
    const bool traced = !Traced() || messages.Has("JYNMB> ColdStart() trace to 'line" +
                                                  std::to_string(index_) + ".trace'");
    return started && traced;
}

}  // namespace jynsoak
