#include "sim/sim_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sim/config_files.h"
#include "sim/hex.h"

namespace jynsim {
namespace {

const char kUsage[] =
    "usage: jynmb sim [OPTIONS]\n"
    "\n"
    "Simulates MELSEC-A stations (computer link, format 1) on a pseudo-terminal and\n"
    "prints the device to give the driver as its port. Serves until Ctrl-C.\n"
    "\n"
    "  --station SS[:PP[:CPU]]  a station: number and PC number in hex, CPU ACPU or\n"
    "                           AnACPU (default PC FF, ACPU); repeat for a multidrop\n"
    "                           line. Without stations and --init: 01:FF:ACPU\n"
    "  --init FILE              stations from a JYNMB<n>.INT file (II = SS, PP[, CPU])\n"
    "  --preset FILE            initial memory (D100=1234, M10=1, W1F=0xABCD,\n"
    "                           L:D300=0x12345678, S:D200=\"HELLO\", [05] sections)\n"
    "  --link PATH              also make PATH a symlink to the pseudo-terminal\n"
    "  --baud N                 pace the line at N baud (default: no pacing)\n"
    "  --bits 10|11             bits per character for the pacing (default 10)\n"
    "  --turnaround MS          station's delay before each reply (default 3)\n"
    "  --interchar MS           drop a request stalled this long (default 500)\n"
    "  --fault-rate P           random faults on a share P of the requests (0..1)\n"
    "  --seed N                 seed of the random faults and the noise (default 1)\n"
    "  --slow-ms N              delay of a slow reply fault (default 1500)\n"
    "  --noise BER              flip each bit on the line (10 or 11 a character, both\n"
    "                           directions) with this probability, e.g. 1e-4\n"
    "  --late-queue             a station late with an answer still takes the requests\n"
    "                           that come meanwhile and answers them right after it\n"
    "  --lower-hex reject|accept       lower-case hex in requests (default reject: 07h)\n"
    "  --extended-on-acpu nak|silent|accept  ACPU answer to JR/JW/QR/QW (default nak)\n"
    "  --line BAUD,FRAME        the stations' line settings, e.g. 19200,7E2 (data bits\n"
    "                           5-8, parity N O E M S, stop bits 1 or 2): a host at\n"
    "                           another baud rate is not heard, one with another frame\n"
    "                           hears garbage; also 'LINE = 19200,7E2' in the preset.\n"
    "                           A pseudo-terminal shows the host's baud rate and stop\n"
    "                           bits only (default: any settings)\n"
    "  --host-format FILE       data bits and parity of the host's port, as the test\n"
    "                           shim around tcsetattr writes them\n"
    "  --trace                  print every frame on standard output\n"
    "  --help                   this text\n";

bool ToNumber(const std::string& text, long long low, long long high, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && end != nullptr && *end == '\0' && value >= low && value <= high;
}

bool ParseStation(const std::string& text, StationConfig& station) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    const auto number = ParseHex(text.substr(0, first));
    if (!number || *number > 0xFF) return false;
    station.station = static_cast<std::uint8_t>(*number);
    if (first == std::string::npos) return true;
    const auto pc = ParseHex(text.substr(first + 1, second - first - 1));
    if (!pc || *pc > 0xFF) return false;
    station.pc = static_cast<std::uint8_t>(*pc);
    if (second == std::string::npos) return true;
    const auto family = FamilyFromName(text.substr(second + 1));
    if (!family) return false;
    station.family = *family;
    return true;
}

struct Parser {
    Parser(const std::vector<std::string>& words, SimCommandOptions& out, std::string& message)
        : args(words), options(out), error(message) {}

    const std::vector<std::string>& args;
    SimCommandOptions& options;
    std::string& error;
    std::size_t at = 0;
    double fault_rate = 0;
    double noise = 0;
    std::uint64_t seed = 1;
    long long slow_ms = 1500;
    std::optional<ExtendedOnAcpu> extended;

