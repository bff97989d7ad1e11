// The station configuration file JYNMB<n>.INT: which station number, PC
// number and CPU family each logical station of the gate addresses stands
// for on the line.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/handlers.h"
#include "interface/chars.h"
#include "interface/log.h"
#include "interface/station_file_names.h"

namespace jyn {

namespace {

constexpr int kLineBufferSize = static_cast<int>(station_file::kPieceLength) + 1;
constexpr std::size_t kCpuWordLimit = 127;
constexpr std::size_t kNameSize = station_file::kNameSize;
constexpr unsigned kStationDigits = 2;

using chars::IsBlank;

int HexValue(char c) { return chars::HexDigitValue(static_cast<unsigned char>(c)); }

void ToUpper(char* piece) {
    for (; *piece != '\0'; ++piece) *piece = chars::ToUpper(*piece);
}

struct StationLine {
    unsigned logical = 0;
    unsigned station = 0;
    unsigned pc = 0;
    const char* cpu = nullptr;  // the CPU word inside the piece, or null
    std::size_t cpuLength = 0;
};

// Walks a piece the way the formatted scan "%02x = %02x, %02x" does: blanks
// are skipped before each number and before '=', not before ','.
class LineScanner {
public:
    explicit LineScanner(const char* piece) : at_(piece) {}

