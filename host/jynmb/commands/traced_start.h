// --trace FILE for read, write and poll: the driver's own trace of the run.
// The driver takes a trace only from a TRACE line in its station file,
// which it reads from the current directory at ColdStart. So for the
// ColdStart alone jynmb runs it in a private directory that holds a copy of
// the station file the user's directory would give it, with the TRACE line
// added; the user's files are never changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/jynmb/commands/session.h"
#include "host/jynmb/plant/demo_directory.h"

namespace jynmb {

extern const char kTraceOptionHelp[];

// The station files the driver looks for, in its order: it reads the first
// that opens.
std::vector<std::string> StationFileNames(uint32_t instance);

// Takes --trace FILE, made absolute; empty when not given. False with
// `error` for a path a station file line cannot carry.
bool ReadTraceOption(class Args& args, std::string& trace, std::string& error);

// A path the user gave, as seen from where jynmb was started; empty stays
// empty.
std::string AbsolutePath(const std::string& path);

// Starts the session as StartSession does (reporting a failure the same
// way); with a trace path, the driver's ColdStart finds the station file
// copied with the TRACE line. False, after saying why, also when the trace
// cannot be written. `driverPath` must be absolute or empty.
bool StartTracedSession(Session& session, const char* command, const std::string& driverPath,
                        const PortOptions& options, bool json, const std::string& trace);

// Whether the driver ended the run's trace early (a full disk): says so on
// standard error; the command then exits 2. False without a trace.
bool TraceFailed(const std::string& trace);

// Starts the session as StartSession does, but with every TRACE line of the
// station file pointed into `scratch`, which the caller keeps until the
// session has ended: a simulated run never writes into the plant's trace.
bool StartScratchTracedSession(Session& session, const char* command, const std::string& driverPath,
                               const PortOptions& options, bool json, PrivateDirectory& scratch);

}  // namespace jynmb
