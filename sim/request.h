#pragma once
// Requests of the computer link dedicated protocol, format 1, as a station
// receives them: the characters after ENQ, measured (a format-1 frame has no
// terminator; its length follows from the command and the point count) and
// decoded into fields with the errors the frame itself carries.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/devices.h"

namespace jynsim {

enum class Command : std::uint8_t { kBR, kBW, kWR, kWW, kJR, kJW, kQR, kQW, kTT };

struct CommandInfo {
    Command command;
    const char* name;
    bool write;
    bool bit_units;    // one character per point
    bool extended;     // AnACPU only, 7-character device field
    int field_length;  // 0 for the loopback
};

const CommandInfo& InfoOf(Command command);
std::optional<Command> CommandFromText(std::string_view text);

// NAK error codes a computer link module sends.
enum NakCode : std::uint8_t {
    kNakWriteDuringRun = 0x00,
    kNakParity = 0x01,
    kNakSumCheck = 0x02,
    kNakProtocol = 0x03,
    kNakFraming = 0x04,
    kNakOverrun = 0x05,
    kNakCharacterArea = 0x06,
    kNakCharacter = 0x07,
    kNakPcAccess = 0x08,
    kNakPcNumber = 0x10,
    kNakMode = 0x11,
    kNakModuleDesignation = 0x12,
};
// "sum check error" etc.; "unknown" for codes the manuals do not list.
const char* NakName(std::uint8_t code);

// Where a request's characters stand after ENQ (NULs already removed).
struct Measure {
    enum State { kNeedMore, kComplete, kBroken } state;
    std::size_t length = 0;  // kComplete: characters of the frame, sum included
    std::uint8_t code = 0;   // kBroken: the NAK code to answer at once
};
Measure MeasureRequest(std::string_view text);

struct Request {
    std::string text;  // the characters after ENQ
    int station = -1;  // -1: not a hexadecimal number
    int pc = -1;
    std::optional<Command> command;
    int wait = 0;       // message wait in units of 10 ms
    std::string field;  // device field as sent
    std::optional<DeviceRef> device;
    std::uint32_t points = 0;  // "00" already turned into 256 for BR/JR
    std::string data;          // write data or loopback characters
    bool sum_ok = false;
    std::optional<std::uint8_t> error;  // lowest code of the frame's own faults

    void Flag(std::uint8_t code) {
        if (!error || code < *error) error = code;
    }
};

struct DecodePolicy {
    // A real module's reaction to lower-case hexadecimal digits is not
    // documented; by default they are a character error (07h).
    bool lower_hex_ok = false;
};

// `text` must be a complete frame as MeasureRequest found it.
Request DecodeRequest(std::string_view text, const DecodePolicy& policy);

// Station number of a request's first two characters (either case), or -1.
int StationOfText(std::string_view text);

}  // namespace jynsim
