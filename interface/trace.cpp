#include "interface/trace.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "interface/log.h"
#include "interface/trace_target.h"

namespace jyn {

namespace {

// The files open for tracing in this process: one writer a file. When the
// library is unloaded, or the process ends, with traces still open
// (instances the host never ended), the line states that own them may be
// destroyed after this set: `g_filesGone`, a plain flag that outlives every
// object of the library, tells their traces not to look for it then.
std::mutex g_mutex;
std::atomic<bool> g_filesGone{false};

struct OpenFileSet {
    std::set<std::string> names;
    OpenFileSet() = default;
    OpenFileSet(const OpenFileSet&) = delete;
    OpenFileSet& operator=(const OpenFileSet&) = delete;
    ~OpenFileSet() { g_filesGone = true; }
};

// Null once the set is gone.
std::set<std::string>* OpenFiles() {
    static OpenFileSet files;
    return g_filesGone ? nullptr : &files.names;
}

// The name the registry knows an open trace file by: its full path, so that
// two spellings of one file are one entry (on Windows in one case, as its
// file systems ignore case). The file exists: it has just been opened.
std::string RegistryKey(const std::string& path) {
#ifdef _WIN32
    char full[_MAX_PATH];
    if (_fullpath(full, path.c_str(), sizeof full) == nullptr) return path;
    std::string key = full;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
#else
    char* full = realpath(path.c_str(), nullptr);
    if (full == nullptr) return path;
    std::string key = full;
    std::free(full);
    return key;
#endif
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without the
// C library's time functions, which differ between the platforms.
void CivilDate(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

const char* const kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                       "BS",  "HT",  "LF",  "VT",  "CL",  "CR",  "SO",  "SI",
                                       "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                       "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

}  // namespace

std::string TraceText(const unsigned char* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count + 16);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char c = bytes[i];
        if (c < 32) {
            text += '<';
            text += kControlNames[c];
            text += '>';
        } else if (c >= 127 || c == '<') {
            text += '<';
            text += kDigits[c >> 4];
            text += kDigits[c & 15];
            text += '>';
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

std::string TraceTime(TraceStamp stamp) {
    const int64_t micros = ((stamp % 1000000) + 1000000) % 1000000;
    const int64_t seconds = (stamp - micros) / 1000000;
    const int64_t secondOfDay = ((seconds % 86400) + 86400) % 86400;
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilDate((seconds - secondOfDay) / 86400, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u.%06uZ",
                  static_cast<long long>(year), month, day,
                  static_cast<unsigned>(secondOfDay / 3600),
                  static_cast<unsigned>(secondOfDay / 60 % 60),
                  static_cast<unsigned>(secondOfDay % 60), static_cast<unsigned>(micros));
    return text;
}

TraceStamp Trace::Now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<Trace> Trace::Open(const TraceSettings& settings, OpenResult& result) {
    const std::string path = tracefile::Absolute(settings.path);
    // Opened for appending first, which writes nothing: another instance's
    // file is left as it is.
    uint64_t size = 0;
    std::string why;
    const int file = tracefile::Open(path, size, why);
    if (file == tracefile::kNoFile) {
        result = OpenResult::kCannotOpen;
        return nullptr;
    }
    const std::string key = RegistryKey(path);
    std::lock_guard<std::mutex> lock(g_mutex);
    std::set<std::string>* files = OpenFiles();
    if (files == nullptr || files->count(key) != 0) {
        tracefile::Close(file);
        result = OpenResult::kInUse;
        return nullptr;
    }
    files->insert(key);
    result = OpenResult::kOpened;
    return std::unique_ptr<Trace>(new Trace(path, key, settings.limitBytes, file, size));
}

Trace::Trace(std::string path, std::string key, uint64_t limit, int file, uint64_t size)
    : path_(std::move(path)), key_(std::move(key)), limit_(limit), file_(file), written_(size) {}

Trace::~Trace() {
    Flush();
    tracefile::Close(file_);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (std::set<std::string>* files = OpenFiles()) files->erase(key_);
}

void Trace::SetHeader(const std::string& header) {
    header_ = "# " + header + "\n";
    pending_ += header_;
}

void Trace::Line(TraceStamp stamp, const char* kind, const std::string& text) {
    pending_ += TraceTime(stamp);
    pending_ += ' ';
    pending_ += kind;
    pending_ += ' ';
    pending_ += text;
    pending_ += '\n';
}

void Trace::Sent(const unsigned char* bytes, std::size_t count) {
    Line(Now(), "TX", TraceText(bytes, count));
}

void Trace::Received(TraceStamp firstByte, const unsigned char* bytes, std::size_t count,
                     const char* note) {
    std::string text = TraceText(bytes, count);
    if (note != nullptr) {
        text += " (";
        text += note;
        text += ')';
    }
    Line(firstByte, "RX", text);
}

void Trace::Silence(uint32_t waitedMs) { Line(Now(), "TIMEOUT", std::to_string(waitedMs) + " ms"); }

void Trace::Drained(const char* by, const unsigned char* bytes, std::size_t count) {
    Line(Now(), "DRAIN",
         std::string(by) + " " + std::to_string(count) + " " + TraceText(bytes, count));
}

void Trace::Record(const char* kind, const std::string& text) { Line(Now(), kind, text); }

// The one message of a trace that ended early; the instance goes on.
void Trace::End(const std::string& why) {
    tracefile::Close(file_);
    file_ = tracefile::kNoFile;
    LogError("JYNMB> trace '%s' ended: %s", path_.c_str(), why.c_str());
}

bool Trace::Rotate() {
    std::string why;
    file_ = tracefile::TurnOver(file_, path_, why);
    written_ = 0;
    if (file_ == tracefile::kNoFile) {
        LogError("JYNMB> trace '%s' ended: %s", path_.c_str(), why.c_str());
        return false;
    }
    if (header_.empty()) return true;
    if (!tracefile::Write(file_, header_.data(), header_.size(), why)) {
        End(why);
        return false;
    }
    written_ = header_.size();
    return true;
}

// A file is full at a line's end: the header and at least one line go into
// every file, however small its size. The lines that fit go out in one
// write, as a buffered stream would write them.
void Trace::Flush() {
    std::size_t at = 0;
    std::string why;
    while (at < pending_.size() && file_ != tracefile::kNoFile) {
        std::size_t end = at;
        uint64_t size = written_;
        while (end < pending_.size()) {
            const std::size_t lineEnd = pending_.find('\n', end);
            const std::size_t next = lineEnd == std::string::npos ? pending_.size() : lineEnd + 1;
            if (size + (next - end) > limit_ && size > header_.size()) break;
            size += next - end;
            end = next;
        }
        if (end == at) {
            if (!Rotate()) break;
            continue;
        }
        if (!tracefile::Write(file_, pending_.data() + at, end - at, why)) {
            End(why);
            break;
        }
        written_ = size;
        at = end;
    }
    pending_.clear();
}

std::string TraceTargetProblem(const std::string& path) {
    return tracefile::Problem(tracefile::Absolute(path));
}

std::FILE* OpenTraceToRead(const std::string& path, uint64_t& size, std::string& why) {
    return tracefile::OpenToRead(path, size, why);
}

bool tracefile::IsTraceStart(const char* head, std::size_t count) {
    static const char kStart[] = "# JYNMB ";
    static const char kWhat[] = " trace, instance ";
    const std::string first(head, std::find(head, head + count, '\n'));
    return first.rfind(kStart, 0) == 0 && first.find(kWhat) != std::string::npos;
}

}  // namespace jyn
