// jynmb sim: the PLC simulator on a pseudo-terminal, for a driver started by
// hand (or any other host) to talk to. It refuses a line the driver could
// not use.
#include <cstdio>

#include "host/jynmb/commands/commands.h"
#include "host/jynmb/platform/platform.h"
#include "sim/sim_command.h"

namespace jynmb {

namespace {

constexpr std::size_t kLongestPortName = 11;

// The driver takes the link's name as its port, so the name must fit its 11
// characters; a link elsewhere than /dev/ must be a full path, since the
// driver looks for any other name under /dev/. A short name that would do
// keeps the link's folder where it can: /tmp/boilerhouse -> /tmp/boiler.
bool CheckLink(const std::string& link, std::string& error) {
    if (link.empty()) return true;
    const std::string name = PortNameForDriver(link);
    if (link[0] != '/') {
        error = "--link " + link + ": the driver looks for a name without a '/' in front under " +
                "/dev/; give a full path, such as /tmp/" + link.substr(0, kLongestPortName - 5);
        return false;
    }
    if (name.size() <= kLongestPortName) return true;
    const std::size_t slash = link.rfind('/');
    std::string folder = link.substr(0, slash + 1);
    if (folder.size() > kLongestPortName - 3) folder = "/tmp/";
    const std::string base = link.substr(slash + 1);
    const std::string shorter = folder + base.substr(0, kLongestPortName - folder.size());
    error = "--link " + link + " has " + std::to_string(name.size()) +
            " characters, more than the driver's 11 for a port name; a shorter one would do, " +
            "such as " + shorter;
    return false;
}

}  // namespace

int RunSim(Args& args) {
    if (args.Flag("--help")) return jynsim::RunSimCommand({"--help"});
    jynsim::SimCommandOptions options;
    std::string error;
    if (!jynsim::ParseSimCommand(args.Rest(), options, error) ||
        !CheckLink(options.link_path, error)) {
        return UsageError("sim", error);
    }
    return jynsim::ServeSimLine(options);
}

}  // namespace jynmb
