// A scripted serial line for unit tests, linked in place of the platform's
// device calls. Time on the line is virtual: a read that waits for bytes
// moves the clock to their arrival, a read that times out moves it by the
// total read time-out. Nothing in a test sleeps.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "serial/device.h"

namespace jyn::testing {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& text);
std::string ToText(const Bytes& bytes);

struct FakeCall {
    std::string what;  // "Read", "Write", "SetTimeouts", ...
    uint32_t asked = 0;
    uint32_t done = 0;
};

class FakeDevice {
public:
    // Settings and time-outs of the device before anyone configures it.
    device::LineSettings initialSettings;
    device::Timeouts initialTimeouts;

    // Failures to script.
    std::set<std::string> missingNames;  // these names do not open
    bool failGetSettings = false;
    bool failSetSettings = false;
    bool failGetTimeouts = false;
    bool failSetTimeouts = false;
    bool failClearErrors = false;
    bool failClose = false;
    bool failRead = false;
    bool failWrite = false;
    int failWriteAfter = -1;  // writes that succeed before writes fail
    int64_t writeLimit = -1;  // a write sends at most this many bytes

    // What the driver did.
    std::vector<std::string> opened;  // names, in order
    std::vector<device::Handle> closed;
    device::LineSettings settings;  // last SetLineSettings
    bool settingsWritten = false;
    device::Timeouts timeouts;  // current time-outs of the open port
    int setTimeoutsCalls = 0;
    std::vector<Bytes> written;  // each Write's bytes
    std::vector<FakeCall> calls;

    // Called after every successful write with the bytes written; a test
    // answers requests from here (see Reply).
    std::function<void(FakeDevice&, const Bytes&)> onWrite;

    // Bytes that arrive `afterMs` from now on the virtual clock.
    void Arrive(const Bytes& bytes, uint32_t afterMs = 0);
    void Arrive(const std::string& text, uint32_t afterMs = 0) { Arrive(ToBytes(text), afterMs); }

    uint64_t NowMs() const { return nowMs_; }
    // Time passes with nothing on the line (a host's scan elsewhere).
    void AdvanceMs(uint64_t ms) {
        nowMs_ += ms;
        Deliver();
    }
    std::size_t OpenCount() const { return openNames_.size(); }
    std::size_t Pending() const;  // bytes not yet read, arrived or not
    // When the last byte scheduled so far arrives (now when none is): a
    // station answering in order answers a new request after it.
    uint64_t LastArrivalMs() const {
        uint64_t last = nowMs_;
        for (const Burst& burst : pending_) last = burst.atMs > last ? burst.atMs : last;
        return last;
    }

    // Every call of the device layer goes here.
    bool Open(const char* name, device::Handle& out);
    bool Close(device::Handle handle);
    void Abandon(device::Handle handle);
    bool GetLineSettings(device::Handle handle, device::LineSettings& out);
    bool SetLineSettings(device::Handle handle, const device::LineSettings& in);
    bool GetTimeouts(device::Handle handle, device::Timeouts& out);
    bool SetTimeouts(device::Handle handle, const device::Timeouts& in);
    bool ClearErrors(device::Handle handle, uint32_t& queued);
    bool Read(device::Handle handle, void* buffer, uint32_t count, uint32_t& got);
    bool Write(device::Handle handle, const void* buffer, uint32_t count, uint32_t& written);
    unsigned HandleNumber(device::Handle handle) const;

private:
    struct Burst {
        uint64_t atMs;
        Bytes bytes;
    };
    bool Known(device::Handle handle) const;
    void Deliver();

    uint64_t nowMs_ = 0;
    std::deque<uint8_t> arrived_;
    std::deque<Burst> pending_;
    std::vector<std::pair<device::Handle, std::string>> openNames_;
    uintptr_t nextHandle_ = 0x40;
};

// The fake behind the device calls; Reset gives a fresh one.
FakeDevice& Fake();
void ResetFake();

}  // namespace jyn::testing
