// Data characters of a good read reply into the host's value buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/host_abi.h"

namespace jyn::protocol {

// `data` points at the first data character (position 5 of the reply) and
// `dataLength` says how many data characters the reply holds. `function`
// (low 8 bits) 5 selects the single path, anything else the block path.
// 0 = stored; 1 = illegal data, message logged.
int32_t StoreData(const GateRequest& request, const unsigned char* data, std::size_t dataLength,
                  uint32_t function);

}  // namespace jyn::protocol
