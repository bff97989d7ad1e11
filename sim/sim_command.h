#pragma once
// `jynmb sim`: a simulated line of MELSEC-A stations on a pseudo-terminal.

#include <optional>
#include <string>
#include <vector>

#include "sim/engine.h"
#include "sim/line_settings.h"

namespace jynsim {

// The words after `jynmb sim`. Exit codes: 0 ok, 2 usage or start-up error.
int RunSimCommand(const std::vector<std::string>& args);

struct SimCommandOptions {
    LineConfig line;
    std::string preset_path;
    std::string link_path;
    bool trace = false;
    bool help = false;
    std::optional<RandomFaults> random_faults;
    // --line, or the preset file's LINE line: what the stations are set to.
    std::optional<SerialFormat> line_format;
    // --host-format: the test shim's file (data bits and parity of the host).
    std::string host_format_file;
};

// False with `error` for a bad command line; reads the --init file.
bool ParseSimCommand(const std::vector<std::string>& args, SimCommandOptions& options,
                     std::string& error);

// Serves the line until SIGINT or SIGTERM (POSIX); the exit code.
int ServeSimLine(const SimCommandOptions& options);

}  // namespace jynsim
