#include "tests/support/fake_device.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace jyn::testing {

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string ToText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

namespace {
std::unique_ptr<FakeDevice> g_fake;
}

FakeDevice& Fake() {
    if (!g_fake) g_fake = std::make_unique<FakeDevice>();
    return *g_fake;
}

void ResetFake() { g_fake = std::make_unique<FakeDevice>(); }

void FakeDevice::Arrive(const Bytes& bytes, uint32_t afterMs) {
    const uint64_t at = nowMs_ + afterMs;
    auto where = std::find_if(pending_.begin(), pending_.end(),
                              [at](const Burst& burst) { return burst.atMs > at; });
    pending_.insert(where, Burst{at, bytes});
    Deliver();
}

std::size_t FakeDevice::Pending() const {
    std::size_t count = arrived_.size();
    for (const Burst& burst : pending_) count += burst.bytes.size();
    return count;
}

void FakeDevice::Deliver() {
    while (!pending_.empty() && pending_.front().atMs <= nowMs_) {
        arrived_.insert(arrived_.end(), pending_.front().bytes.begin(),
                        pending_.front().bytes.end());
        pending_.pop_front();
    }
}

bool FakeDevice::Known(device::Handle handle) const {
    return std::any_of(openNames_.begin(), openNames_.end(),
                       [handle](const auto& entry) { return entry.first == handle; });
}

bool FakeDevice::Open(const char* name, device::Handle& out) {
    out = nullptr;
    calls.push_back({"Open", 0, 0});
    if (missingNames.count(name) != 0) return false;
    for (const auto& entry : openNames_) {
        if (entry.second == name) return false;  // held exclusively
    }
    out = reinterpret_cast<device::Handle>(nextHandle_++);
    openNames_.emplace_back(out, name);
    opened.emplace_back(name);
    settings = initialSettings;
    timeouts = initialTimeouts;
    return true;
}

bool FakeDevice::Close(device::Handle handle) {
    calls.push_back({"Close", 0, 0});
    if (failClose || !Known(handle)) return false;
    openNames_.erase(std::remove_if(openNames_.begin(), openNames_.end(),
                                    [handle](const auto& entry) { return entry.first == handle; }),
                     openNames_.end());
    closed.push_back(handle);
    return true;
}

void FakeDevice::Abandon(device::Handle handle) {
    calls.push_back({"Abandon", 0, 0});
    openNames_.erase(std::remove_if(openNames_.begin(), openNames_.end(),
                                    [handle](const auto& entry) { return entry.first == handle; }),
                     openNames_.end());
}

bool FakeDevice::GetLineSettings(device::Handle handle, device::LineSettings& out) {
    calls.push_back({"GetLineSettings", 0, 0});
    if (failGetSettings || !Known(handle)) return false;
    out = settings;
    return true;
}

bool FakeDevice::SetLineSettings(device::Handle handle, const device::LineSettings& in) {
    calls.push_back({"SetLineSettings", 0, 0});
    if (failSetSettings || !Known(handle)) return false;
    settings = in;
    settingsWritten = true;
    return true;
}

bool FakeDevice::GetTimeouts(device::Handle handle, device::Timeouts& out) {
    calls.push_back({"GetTimeouts", 0, 0});
    if (failGetTimeouts || !Known(handle)) return false;
    out = timeouts;
    return true;
}

bool FakeDevice::SetTimeouts(device::Handle handle, const device::Timeouts& in) {
    calls.push_back({"SetTimeouts", in.readTotalConstant, 0});
    if (failSetTimeouts || !Known(handle)) return false;
    timeouts = in;
    ++setTimeoutsCalls;
    return true;
}

bool FakeDevice::ClearErrors(device::Handle handle, uint32_t& queued) {
    calls.push_back({"ClearErrors", 0, 0});
    queued = 0;
    if (failClearErrors || !Known(handle)) return false;
    Deliver();
    queued = static_cast<uint32_t>(arrived_.size());
    return true;
}

bool FakeDevice::Read(device::Handle handle, void* buffer, uint32_t count, uint32_t& got) {
    got = 0;
    if (failRead || !Known(handle)) {
        calls.push_back({"Read", count, 0});
        return false;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    const uint64_t deadline = nowMs_ + timeouts.readTotalConstant;
    for (;;) {
        Deliver();
        while (got < count && !arrived_.empty()) {
            bytes[got++] = arrived_.front();
            arrived_.pop_front();
        }
        if (got == count) break;
        if (pending_.empty() || pending_.front().atMs > deadline) {
            nowMs_ = deadline;  // the time-out passes with what has come
            break;
        }
        nowMs_ = pending_.front().atMs;
    }
    calls.push_back({"Read", count, got});
    return true;
}

bool FakeDevice::Write(device::Handle handle, const void* buffer, uint32_t count, uint32_t& done) {
    done = 0;
    const bool refuse = failWrite || failWriteAfter == 0 || !Known(handle);
    if (failWriteAfter > 0) --failWriteAfter;
    if (refuse) {
        calls.push_back({"Write", count, 0});
        return false;
    }
    done = writeLimit >= 0 ? std::min<uint32_t>(count, static_cast<uint32_t>(writeLimit)) : count;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    written.emplace_back(bytes, bytes + done);
    calls.push_back({"Write", count, done});
    if (onWrite) onWrite(*this, written.back());
    return true;
}

unsigned FakeDevice::HandleNumber(device::Handle handle) const {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle));
}

}  // namespace jyn::testing

// The device calls of the driver, answered by the fake.
namespace jyn::device {

using jyn::testing::Fake;

bool Open(const char* name, Handle& out) { return Fake().Open(name, out); }
bool Close(Handle handle) { return Fake().Close(handle); }
void Abandon(Handle handle) { Fake().Abandon(handle); }
bool GetLineSettings(Handle handle, LineSettings& s) { return Fake().GetLineSettings(handle, s); }
bool SetLineSettings(Handle handle, const LineSettings& s) {
    return Fake().SetLineSettings(handle, s);
}
bool GetTimeouts(Handle handle, Timeouts& t) { return Fake().GetTimeouts(handle, t); }
bool SetTimeouts(Handle handle, const Timeouts& t) { return Fake().SetTimeouts(handle, t); }
bool SetupQueues(Handle handle, uint32_t inputSize, uint32_t outputSize) {
    Fake().calls.push_back({"SetupQueues", inputSize, outputSize});
    return handle != nullptr;
}
bool ClearErrors(Handle handle, uint32_t& queued) { return Fake().ClearErrors(handle, queued); }
bool Read(Handle handle, void* buffer, uint32_t count, uint32_t& got) {
    return Fake().Read(handle, buffer, count, got);
}
bool Write(Handle handle, const void* buffer, uint32_t count, uint32_t& written) {
    return Fake().Write(handle, buffer, count, written);
}
unsigned HandleNumber(Handle handle) { return Fake().HandleNumber(handle); }
uint64_t MonotonicMs() { return Fake().NowMs(); }

}  // namespace jyn::device
