// The line as the driver sees it: every frame both ways, the bytes thrown
// away, and one line per transaction, written to a file of the instance's
// own when its station file asks for one (TRACE = path[, size]). One record
// per line, each stamped with UTC wall-clock time to the microsecond, so
// that an integrator can grep it and line it up with other logs.
//
// Lines are gathered in memory and written at the end of each transaction:
// a crash loses at most the transaction under way. When the file reaches
// its size it becomes <path>.1 (replacing an older one) and a new file
// begins, so a trace never takes more than twice its size.
//
// A trace goes only into a regular file that is new or already a trace of
// this driver's: a user's file, a device, a FIFO or a directory named by
// mistake is refused and left as it was. A write that fails (a full disk)
// ends the trace with one message; the line goes on without it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "interface/trace_record.h"

namespace jyn {

struct TraceSettings {
    std::string path;  // as the station file wrote it
    uint64_t limitBytes = 10ull << 20;
};

class Trace {
public:
    enum class OpenResult { kOpened, kCannotOpen, kInUse };

    // Opens the file for this instance. Two instances never write one file:
    // the second gets kInUse. A path that may not take a trace gets
    // kCannotOpen.
    static std::unique_ptr<Trace> Open(const TraceSettings& settings, OpenResult& result);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    static TraceStamp Now();

    // The header opens every file of the trace (and is written again when
    // the line's settings change): the driver's version, the port, its
    // settings and the reply time-out.
    void SetHeader(const std::string& header);

    // A frame written; stamped when the write returned (its last byte has
    // left).
    void Sent(const unsigned char* bytes, std::size_t count);
    // A reception: stamped with its first byte; `note` says how it ended
    // when it is not a whole frame.
    void Received(TraceStamp firstByte, const unsigned char* bytes, std::size_t count,
                  const char* note);
    void Silence(uint32_t waitedMs);
    // Bytes thrown away: by the purge before an attempt, or by a settle.
    void Drained(const char* by, const unsigned char* bytes, std::size_t count);
    // Any other record: its kind and its text, as trace_record.h writes
    // them.
    void Record(RecordKind kind, std::string_view text);
    // FOREIGN, OLD, RESYNC: a record that says one thing.
    void Notice(RecordKind kind) { Record(kind, NoticeText(kind)); }

    // Writes what was gathered; rotates the file when it is full.
    void Flush();

    // The file's absolute path, fixed when it was opened.
    const std::string& Path() const { return path_; }
    // False once a write or a turn-over failed: the trace has ended.
    bool Writing() const { return file_ >= 0; }

private:
    Trace(std::string path, std::string key, uint64_t limit, int file, uint64_t size);
    bool Rotate();
    void End(const std::string& why);

    std::string path_;
    std::string key_;  // the file as the registry of open traces knows it
    uint64_t limit_;
    int file_;
    uint64_t written_ = 0;
    std::string header_;
    std::string pending_;
};

// Why the path cannot take a trace ("not a regular file", "not a trace",
// the system's reason), or empty when it can; looks without creating or
// changing anything.
std::string TraceTargetProblem(const std::string& path);

// A trace opened to be read back: a regular file only, opened without
// waiting (a FIFO); null with `why` for anything else. Its size when
// opened in `size`: a file that grows meanwhile is read that far.
std::FILE* OpenTraceToRead(const std::string& path, uint64_t& size, std::string& why);

}  // namespace jyn
