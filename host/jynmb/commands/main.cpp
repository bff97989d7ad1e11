// jynmb: a stand-in host for the JYNMB driver. It loads the driver library at
// run time and drives it only through JynMain and the host records.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/jynmb/commands/commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(jynmb::Args& args);
    const char* summary;
};

const Command kCommands[] = {
    {"info", &jynmb::RunInfo, "show the driver's name, banner, defaults and context size"},
    {"read", &jynmb::RunRead, "read gates on a port"},
    {"write", &jynmb::RunWrite, "write gates on a port"},
    {"poll", &jynmb::RunPoll, "read a list of gates again and again, as a table"},
    {"parse", &jynmb::RunParse, "show the GateAddress the driver makes of an address text"},
    {"explain", &jynmb::RunExplain, "show how the driver sees a gate and the frames it sends"},
    {"sim", &jynmb::RunSim, "serve simulated PLC stations on a pseudo-terminal"},
    {"demo", &jynmb::RunDemo, "run the driver against a simulated plant of two stations"},
    {"scan", &jynmb::RunScan, "find a line's settings and stations, with reads only"},
    {"trace", &jynmb::RunTrace, "read the driver's trace files: statistics, failures, a picture"},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: jynmb COMMAND [OPTIONS]\n\n"
                 "A stand-in host for the JYNMB driver (MELSEC-A computer link, format 1):\n"
                 "it loads the driver library and calls it as a host application does.\n\n"
                 "Commands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    }
    std::fprintf(out,
                 "\nRun 'jynmb COMMAND --help' (or 'jynmb help COMMAND') for the options of a\n"
                 "command, 'jynmb --version' for the version.\n"
                 "Exit codes: 0 all good, 1 a gate or the PLC failed, 2 the driver, the port\n"
                 "or the command line failed.\n");
}

const Command* Find(const std::string& name) {
    for (const Command& command : kCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

int UnknownCommand(const std::string& name) {
    std::fprintf(stderr, "jynmb: unknown command '%s' (see 'jynmb --help')\n", name.c_str());
    return jynmb::kExitUsage;
}

int PrintVersion() {
    std::printf("jynmb %s\n", JYN_VERSION);
    return jynmb::kExitOk;
}

// Help and the version come before anything else a command checks, in
// whatever place on its line they are asked for.
int Run(const Command& command, std::vector<std::string> words) {
    for (const std::string& word : words) {
        if (word == "-h" || word == "--help") words = {"--help"};
    }
    if (words.size() != 1 || words[0] != "--help") {
        for (const std::string& word : words) {
            if (word == "--version") return PrintVersion();
        }
    }
    jynmb::Args args(std::move(words));
    return command.run(args);
}

// What could not be written (a full disk, a closed descriptor) makes the
// command a failure, whatever it found: a script must not take cut output,
// or half a JSON document, for a result.
int CheckOutput(int code) {
    errno = 0;
    const bool outLost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    const int cause = errno;
    const bool errLost = std::fflush(stderr) != 0 || std::ferror(stderr) != 0;
    if (!outLost && !errLost) return code;
    if (outLost) {
        std::fprintf(stderr, "jynmb: the output could not be written%s%s\n", cause != 0 ? ": " : "",
                     cause != 0 ? std::strerror(cause) : "");
    }
    return jynmb::kExitUsage;
}

int RunCommand(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return jynmb::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--version") return PrintVersion();
    if (name == "--help" || name == "-h" || (name == "help" && argc == 2)) {
        PrintUsage(stdout);
        return jynmb::kExitOk;
    }
    if (name == "help") {
        const Command* command = Find(argv[2]);
        return command != nullptr ? Run(*command, {"--help"}) : UnknownCommand(argv[2]);
    }
    const Command* command = Find(name);
    if (command == nullptr) return UnknownCommand(name);
    return Run(*command, std::vector<std::string>(argv + 2, argv + argc));
}

}  // namespace

int main(int argc, char** argv) { return CheckOutput(RunCommand(argc, argv)); }
