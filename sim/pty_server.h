#pragma once
// The simulator on a pseudo-terminal: the driver opens the slave side as its
// serial port, the simulator serves the master side from its own thread.
// POSIX only.

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "sim/line_settings.h"
#include "sim/simulator.h"

namespace jynsim {

struct PtyOptions {
    // A symlink to the slave (e.g. a stable name for the driver's port);
    // a symlink left by a simulator that is gone (its target with it) is
    // replaced, anything else there is refused; removed at Stop.
    std::string link_path;
};

class PtyServer {
public:
    explicit PtyServer(Simulator& simulator) : simulator_(simulator) {}
    ~PtyServer() { Stop(); }
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens the pseudo-terminal and returns once the serving thread runs;
    // false with `error` set when it cannot.
    bool Start(const PtyOptions& options, std::string& error);
    // Before Start: the stations' line settings. A host set otherwise is
    // not heard (another baud rate) or hears garbage (another frame);
    // without this call a host set any way is answered. `host_format_file`
    // is the test shim's file with the data bits and parity the host asked
    // for (empty: those are not checked).
    void CheckLine(const SerialFormat& line, const std::string& host_format_file) {
        line_ = line;
        host_format_file_ = host_format_file;
    }
    // Stops the thread promptly and closes everything; safe to call twice.
    void Stop();
    bool Running() const { return thread_.joinable(); }
    // "/dev/pts/N", valid after Start.
    const std::string& SlavePath() const { return slave_path_; }
    const std::string& LinkPath() const { return link_path_; }

private:
    bool OpenPty(std::string& error);
    bool MakeLink(const std::string& path, std::string& error);
    void Serve();
    bool ReadFromHost(Micros now);
    void WriteToHost();
    // How the stations hear the host as its port is set now.
    LineMatch HostMatch();
    void Note(Micros now, const std::string& text);
    Micros Now() const;
    void CloseAll();

    Simulator& simulator_;
    int master_ = -1;
    int slave_keep_ = -1;  // keeps the line up while the driver closes and reopens it
    int wake_[2] = {-1, -1};
    std::string slave_path_;
    std::string link_path_;
    std::string unsent_;
    std::optional<SerialFormat> line_;
    std::string host_format_file_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::chrono::steady_clock::time_point epoch_;
};

// A simulated line on a pseudo-terminal, for tests and tools: one object
// that owns the simulator and its server.
class SimulatedLine {
public:
    explicit SimulatedLine(LineConfig config)
        : simulator_(std::move(config)), server_(simulator_) {}
    bool Start(std::string& error, const PtyOptions& options = {}) {
        return server_.Start(options, error);
    }
    void CheckLine(const SerialFormat& line, const std::string& host_format_file = "") {
        server_.CheckLine(line, host_format_file);
    }
    void Stop() { server_.Stop(); }
    Simulator& Sim() { return simulator_; }
    // The name to give the driver as its port.
    const std::string& Port() const { return server_.SlavePath(); }

private:
    Simulator simulator_;
    PtyServer server_;
};

}  // namespace jynsim
