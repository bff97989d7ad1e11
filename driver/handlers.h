// The services of the function-code table. Each takes the whole CallBlock
// and returns 0, 1 or 2.
#pragma once

#include "interface/host_abi.h"
#include "interface/trace.h"
#include "protocol/line.h"
#include "protocol/readahead.h"

namespace jyn {

using Handler = int32_t (*)(CallBlock& block);

int32_t ColdStart(CallBlock& block);
int32_t WarmStart(CallBlock& block);
int32_t SingleAddressParser(CallBlock& block);
int32_t BlockAddressParser(CallBlock& block);
int32_t SingleRead(CallBlock& block);
int32_t BlockRead(CallBlock& block);
int32_t SingleWrite(CallBlock& block);
int32_t BlockWrite(CallBlock& block);
int32_t EndJyn(CallBlock& block);
int32_t CloseCom(CallBlock& block);
int32_t ReOpenCom(CallBlock& block);
int32_t GetJynInfo(CallBlock& block);
int32_t ChangeJynParams(CallBlock& block);

// What the station file says beyond the station lines: keyword lines,
// each off unless the file has it.
struct StationFileOptions {
    uint32_t offlineSeconds = 0;  // OFFLINE = n: rest a silent station n seconds
    bool traced = false;          // TRACE = path[, size]: the line's trace
    TraceSettings trace;
    protocol::ReadAheadSettings readAhead;  // READAHEAD = age[, gap]; age 0: off
};

// Fills the station table from the station configuration file of the
// instance, and `options` from its keyword lines; called by ColdStart.
void ReadInitFile(CallBlock& block, StationFileOptions& options);

// CloseCom on the line itself: closes its port, and the context's copy of
// the handle follows (also EndJyn's, after the line left the live set).
int32_t CloseLinePort(protocol::Line& line, DriverContext& context);

// True once the process-wide ended flag is set (EndJyn).
bool DriverEnded();

}  // namespace jyn
