// The lines of a trace file, written and read in one place. Integrators
// grep these files and keep them, and jynmb trace reads them back: the
// layout below is what both rely on, letter for letter.
//
//   # <header>                            the driver, the port, its settings
//   <stamp> <KIND> <text>                 one record
//
// The stamp is UTC to the microsecond, "2026-12-09T11:22:00.123456Z"; the
// kind one upper-case word. The texts of the kinds this driver writes:
//
//   TX      <frame>
//   RX      <frame>[ (<how it ended>)]
//   TIMEOUT <ms> ms
//   DRAIN   <purge|settle> <count> <bytes>
//   PORT    <what befell the port>
//   TXN     st <SS> pc <PP> <service> '<gate>' attempts <n> result <n> ms <ms.t>
//           timeouts <n> naks <codes|-> settles <n> out <n> in <n>[ <note>]
//   LATE    st <SS> pc <PP> <ms> ms
//   DEBT    st <SS> pc <PP> owes <n>
//   FOREIGN, OLD, RESYNC: one fixed sentence each
//
// A trace read back is text from anywhere (copied, cut, mangled): the
// reader takes any bytes and any length of line, allocates nothing, and
// answers with a record or with why the line is none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jyn {

// Microseconds since 1970-01-01 UTC.
using TraceStamp = int64_t;

enum class RecordKind {
    kTx,
    kRx,
    kTimeout,
    kDrain,
    kPort,
    kTxn,
    kLate,
    kDebt,
    kForeign,
    kOld,
    kResync,
    kOther,  // a kind word this driver does not write (an older or newer one's)
};

// "TX", "TXN", ...; empty for kOther.
std::string_view KindWord(RecordKind kind);

// The one transaction's line. Views: into the driver's own data when it
// writes one, into the line when one is read.
struct TxnFields {
    std::string_view station;  // two characters each, as the request carried them
    std::string_view pc;
    std::string_view service;  // SingleRead, BlockWrite, ...
    std::string_view gate;     // the host's address text, whatever it holds
    int64_t attempts = 0;
    int64_t result = 0;
    int64_t tenthsMs = 0;  // the whole transaction's time
    int64_t timeouts = 0;
    std::string_view naks;  // "02,02", "??" for an unreadable code; empty for none
    int64_t settles = 0;
    uint64_t bytesOut = 0;
    uint64_t bytesIn = 0;
    std::string_view note;  // "resting", "readahead ..."; empty for none
};

// The notes a TXN line's reader counts by: a block read ahead, and a read
// served from one ("readahead served 01 D0100+24 age 12").
inline constexpr char kReadAheadBlockNote[] = "readahead block";
inline constexpr char kReadAheadServedNote[] = "readahead served";

// LATE (how many ms after its request an owed answer came) and DEBT (how
// many answers the station still owes): a station's figure.
struct StationFigure {
    std::string_view station;
    std::string_view pc;
    uint64_t value = 0;
};

// The service's name on a TXN line, from its function code.
const char* TraceServiceName(uint32_t function);

// ---- writing -------------------------------------------------------------

// "2026-12-09T11:22:00.123456Z"
std::string TraceTime(TraceStamp stamp);

// The bytes of a frame as a person reads them: control characters by name
// (<ENQ>, <STX>, <ETX>, <ACK>, <NAK>, ...), other bytes outside printable
// ASCII and '<' itself by their code (<3C>).
std::string TraceText(const unsigned char* bytes, std::size_t count);

// What a trace's header says of its writer and its line.
struct TraceHeaderFields {
    const char* version;
    uint32_t instance;
    const char* port;
    unsigned baud;
    unsigned dataBits;
    const char* parity;    // "no parity", "even parity", ...
    const char* stopBits;  // "1 stop bit", ...
    unsigned long long replyTimeoutMs;
};
// "JYNMB 1.0.0 trace, instance 1, port COM1: 9600 baud, 8 data bits, no
// parity, 1 stop bit; reply time-out 100 ms"
std::string TraceHeaderText(const TraceHeaderFields& header);
// Appends "# <header>\n".
void AppendTraceHeader(std::string& out, std::string_view header);
// Whether a file's first line (up to its line break, or all of `head`) is
// such a header: only a file that begins so is ever written over.
bool IsTraceHeader(std::string_view head);
// Appends "<stamp> <KIND> <text>\n"; kOther is never written.
void AppendTraceLine(std::string& out, TraceStamp stamp, RecordKind kind, std::string_view text);

std::string RxText(const unsigned char* bytes, std::size_t count, const char* note);
std::string TimeoutText(uint32_t waitedMs);
std::string DrainText(const char* by, const unsigned char* bytes, std::size_t count);
std::string TxnText(const TxnFields& txn);
std::string LateText(const StationFigure& late);
std::string DebtText(const StationFigure& debt);
// FOREIGN, OLD and RESYNC say one thing each; empty for the other kinds.
std::string_view NoticeText(RecordKind kind);

// ---- reading -------------------------------------------------------------

enum class LineRead {
    kRecord,     // a record, with the fields of its kind when it has any
    kBadFields,  // a record whose kind's fields cannot be read: kind, time, text set
    kHeader,     // "# ...": `text` is what follows "# "
    kBlank,
    kNoStamp,
    kNoKind,
};

struct TraceRecord {
    TraceStamp time = 0;
    RecordKind kind = RecordKind::kOther;
    std::string_view word;  // the kind as written
    std::string_view text;  // everything after the kind and its blank
    TxnFields txn;          // kTxn
    StationFigure figure;   // kLate (ms), kDebt (owed)
    bool request = false;   // kTx: the frame begins with ENQ, a request
};

// One line without its line end. The record's views point into `line`.
LineRead ReadTraceLine(std::string_view line, TraceRecord& record);

// The stamp as AppendTraceLine writes it; false for anything else, a day
// that no month has included.
bool ReadTraceTime(std::string_view text, TraceStamp& stamp);

// A TXN line's NAK codes, one by one; false when they are not codes.
bool SplitNakCodes(std::string_view naks, std::vector<std::string>& codes);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);

}  // namespace jyn
