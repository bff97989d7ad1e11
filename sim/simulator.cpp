#include "sim/simulator.h"

namespace jynsim {

Simulator::Simulator(LineConfig config) : engine_(std::move(config)) {}

void Simulator::Receive(std::string_view bytes, Micros now) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        engine_.Receive(bytes, now);
    }
    changed_.notify_all();
}

std::string Simulator::TakeOutput(Micros now) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.Advance(now);
    return engine_.TakeOutput(now);
}

std::optional<Micros> Simulator::NextEvent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.NextEvent();
}

// Runs `access` on the target's memory and device under the lock; the
// result type's empty value when either is unknown.
template <typename Self, typename Access>
auto Simulator::OnMemory(Self& self, Target target, std::string_view device, Access access) {
    std::lock_guard<std::mutex> lock(self.mutex_);
    auto* station = self.engine_.FindStation(target.station, target.pc);
    using Result = decltype(access(station->Memory(), DeviceRef{}));
    const auto ref = ParseDeviceName(device);
    if (station == nullptr || !ref) return Result{};
    return access(station->Memory(), *ref);
}

bool Simulator::SetBit(Target target, std::string_view device, bool on) {
    return OnMemory(*this, target, device, [on](auto& m, DeviceRef r) { return m.SetBit(r, on); });
}

std::optional<bool> Simulator::Bit(Target target, std::string_view device) const {
    return OnMemory(*this, target, device, [](auto& m, DeviceRef r) { return m.Bit(r); });
}

bool Simulator::SetWord(Target target, std::string_view device, std::uint16_t value) {
    return OnMemory(*this, target, device,
                    [value](auto& m, DeviceRef r) { return m.SetWord(r, value); });
}

std::optional<std::uint16_t> Simulator::Word(Target target, std::string_view device) const {
    return OnMemory(*this, target, device, [](auto& m, DeviceRef r) { return m.Word(r); });
}

bool Simulator::SetDword(Target target, std::string_view device, std::uint32_t value) {
    return OnMemory(*this, target, device,
                    [value](auto& m, DeviceRef r) { return m.SetDword(r, value); });
}

std::optional<std::uint32_t> Simulator::Dword(Target target, std::string_view device) const {
    return OnMemory(*this, target, device, [](auto& m, DeviceRef r) { return m.Dword(r); });
}

bool Simulator::SetText(Target target, std::string_view device, const std::string& text) {
    return OnMemory(*this, target, device,
                    [&text](auto& m, DeviceRef r) { return m.SetText(r, text); });
}

std::optional<std::string> Simulator::Text(Target target, std::string_view device,
                                           std::uint32_t words) const {
    return OnMemory(*this, target, device,
                    [words](auto& m, DeviceRef r) { return m.Text(r, words); });
}

void Simulator::SetNoise(const NoiseConfig& noise) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.SetNoise(noise);
}

void Simulator::AddFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.Faults().Add(fault);
}

void Simulator::SetRandomFaults(const RandomFaults& random) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.Faults().SetRandom(random);
}

std::size_t Simulator::PendingFaults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.Faults().Pending();
}

LineCounters Simulator::Counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.Counters();
}

std::vector<RequestRecord> Simulator::Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {engine_.Records().begin(), engine_.Records().end()};
}

std::vector<TrafficEntry> Simulator::Traffic() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.Log().Entries();
}

std::vector<std::string> Simulator::TrafficLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.Log().Lines();
}

void Simulator::ClearTraffic() {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.Log().Clear();
}

void Simulator::ClearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.ClearRecords();
}

void Simulator::SetTrafficFile(std::FILE* file) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.Log().SetFile(file);
}

LineTiming Simulator::Timing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.Config().timing;
}

bool Simulator::WaitUntil(const std::function<bool(const LineCounters&)>& done,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(engine_.Counters()); });
}

}  // namespace jynsim
