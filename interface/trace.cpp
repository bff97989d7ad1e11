#include "interface/trace.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "interface/log.h"
#include "interface/trace_record.h"
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

}  // namespace

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
    header_.clear();
    AppendTraceHeader(header_, header);
    pending_ += header_;
}

void Trace::Sent(const unsigned char* bytes, std::size_t count) {
    AppendTraceLine(pending_, Now(), RecordKind::kTx, TraceText(bytes, count));
}

void Trace::Received(TraceStamp firstByte, const unsigned char* bytes, std::size_t count,
                     const char* note) {
    AppendTraceLine(pending_, firstByte, RecordKind::kRx, RxText(bytes, count, note));
}

void Trace::Silence(uint32_t waitedMs) {
    AppendTraceLine(pending_, Now(), RecordKind::kTimeout, TimeoutText(waitedMs));
}

void Trace::Drained(const char* by, const unsigned char* bytes, std::size_t count) {
    AppendTraceLine(pending_, Now(), RecordKind::kDrain, DrainText(by, bytes, count));
}

void Trace::Record(RecordKind kind, std::string_view text) {
    AppendTraceLine(pending_, Now(), kind, text);
}

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
    return IsTraceHeader(std::string_view(head, count));
}

}  // namespace jyn
