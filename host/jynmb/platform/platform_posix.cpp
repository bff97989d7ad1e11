// jynmb on POSIX: the simulator on a pseudo-terminal, terminal queries.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "host/jynmb/platform/platform.h"
#include "sim/pty_server.h"

namespace jynmb {

namespace {

constexpr char kDevicePrefix[] = "/dev/";
constexpr std::size_t kPrefixLength = sizeof kDevicePrefix - 1;
constexpr std::size_t kLongestPortName = 11;

class PtyPlantLine : public PlantLine {
public:
    explicit PtyPlantLine(const jynsim::LineConfig& config) : line_(config) {}
    ~PtyPlantLine() override { line_.Stop(); }
    bool Start(std::string& error) { return line_.Start(error); }
    jynsim::Simulator& Sim() override { return line_.Sim(); }
    const std::string& DevicePath() const override { return line_.Port(); }
    std::string PortName() const override { return PortNameForDriver(line_.Port()); }

private:
    jynsim::SimulatedLine line_;
};

}  // namespace

std::unique_ptr<PlantLine> StartPlantLine(const jynsim::LineConfig& config, std::string& error) {
    auto line = std::make_unique<PtyPlantLine>(config);
    if (!line->Start(error)) return nullptr;
    return line;
}

// The driver takes a name that does not begin with '/' under /dev/.
std::string PortNameForDriver(const std::string& name) {
    if (name.size() > kLongestPortName && name.compare(0, kPrefixLength, kDevicePrefix) == 0) {
        return name.substr(kPrefixLength);
    }
    return name;
}

bool StdoutIsTerminal() { return isatty(fileno(stdout)) == 1; }

TerminalSize StdoutTerminalSize() {
    TerminalSize size;
    winsize window{};
    if (ioctl(fileno(stdout), TIOCGWINSZ, &window) != 0) return size;
    if (window.ws_col > 0) size.columns = window.ws_col;
    if (window.ws_row > 0) size.rows = window.ws_row;
    return size;
}

void WriteNow(bool toStdout, const char* bytes, std::size_t length) {
    const int fd = toStdout ? STDOUT_FILENO : STDERR_FILENO;
    while (length > 0) {
        const ssize_t n = write(fd, bytes, length);
        if (n <= 0) return;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}

}  // namespace jynmb
