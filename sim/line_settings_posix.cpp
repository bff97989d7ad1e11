// The host's side of a pseudo-terminal as the simulator can see it.
#include <termios.h>

#include <fstream>
#include <iterator>

#include "sim/line_settings.h"

namespace jynsim {

namespace {

struct Speed {
    speed_t code;
    std::uint32_t baud;
};

const Speed kSpeeds[] = {{B50, 50},        {B75, 75},       {B110, 110},     {B134, 134},
                         {B150, 150},      {B200, 200},     {B300, 300},     {B600, 600},
                         {B1200, 1200},    {B1800, 1800},   {B2400, 2400},   {B4800, 4800},
                         {B9600, 9600},    {B19200, 19200}, {B38400, 38400}, {B57600, 57600},
                         {B115200, 115200}};

std::uint32_t BaudOf(speed_t code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.code == code) return speed.baud;
    }
    return 0;
}

// The shim rewrites its file whole (a rename), so one read sees one line.
std::optional<SerialFormat> FromShim(const std::string& shim_file, const std::string& slave_path) {
    if (shim_file.empty()) return std::nullopt;
    std::ifstream in(shim_file);
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return ParseHostFormatLine(line, slave_path);
}

}  // namespace

std::optional<HostFormat> ReadHostFormat(int master_fd, const std::string& shim_file,
                                         const std::string& slave_path) {
    termios tio{};
    if (tcgetattr(master_fd, &tio) != 0) return std::nullopt;
    HostFormat host;
    host.format.baud = BaudOf(cfgetospeed(&tio));
    host.format.stop_bits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    if (const auto asked = FromShim(shim_file, slave_path)) {
        host.format.data_bits = asked->data_bits;
        host.format.parity = asked->parity;
        host.frame_known = true;
    }
    return host;
}

}  // namespace jynsim
