// The rules a parsed gate must keep for the host's gate type (single gates)
// or for a block: function codes 3 and 4, after Parse has accepted the text.
#pragma once

#include <cstdint>

#include "interface/host_abi.h"

namespace jyn::address {

// 0: accepted; a 32-bit gate's address now counts register pairs and its
// bitWidth is 32. 1: refused, with at most one message.
int32_t ValidateSingle(GateDefinition& gate);
int32_t ValidateBlock(GateDefinition& gate);

}  // namespace jyn::address