    void SkipBlanks() {
        while (IsBlank(*at_)) ++at_;
    }
    bool Literal(char c) {
        if (*at_ != c) return false;
        ++at_;
        return true;
    }
    // One or two hexadecimal digits; no sign, no "0x".
    bool Hex(unsigned& value) {
        SkipBlanks();
        value = 0;
        unsigned digits = 0;
        for (; digits < kStationDigits && HexValue(*at_) >= 0; ++digits, ++at_) {
            value = value * 16 + static_cast<unsigned>(HexValue(*at_));
        }
        return digits > 0;
    }
    // A run of characters up to the next blank.
    std::size_t Word(const char*& word) {
        SkipBlanks();
        word = at_;
        while (*at_ != '\0' && !IsBlank(*at_)) ++at_;
        return static_cast<std::size_t>(at_ - word);
    }

private:
    const char* at_;
};

// A station line is "II = SS, PP" or "II = SS, PP, CPU". As with the
// formatted scan these lines were always read with, what follows the fields
// is not looked at: stored files with a remark after the PC number, or a CPU
// word without its comma (taken as ACPU), keep working.
bool ScanStationLine(const char* piece, StationLine& line) {
    LineScanner scan(piece);
    if (!scan.Hex(line.logical)) return false;
    scan.SkipBlanks();
    if (!scan.Literal('=') || !scan.Hex(line.station) || !scan.Literal(',') || !scan.Hex(line.pc)) {
        return false;
    }
    if (scan.Literal(',')) {
        line.cpuLength = scan.Word(line.cpu);
        if (line.cpuLength == 0) line.cpu = nullptr;
    }
    return true;
}

uint8_t CpuTypeOf(const StationLine& line, unsigned lineNumber, const char* fileName) {
    if (line.cpu == nullptr) return kCpuA;
    const std::size_t length = line.cpuLength <= kCpuWordLimit ? line.cpuLength : 0;
    if (length == 4 && std::strncmp(line.cpu, "ACPU", length) == 0) return kCpuA;
    if (length == 6 && std::strncmp(line.cpu, "ANACPU", length) == 0) return kCpuAn;
    LogError("JYNMB> ReadInitFile() illegal CPU on line %u in '%s'", lineNumber, fileName);
    return kCpuA;
}

// An empty line; on a POSIX host a file written on Windows ends its lines
// with a carriage return too.
bool IsEmptyLine(const char* piece) {
    return piece[0] == '\n' || (piece[0] == '\r' && piece[1] == '\n');
}

// Keyword lines extend the file for this driver: "NAME = value", the name in
// any case, blanks optional around the '='. A driver without them takes such
// a line for an illegal one and goes on.
struct Keyword {
    const char* name;
    bool (*apply)(std::string_view value, StationFileOptions& options);
};

bool SameLetters(std::string_view text, const char* upper) {
    std::size_t i = 0;
    for (; upper[i] != '\0'; ++i) {
        if (i >= text.size() || chars::ToUpper(text[i]) != upper[i]) return false;
    }
    return i == text.size();
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// OFFLINE = seconds a station that said nothing to a whole transaction
// rests; 0 turns resting off. A day at the most.
constexpr uint32_t kMaxOfflineSeconds = 86400;

// The keywords' numbers: decimal digits only, no sign, at most `digits`.
bool ParseDecimal(std::string_view text, std::size_t digits, uint64_t& value) {
    if (text.empty() || text.size() > digits) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool ApplyOffline(std::string_view value, StationFileOptions& options) {
    uint64_t seconds = 0;
    if (!ParseDecimal(value, 5, seconds) || seconds > kMaxOfflineSeconds) return false;
    options.offlineSeconds = static_cast<uint32_t>(seconds);
    LogInfo("JYNMB> ReadInitFile() OFFLINE %u s", static_cast<unsigned>(seconds));
    return true;
}

// TRACE = path[, size]: the path as written (the file's upper-casing is for
// station lines), relative to the host's current directory like the station
// file; the size before the trace turns over to <path>.1, in MiB, or in KiB
// with a K; 10 MiB when not given. A path cannot hold a comma.
constexpr uint64_t kDefaultTraceMiB = 10;
constexpr uint64_t kMaxTraceBytes = 2047ull << 20;

bool ParseTraceSize(std::string_view text, uint64_t& bytes) {
    uint64_t unit = 1ull << 20;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) {
        unit = 1ull << 10;
        text.remove_suffix(1);
    }
    uint64_t count = 0;
    if (!ParseDecimal(text, 10, count)) return false;
    bytes = count * unit;
    return count != 0 && bytes <= kMaxTraceBytes;
}

bool ApplyTrace(std::string_view value, StationFileOptions& options) {
    uint64_t bytes = kDefaultTraceMiB << 20;
    const std::size_t comma = value.find(',');
    if (comma != std::string_view::npos) {
        if (!ParseTraceSize(Trimmed(value.substr(comma + 1)), bytes)) return false;
        value = Trimmed(value.substr(0, comma));
    }
    if (value.empty()) return false;
    options.traced = true;
    options.trace.path = std::string(value);
    options.trace.limitBytes = bytes;
    return true;
}

// READAHEAD = age[, gap]: how long (ms) a block read ahead serves the
// gates it holds, and the widest hole (device points) a block bridges.
constexpr uint32_t kMaxReadAheadAgeMs = 60000;
constexpr uint32_t kMaxReadAheadGap = 256;

// A number of the keyword, at most `max`.
bool ParseBounded(std::string_view text, uint32_t max, uint32_t& value) {
    uint64_t number = 0;
    if (!ParseDecimal(text, 6, number) || number > max) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

bool ApplyReadAhead(std::string_view value, StationFileOptions& options) {
    uint32_t gap = options.readAhead.gap;
    const std::size_t comma = value.find(',');
    if (comma != std::string_view::npos) {
        if (!ParseBounded(Trimmed(value.substr(comma + 1)), kMaxReadAheadGap, gap)) return false;
        value = Trimmed(value.substr(0, comma));
    }
    uint32_t age = 0;
    if (!ParseBounded(value, kMaxReadAheadAgeMs, age) || age == 0) return false;
    options.readAhead.ageMs = age;
    options.readAhead.gap = gap;
    LogInfo("JYNMB> ReadInitFile() READAHEAD %u ms, gap %u", unsigned{age}, unsigned{gap});
    return true;
}

const Keyword kKeywords[] = {
    {station_file::kOffline, &ApplyOffline},
    {station_file::kTrace, &ApplyTrace},
    {station_file::kReadAhead, &ApplyReadAhead},
};

// True when the piece is a keyword line, which is then applied (or, with a
// value it cannot take, reported).
bool HandleKeyword(const char* piece, StationFileOptions& options, uint16_t lineNumber,
                   const char* fileName) {
    const std::string_view line(piece);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = Trimmed(line.substr(0, equals));
    for (const Keyword& keyword : kKeywords) {
        if (!SameLetters(name, keyword.name)) continue;
        if (!keyword.apply(Trimmed(line.substr(equals + 1)), options)) {
            LogError("JYNMB> ReadInitFile() illegal %s on line %u in '%s'", keyword.name,
                     unsigned{lineNumber}, fileName);
        }
        return true;
    }
    return false;
}

void HandlePiece(DriverContext& context, char* piece, uint16_t lineNumber, const char* fileName) {
    ToUpper(piece);
    StationLine line;
    if (ScanStationLine(piece, line)) {
        StationEntry& entry = context.stationTable[line.logical];
        entry.stationNumber = static_cast<uint8_t>(line.station);
        entry.pcNumber = static_cast<uint8_t>(line.pc);
        entry.cpuType = CpuTypeOf(line, lineNumber, fileName);
        LogInfo("JYNMB> ReadIntFile() %02Xh= station %02Xh, PC %02Xh", line.logical, line.station,
                line.pc);
        return;
    }
    if (IsEmptyLine(piece) || piece[0] == '*') return;
    LogError("JYNMB> ReadIntFile() illegal line %u in '%s'", static_cast<unsigned>(lineNumber),
             fileName);
}

// A POSIX system opens a directory for reading as it opens a file, and only
// the reads fail: a directory bearing the name would hide the next file.
bool IsDirectory(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

// The instance's own file first, then the one shared by all instances.
std::FILE* OpenStationFile(uint32_t instance, char (&name)[kNameSize]) {
    const station_file::Names names = station_file::NamesFor(instance);
    for (const auto& candidate : names.name) {
        std::FILE* file = std::fopen(candidate, "r");
        if (file != nullptr && IsDirectory(file)) {
            std::fclose(file);
            file = nullptr;
        }
        if (file != nullptr) {
            std::memcpy(name, candidate, kNameSize);
            return file;
        }
    }
    return nullptr;
}

}  // namespace

void ReadInitFile(CallBlock& block, StationFileOptions& options) {
    if (block.context == nullptr) return;
    char name[kNameSize];
    std::FILE* file = OpenStationFile(block.instance, name);
    if (file == nullptr) {
        LogInfo("JYNMB> ColdStart() Info, no initfile found");
        return;
    }
    char piece[kLineBufferSize];
    uint16_t lineNumber = 0;  // 16 bits: a file of more lines counts round
    while (std::fgets(piece, kLineBufferSize, file) != nullptr) {
        ++lineNumber;
        if (HandleKeyword(piece, options, lineNumber, name)) continue;
        HandlePiece(*block.context, piece, lineNumber, name);
    }
    std::fclose(file);
}

}  // namespace jyn
