// The driver as the harness's programs host it: the library loaded at run
// time as a host application loads it (its own, or one several instances
// share, as on a host with several lines), one instance with its number and
// a context of the size GetJynInfo asks for, every service reached through
// JynMain with host records. The driver's messages come back through
// TAVORN's handler and are kept for the run's report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/client/driver_instance.h"
#include "host/client/driver_library.h"
#include "host/client/driver_messages.h"
#include "interface/host_abi.h"

namespace jynharness {

struct Gate;

// A host need not clear the context; the driver must not count on zeros.
inline constexpr unsigned char kUncleared = 0xA5;

struct HostSettings {
    uint32_t instance = 1;  // names the station file JYNMB<n>.INT
    unsigned char contextFill = kUncleared;
    // Messages kept since the last Take; 0: this host takes over no message
    // route (a program with several instances sorts them itself).
    std::size_t keptMessages = 40;
    // EndJyn of another instance ends this one too, and its context must
    // outlive this object: kept until the process ends.
    bool keepContextUntilExit = false;
};

// The driver's 16-bit baud field for a simulated line: the pseudo-terminal
// has no speed, the simulator paces. The fastest rate the driver sets that
// is not above the line's; the fastest of all for an unpaced line.
uint16_t DriverBaudFor(uint32_t lineBaud);

class DriverHost {
public:
    // With a library of its own.
    explicit DriverHost(const HostSettings& settings = HostSettings());
    // On a library another owner loaded, shared with other instances.
    DriverHost(const jynhost::DriverLibrary& shared, const HostSettings& settings);
    ~DriverHost();
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    // Loads `path` (empty: the driver beside this program) into its own
    // library, letting go of the one loaded before, and allocates the
    // context. False with `error` when either fails.
    bool Load(const std::string& path, std::string& error);
    // The context only, on a shared library.
    bool Allocate(std::string& error) { return instance_->AllocateContext(error, fill_); }
    void Unload();
    const std::string& Path() const { return library_->Path(); }

    int32_t Call(uint32_t function, void* params = nullptr) {
        return instance_->Call(function, params);
    }
    // ColdStart on `port` ("pts/N"), opened at once.
    int32_t ColdStart(const std::string& port, uint32_t timeoutUnits, uint16_t baud = 9600);
    // The gate's address through the driver's parser, as a host configures
    // it: a block of `block` points, 0 a single gate. Its GateAddress is the
    // driver's from then on.
    bool Configure(Gate& gate, int32_t block, std::string& error);
    // SingleRead, BlockRead, SingleWrite or BlockWrite of the configured gate
    // (a block of `block` points, 0 a single gate) with the host's buffer.
    int32_t Transfer(const Gate& gate, int32_t block, bool write, unsigned char* values);
    // EndJyn ends the library for the whole process: once, after a ColdStart.
    void End();
    uint32_t Instance() const { return number_; }
    const jyn::DriverContext& Context() const { return *instance_->Context(); }

    // What the driver said since the last Take: the first `keptMessages` of
    // them, and how many all told.
    // Nothing when this host keeps no messages of its own.
    std::vector<jynhost::DriverMessage> Take() { return route_ ? route_->Take() : Messages(); }
    std::size_t Count() const { return route_ ? route_->Count() : 0; }
    bool KeepsMessages() const { return route_ != nullptr; }

private:
    using Messages = std::vector<jynhost::DriverMessage>;

    std::unique_ptr<jynhost::DriverLibrary> own_;
    const jynhost::DriverLibrary* library_;
    const uint32_t number_;
    const unsigned char fill_;
    const bool keep_;
    std::unique_ptr<jynhost::MessageRoute> route_;
    std::unique_ptr<jynhost::DriverInstance> instance_;
    bool started_ = false;
};

}  // namespace jynharness