    bool Value(const std::string& name, std::string& value) {
        if (at + 1 >= args.size()) {
            error = name + " needs a value";
            return false;
        }
        value = args[++at];
        return true;
    }
    bool Number(const std::string& name, long long low, long long high, long long& value) {
        std::string text;
        if (!Value(name, text)) return false;
        if (ToNumber(text, low, high, value)) return true;
        error = name + ": '" + text + "' is not a number from " + std::to_string(low) + " to " +
                std::to_string(high);
        return false;
    }
    bool One();
    bool Add(const StationConfig& station);
    bool Init(const std::string& path);
    bool Choice(const std::string& name);
    bool FaultRate();
    bool Noise();
    bool Station();
    bool Line();
};

bool Parser::Line() {
    std::string value;
    if (!Value("--line", value)) return false;
    options.line_format = ParseSerialFormat(value);
    if (!options.line_format) error = "--line: '" + value + "' is not BAUD,FRAME (19200,7E2)";
    return options.line_format.has_value();
}

// The preset file may set the line too; the command line wins.
bool LineFromPreset(SimCommandOptions& options, std::string& error) {
    if (options.line_format || options.preset_path.empty()) return true;
    std::string text;
    if (!ReadTextFile(options.preset_path, text)) return true;  // said when the preset is read
    std::size_t start = 0;
    for (int number = 1; start <= text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::optional<SerialFormat> format;
        if (IsLineSettingLine(std::string_view(text).substr(start, end - start), format)) {
            if (!format) {
                error = "--preset " + options.preset_path + ": line " + std::to_string(number) +
                        ": LINE wants BAUD,FRAME (19200,7E2)";
                return false;
            }
            options.line_format = format;
        }
        start = end + 1;
    }
    return true;
}

bool Parser::Init(const std::string& path) {
    std::string text;
    if (!ReadTextFile(path, text)) {
        error = "--init: cannot read '" + path + "'";
        return false;
    }
    const StationFile file = ParseStationFile(text);
    for (const std::string& warning : file.warnings) {
        std::fprintf(stderr, "jynmb sim: %s: %s\n", path.c_str(), warning.c_str());
    }
    for (const StationConfig& station : file.stations) {
        if (!Add(station)) return false;
    }
    if (file.stations.empty()) error = "--init: no station lines in '" + path + "'";
    return !file.stations.empty();
}

// Two stations with one station number and PC number would both answer every
// request to it. The same number with another PC number is a multidrop line.
bool Parser::Add(const StationConfig& station) {
    for (const StationConfig& known : options.line.stations) {
        if (known.station == station.station && known.pc == station.pc) {
            error = "station " + FormatHex(station.station, 2) + " with PC " +
                    FormatHex(station.pc, 2) + " is given twice";
            return false;
        }
    }
    options.line.stations.push_back(station);
    return true;
}

bool Parser::Choice(const std::string& name) {
    std::string value;
    if (!Value(name, value)) return false;
    if (name == "--lower-hex" && (value == "reject" || value == "accept")) {
        options.line.decode.lower_hex_ok = value == "accept";
        return true;
    }
    const struct {
        const char* word;
        ExtendedOnAcpu policy;
    } kPolicies[] = {{"nak", ExtendedOnAcpu::kNak},
                     {"silent", ExtendedOnAcpu::kNoAnswer},
                     {"accept", ExtendedOnAcpu::kAccept}};
    for (const auto& policy : kPolicies) {
        if (name == "--extended-on-acpu" && value == policy.word) {
            extended = policy.policy;
            return true;
        }
    }
    error = name + ": unknown choice '" + value + "'";
    return false;
}

// Options that take a decimal number within bounds.
struct NumberOption {
    const char* name;
    long long low;
    long long high;
    void (*apply)(Parser& parser, long long value);
};

const NumberOption kNumberOptions[] = {
    {"--baud", 50, 4000000,
     [](Parser& p, long long v) { p.options.line.timing.baud = static_cast<std::uint32_t>(v); }},
    {"--bits", 10, 11,
     [](Parser& p, long long v) { p.options.line.timing.bits_per_char = static_cast<int>(v); }},
    {"--turnaround", 0, 60000,
     [](Parser& p, long long v) {
         p.options.line.timing.turnaround = std::chrono::milliseconds(v);
     }},
    {"--interchar", 0, 60000,
     [](Parser& p, long long v) {
         p.options.line.timing.interchar_timeout = std::chrono::milliseconds(v);
     }},
    {"--seed", 0, 0x7FFFFFFFFFFFFFFFLL,
     [](Parser& p, long long v) { p.seed = static_cast<std::uint64_t>(v); }},
    {"--slow-ms", 1, 600000, [](Parser& p, long long v) { p.slow_ms = v; }},
};

bool Parser::FaultRate() {
    std::string value;
    if (!Value("--fault-rate", value)) return false;
    char* end = nullptr;
    fault_rate = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(fault_rate >= 0 && fault_rate <= 1)) {
        error = "--fault-rate: '" + value + "' is not a share from 0 to 1";
        return false;
    }
    return true;
}

