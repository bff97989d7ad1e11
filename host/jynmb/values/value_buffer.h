// Values in the buffers a host hands the driver with a read or a write.
#pragma once

#include <cstddef>

#include "host/jynmb/values/gate_arg.h"

namespace jynmb {

// The value buffer: big enough for any gate, laid out as the host lays it.
constexpr std::size_t kValueBufferSize = 1024;
void EncodeValue(ValueKind kind, const GateArg& arg, const Value& value, unsigned char* buffer);
Value DecodeValue(ValueKind kind, const GateArg& arg, const unsigned char* buffer);

}  // namespace jynmb
