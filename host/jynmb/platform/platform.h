// What jynmb needs from the operating system beyond the driver: the PLC
// simulator on a pseudo-terminal (POSIX only), the terminal that poll draws
// on, and port names. One file per platform implements it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "sim/engine.h"

namespace jynsim {
class Simulator;
}

namespace jynmb {

// A simulated plant the driver can open as its serial port.
class PlantLine {
public:
    virtual ~PlantLine() = default;
    virtual jynsim::Simulator& Sim() = 0;
    // The device as the system names it ("/dev/pts/3").
    virtual const std::string& DevicePath() const = 0;
    // The same device as the driver is given it: at most 11 characters.
    virtual std::string PortName() const = 0;
};

// Starts the simulator on a pseudo-terminal and returns once it serves;
// null with `error` where the platform has none (Windows).
std::unique_ptr<PlantLine> StartPlantLine(const jynsim::LineConfig& config, std::string& error);

// A port name as a person types it, made to fit the driver's 11 characters
// where the platform has a shorter name for the same device
// ("/dev/pts/12" is "pts/12" to the driver on Linux).
std::string PortNameForDriver(const std::string& name);

// Whether standard output is a terminal that takes ANSI cursor movement.
bool StdoutIsTerminal();
// Its size in characters (80 by 24 when it cannot be asked).
struct TerminalSize {
    int columns = 80;
    int rows = 24;
};
TerminalSize StdoutTerminalSize();

// Writes the bytes to standard output or standard error straight away,
// past the C library's buffers: safe inside a signal handler.
void WriteNow(bool toStdout, const char* bytes, std::size_t length);

}  // namespace jynmb