bool Parser::Noise() {
    std::string value;
    if (!Value("--noise", value)) return false;
    char* end = nullptr;
    noise = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(noise >= 0 && noise <= 1)) {
        error = "--noise: '" + value + "' is not a bit error rate from 0 to 1";
        return false;
    }
    return true;
}

bool Parser::Station() {
    std::string value;
    StationConfig station;
    if (!Value("--station", value)) return false;
    if (ParseStation(value, station)) return Add(station);
    error = "--station: '" + value + "' is not SS[:PP[:ACPU|AnACPU]] (hexadecimal numbers)";
    return false;
}

bool Parser::One() {
    const std::string& word = args[at];
    std::string value;
    if (word == "--help" || word == "-h") return options.help = true;
    if (word == "--trace") return options.trace = true;
    if (word == "--station") return Station();
    if (word == "--init") return Value(word, value) && Init(value);
    if (word == "--preset") return Value(word, options.preset_path);
    if (word == "--link") return Value(word, options.link_path);
    if (word == "--lower-hex" || word == "--extended-on-acpu") return Choice(word);
    if (word == "--fault-rate") return FaultRate();
    if (word == "--noise") return Noise();
    if (word == "--line") return Line();
    if (word == "--host-format") return Value(word, options.host_format_file);
    if (word == "--late-queue") return options.line.queue_behind_late_answer = true;
    for (const NumberOption& option : kNumberOptions) {
        if (word != option.name) continue;
        long long number = 0;
        if (!Number(word, option.low, option.high, number)) return false;
        option.apply(*this, number);
        return true;
    }
    error = "unknown option '" + word + "'";
    return false;
}

}  // namespace

bool ParseSimCommand(const std::vector<std::string>& args, SimCommandOptions& options,
                     std::string& error) {
    Parser parser(args, options, error);
    for (parser.at = 0; parser.at < args.size(); ++parser.at) {
        if (!parser.One()) return false;
    }
    if (!LineFromPreset(options, error)) return false;
    if (options.line.stations.empty()) {
        StationConfig station;
        station.station = 1;
        options.line.stations.push_back(station);
    }
    for (StationConfig& station : options.line.stations) {
        if (parser.extended) station.extended_on_acpu = *parser.extended;
    }
    options.line.noise.bit_error_rate = parser.noise;
    options.line.noise.seed = parser.seed;
    if (parser.fault_rate > 0) {
        RandomFaults random;
        random.seed = parser.seed;
        // The faults of one reply; the station behaviours only when scripted.
        std::fill_n(random.probability.begin(), kReplyFaultKindCount,
                    parser.fault_rate / static_cast<double>(kReplyFaultKindCount));
        random.slow_delay = std::chrono::milliseconds(parser.slow_ms);
        options.random_faults = random;
    }
    return true;
}

int RunSimCommand(const std::vector<std::string>& args) {
    SimCommandOptions options;
    std::string error;
    if (!ParseSimCommand(args, options, error)) {
        std::fprintf(stderr, "jynmb sim: %s\n\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return ServeSimLine(options);
}

}  // namespace jynsim
