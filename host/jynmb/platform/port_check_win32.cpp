// Port causes on Windows: the name opened as the driver opens it, with
// CreateFileA for exclusive read and write, and its comm state asked for.
#include <windows.h>

#include <iterator>

#include "host/jynmb/platform/port_check.h"

namespace jynmb {

namespace {

// The standard rates of the comm API up to the largest the host's 16-bit
// field can carry; a port driver may take others, or refuse some of these.
const unsigned kBaudRates[] = {110,  300,   600,   1200,  2400,  4800,
                               9600, 14400, 19200, 38400, 56000, 57600};

void CheckDevice(const std::string& name, std::vector<PortCause>& causes) {
    HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            causes.push_back({"no such port " + name,
                              "check the name in the Device Manager (Ports (COM & LPT))"});
        } else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            causes.push_back({name + " is held by another program (Windows does not say which)",
                              "close it first (a terminal program, another host instance, a "
                              "running 'jynmb poll'), or use another port"});
        } else {
            causes.push_back({name + " does not open: system error " + std::to_string(error),
                              "check the port and its cable or adapter"});
        }
        return;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(port) != FILE_TYPE_CHAR || !GetCommState(port, &dcb)) {
        causes.push_back({name + " is no serial port", "give a COM port: COM1, or \\\\.\\COM10"});
    }
    CloseHandle(port);
}

}  // namespace

std::vector<PortCause> DiagnosePort(const std::string& name, const jynhost::LineSettings& line) {
    std::vector<PortCause> causes;
    if (!jynhost::PortNameFits(name)) {
        causes.push_back({"the port name '" + name + "' has " + std::to_string(name.size()) +
                              " characters, more than the driver's 11",
                          "COM1 to COM9 as they are, from COM10 on \\\\.\\COM10"});
        return causes;
    }
    if (name == "NUL") return causes;
    CheckDevice(name, causes);
    if (!DriverSetsRate(line.baudRate)) {
        causes.push_back({std::to_string(line.baudRate) + " baud is no standard rate",
                          "use the link module's rate, one of " + DriverBaudRates()});
    }
    return causes;
}

std::vector<unsigned> DriverBaudList() {
    return std::vector<unsigned>(std::begin(kBaudRates), std::end(kBaudRates));
}

}  // namespace jynmb
