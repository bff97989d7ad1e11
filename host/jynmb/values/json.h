// Values for scripts, as JSON.
#pragma once

#include <string>

#include "host/jynmb/values/gate_arg.h"

namespace jynmb {

std::string JsonString(const std::string& text);
std::string JsonValue(ValueKind kind, const GateArg& arg, const Value& value);

}  // namespace jynmb
