// One gate's outcome as the commands print it, in text and in JSON.
#pragma once

#include <cstddef>
#include <string>

#include "host/jynmb/commands/session.h"

namespace jynmb {

// "refused (1): <the driver's message>", "failed (2): ...". Never a colon
// with nothing behind it: some refusals come without a message.
std::string FailureText(const GateOutcome& gate);

// The fields of the gate's JSON object, without the braces: "gate" (as
// typed, a block with its *N), "block", "type", "kind", "result" (of the
// transfer, or of the parser before one), then "value" or "error" (the
// driver's message, null without one) unless nothing was transferred yet,
// and "unread" when the driver passes characters over.
std::string GateJsonFields(const GateOutcome& gate);

// Under a gate text printed at column `indent`: a caret under each
// character the driver does not read, and the devices it addresses instead.
// Nothing when every character counts.
void PrintUnread(const GateOutcome& gate, std::size_t indent);

}  // namespace jynmb
