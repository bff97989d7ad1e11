// jynmb on Windows: no pseudo-terminals, so no simulated plant; the console
// takes ANSI cursor movement once virtual terminal processing is on.
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "host/jynmb/platform/platform.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace jynmb {

std::unique_ptr<PlantLine> StartPlantLine(const jynsim::LineConfig&, std::string& error) {
    error =
        "the PLC simulator serves pseudo-terminals, which Windows does not have; run this on "
        "Linux, or test a real line with 'jynmb read' and 'jynmb poll'";
    return nullptr;
}

std::string PortNameForDriver(const std::string& name) { return name; }

bool StdoutIsTerminal() {
    if (_isatty(_fileno(stdout)) == 0) return false;
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
    return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

TerminalSize StdoutTerminalSize() {
    TerminalSize size;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        size.columns = info.srWindow.Right - info.srWindow.Left + 1;
        size.rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    }
    return size;
}

void WriteNow(bool toStdout, const char* bytes, std::size_t length) {
    _write(toStdout ? 1 : 2, bytes, static_cast<unsigned>(length));
}

}  // namespace jynmb
