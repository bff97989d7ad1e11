#pragma once
// The line settings a computer link module is switched to: baud rate, data
// bits, parity, stop bits. A host whose port is set otherwise does not talk
// with it: at another baud rate the module hears nothing it can read and
// stays silent; at its baud rate with another frame it reads the request
// well enough to answer, and the host's UART makes garbage of the answer.
//
// On a pseudo-terminal the simulator sees only part of what the host set:
// Linux keeps the baud rate and the stop bits the host asks for, and forces
// 8 data bits and no parity. Data bits and parity reach it from a test shim
// around the host's tcsetattr, which writes what the host asked for into a
// file (`ReadHostFormatFile`); without that file they are not checked.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jynsim {

struct SerialFormat {
    std::uint32_t baud = 9600;
    int data_bits = 8;  // 5..8
    char parity = 'N';  // N, O, E, M (mark), S (space)
    int stop_bits = 1;  // 1 or 2

    bool operator==(const SerialFormat& other) const {
        return baud == other.baud && data_bits == other.data_bits && parity == other.parity &&
               stop_bits == other.stop_bits;
    }
    // Start bit, data bits, parity bit, stop bits.
    int BitsPerChar() const { return 1 + data_bits + (parity == 'N' ? 0 : 1) + stop_bits; }
};

// "19200,7E2" (parity letter in either case); nullopt for anything else.
std::optional<SerialFormat> ParseSerialFormat(std::string_view text);
// "19200,7E2".
std::string FormatSerialFormat(const SerialFormat& format);

// What the simulator knows of the host's port.
struct HostFormat {
    SerialFormat format;
    bool frame_known = false;  // data bits and parity came from the shim's file
};

enum class LineMatch { kSame, kOtherBaud, kOtherFrame };

// How the stations set to `stations` hear a host set to `host`. Data bits
// and parity count only where they are known.
LineMatch CompareFormats(const SerialFormat& stations, const HostFormat& host);

// An answer as a host set for another frame receives it: every character
// arrives, none as the character sent. The receiver takes the parity bit
// (or the first stop bit) for bit 7, so no character of an ASCII frame comes
// out as STX, ACK or NAK, and the host sees bytes that are no frame.
std::string GarbleForOtherFrame(std::string_view answer);

// A line of the shim's file: "/dev/pts/3 19200,7E2". The format for
// `slave_path`, if the file's line names it.
std::optional<SerialFormat> ParseHostFormatLine(std::string_view line,
                                                const std::string& slave_path);

// The keyword line of a preset file that sets the line: "LINE = 19200,7E2".
// True when `line` is one; `format` is set when its value is good.
bool IsLineSettingLine(std::string_view line, std::optional<SerialFormat>& format);

#if !defined(_WIN32)
// The host's settings of the pseudo-terminal whose master is `master_fd`
// (the kernel shows the slave's settings on the master), with data bits and
// parity from `shim_file` when it names `slave_path`. Nullopt when the
// settings cannot be read.
std::optional<HostFormat> ReadHostFormat(int master_fd, const std::string& shim_file,
                                         const std::string& slave_path);
#endif

}  // namespace jynsim
