// The driver's trace files (TRACE = path in the station file) read back: one
// record a line, gathered into transactions by the TXN line that ends each.
// A trace is text from anywhere, copied, cut or mangled on its way: any
// bytes and any length of line give records, or lines counted as not
// understood, and never a crash or a wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "interface/trace_record.h"

namespace jynmb::trace {

using Micros = int64_t;  // since 1970-01-01 UTC

// "2026-12-09T12:49:34.057805Z" as the driver stamps its records.
std::string FormatStamp(Micros stamp);

struct Record {
    Micros time = 0;
    std::string kind;  // TX, RX, TIMEOUT, DRAIN, SETTLE, PORT, or one a later driver adds
    std::string text;
};

// The station's answer to one request: its first byte's time less the time
// the request's last byte left.
struct Response {
    Micros at = 0;  // the answer's first byte
    double ms = 0;
};

struct Transaction {
    Micros start = 0;     // its first record (the TXN line's own time when it has none)
    Micros end = 0;       // its TXN line
    std::string station;  // two characters each, as the request carried them
    std::string pc;
    std::string service;  // SingleRead, BlockWrite, ...
    std::string gate;     // the host's address text
    std::string note;     // "resting", or whatever follows the counts
    long attempts = 0;
    long result = 0;
    long timeouts = 0;
    long settles = 0;
    double ms = 0;
    uint64_t bytesOut = 0;
    uint64_t bytesIn = 0;
    std::vector<std::string> naks;  // "02", "??" for an unreadable code
    std::vector<Response> responses;
    // Answers the station owed to earlier requests, heard during this one
    // (LATE records): how long after their request each came, in ms.
    std::vector<double> lateMs;
    std::vector<Record> records;  // kept for failed transactions only
    std::string where;            // "file:line" of the TXN line
};

struct Unread {
    std::string where;
    std::string why;
};

struct TraceData {
    std::vector<std::string> files;
    std::vector<uint64_t> bytes;       // read of each file
    std::vector<std::string> headers;  // the first few, without their "# "
    uint64_t headerLines = 0;
    std::vector<Transaction> transactions;  // kept only when no sink takes them
    uint64_t transactionCount = 0;
    uint64_t lines = 0;
    uint64_t unreadLines = 0;
    std::vector<Unread> unread;  // the first few of them
    uint64_t unfinished = 0;     // records that no TXN line closed
};

// Lines longer than any the driver writes (its longest, a settle's 2048
// dropped bytes with every one a name, stay under 11 000 characters).
constexpr std::size_t kLongestLine = 65536;
constexpr std::size_t kUnreadKept = 10;
// What one transaction's records may hold: many times what the driver
// writes for the longest (ten attempts, settles of 2048 bytes each), so
// that lines no TXN line closes cannot fill the memory.
constexpr std::size_t kMostPendingRecords = 4096;
constexpr std::size_t kMostPendingBytes = 4u << 20;

// Given each transaction as it is read; it may take the transaction's
// contents.
using TransactionSink = std::function<void(Transaction&)>;

class Reader {
public:
    // Without a sink the transactions are kept in TraceData::transactions.
    explicit Reader(TransactionSink sink = TransactionSink()) : sink_(std::move(sink)) {}
    // One line without its line end. `first` is set for a file's first
    // line: a header there may continue the file before it (a trace that
    // turned over between a transaction's records), one later in a file
    // begins another run.
    void Line(std::string_view line, const std::string& where, bool first);
    // A line too long to be the driver's, not kept.
    void TooLong(const std::string& where);
    // Everything read so far; records still waiting for their TXN line are
    // counted as unfinished.
    TraceData Finish();

private:
    void NotUnderstood(const std::string& where, const std::string& why);
    void Header(std::string_view text, bool first);
    void CloseTransaction(const jyn::TraceRecord& record, bool fieldsRead,
                          const std::string& where);

    void Pend(const jyn::TraceRecord& record, bool fieldsRead);
    void Answer(const jyn::TraceRecord& record);
    void DropPending();
    void ClearPending();

    TransactionSink sink_;
    TraceData data_;
    // The records of the transaction under way, and what they say so far.
    std::vector<Record> pending_;
    std::size_t pendingBytes_ = 0;
    std::vector<Response> responses_;
    std::vector<double> lateMs_;
    bool asked_ = false;  // a request went out and nothing came back yet
    Micros sent_ = 0;
};

// The order to read them in: a file's older part (x.trc.1) right before it
// (x.trc), whatever order they were given in; a file given twice once.
std::vector<std::string> ReadingOrder(const std::vector<std::string>& files);

// Reads the files in that order into `data`, each transaction given to
// `sink` when there is one; false with `error` for a file that cannot be
// opened or is no regular file (a FIFO, a device, a directory).
bool ReadFiles(const std::vector<std::string>& files, TraceData& data, std::string& error,
               const TransactionSink& sink = TransactionSink());
// Reads the same bytes of the same files again, each transaction to `sink`:
// a second pass over what the first one counted, in as little memory.
bool ReadAgain(const TraceData& data, std::string& error, const TransactionSink& sink);
// Feeds the bytes to the reader line by line, as a file is read.
void ReadBytes(std::string_view bytes, const std::string& name, Reader& reader);

// Text from a trace as a terminal or a picture may show it: a byte that is
// not printable ASCII as its code, <1B>, the way the driver writes frames.
std::string Printable(std::string_view text);

}  // namespace jynmb::trace
