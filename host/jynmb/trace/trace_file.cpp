#include "host/jynmb/trace/trace_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "interface/trace.h"

namespace jynmb::trace {

namespace {

constexpr std::size_t kChunk = 65536;

// Splits bytes into lines, as they come from a file in chunks.
class Lines {
public:
    Lines(const std::string& name, Reader& reader) : name_(name), reader_(reader) {}
    void Feed(std::string_view bytes) {
        while (!bytes.empty()) {
            const std::size_t end = std::min(bytes.find('\n'), bytes.size());
            Take(bytes.substr(0, end));
            if (end == bytes.size()) return;
            Emit();
            bytes.remove_prefix(end + 1);
        }
    }
    void End() {
        if (!line_.empty() || tooLong_) Emit();
    }

private:
    void Take(std::string_view part) {
        if (tooLong_) return;
        if (line_.size() + part.size() > kLongestLine) {
            tooLong_ = true;
            line_.clear();
            return;
        }
        line_.append(part);
    }
    void Emit() {
        ++number_;
        const std::string where = name_ + ":" + std::to_string(number_);
        if (tooLong_) {
            reader_.TooLong(where);
        } else {
            std::string_view line = line_;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            reader_.Line(line, where, number_ == 1);
        }
        line_.clear();
        tooLong_ = false;
    }

    const std::string& name_;
    Reader& reader_;
    std::string line_;
    bool tooLong_ = false;
    uint64_t number_ = 0;
};

// The driver's TXN line as jynmb keeps a transaction.
Transaction TransactionOf(const jyn::TxnFields& fields) {
    Transaction txn;
    txn.station = std::string(fields.station);
    txn.pc = std::string(fields.pc);
    txn.service = std::string(fields.service);
    txn.gate = std::string(fields.gate);
    txn.note = std::string(fields.note);
    txn.attempts = static_cast<long>(fields.attempts);
    txn.result = static_cast<long>(fields.result);
    txn.timeouts = static_cast<long>(fields.timeouts);
    txn.settles = static_cast<long>(fields.settles);
    txn.ms = static_cast<double>(fields.tenthsMs) / 10;
    txn.bytesOut = fields.bytesOut;
    txn.bytesIn = fields.bytesIn;
    jyn::SplitNakCodes(fields.naks, txn.naks);
    return txn;
}

}  // namespace

// The driver's own formatting of its time stamps.
std::string FormatStamp(Micros stamp) { return jyn::TraceTime(stamp); }

void Reader::NotUnderstood(const std::string& where, const std::string& why) {
    ++data_.unreadLines;
    if (data_.unread.size() < kUnreadKept) data_.unread.push_back({where, why});
}

void Reader::TooLong(const std::string& where) {
    ++data_.lines;
    NotUnderstood(where, "longer than " + std::to_string(kLongestLine) + " bytes");
}

void Reader::Header(std::string_view text, bool first) {
    if (data_.headers.size() < kUnreadKept) data_.headers.emplace_back(text);
    ++data_.headerLines;
    if (!first) DropPending();
}

void Reader::DropPending() {
    data_.unfinished += pending_.size();
    ClearPending();
}

void Reader::ClearPending() {
    pending_.clear();
    pendingBytes_ = 0;
    responses_.clear();
    lateMs_.clear();
    asked_ = false;
}

// Records no TXN line has closed after far more than a transaction writes
// belong to none.
void Reader::Pend(const jyn::TraceRecord& record, bool fieldsRead) {
    if (pending_.size() >= kMostPendingRecords ||
        pendingBytes_ + record.text.size() > kMostPendingBytes) {
        DropPending();
    }
    pendingBytes_ += record.text.size();
    pending_.push_back({record.time, std::string(record.word), std::string(record.text)});
    if (record.kind == jyn::RecordKind::kLate && fieldsRead) {
        lateMs_.push_back(static_cast<double>(record.figure.value));
    }
    Answer(record);
}

// The answers to requests: each RX that follows a request's TX with no
// other reception in between.
void Reader::Answer(const jyn::TraceRecord& record) {
    if (record.kind == jyn::RecordKind::kTx) {
        asked_ = record.request;
        sent_ = record.time;
    } else if (record.kind == jyn::RecordKind::kRx || record.kind == jyn::RecordKind::kTimeout) {
        // A wall clock set back between the two gives no figure at all.
        if (record.kind == jyn::RecordKind::kRx && asked_ && record.time >= sent_) {
            responses_.push_back({record.time, static_cast<double>(record.time - sent_) / 1e3});
        }
        asked_ = false;
    }
}

void Reader::Line(std::string_view line, const std::string& where, bool first) {
    ++data_.lines;
    jyn::TraceRecord record;
    const jyn::LineRead read = jyn::ReadTraceLine(line, record);
    switch (read) {
        case jyn::LineRead::kBlank: return;
        case jyn::LineRead::kHeader: Header(record.text, first); return;
        case jyn::LineRead::kNoStamp: NotUnderstood(where, "no time stamp"); return;
        case jyn::LineRead::kNoKind: NotUnderstood(where, "no record kind"); return;
        case jyn::LineRead::kRecord:
        case jyn::LineRead::kBadFields: break;
    }
    if (record.kind == jyn::RecordKind::kTxn) {
        CloseTransaction(record, read == jyn::LineRead::kRecord, where);
        return;
    }
    // The port's records fall between transactions.
    if (record.kind == jyn::RecordKind::kPort) return;
    Pend(record, read == jyn::LineRead::kRecord);
}

void Reader::CloseTransaction(const jyn::TraceRecord& record, bool fieldsRead,
                              const std::string& where) {
    if (!fieldsRead) {
        // Its records cannot be told apart from the next transaction's.
        NotUnderstood(where, "a TXN line that cannot be read");
        DropPending();
        return;
    }
    Transaction txn = TransactionOf(record.txn);
    txn.end = record.time;
    txn.start = pending_.empty() ? txn.end : std::min(txn.end, pending_.front().time);
    txn.where = where;
    txn.responses = std::move(responses_);
    txn.lateMs = std::move(lateMs_);
    if (txn.result != 0) txn.records = std::move(pending_);
    ClearPending();
    ++data_.transactionCount;
    if (sink_) {
        sink_(txn);
    } else {
        data_.transactions.push_back(std::move(txn));
    }
}

TraceData Reader::Finish() {
    DropPending();
    TraceData data = std::move(data_);
    data_ = TraceData();
    return data;
}

std::vector<std::string> ReadingOrder(const std::vector<std::string>& files) {
    const auto given = [&files](const std::string& name) {
        return std::find(files.begin(), files.end(), name) != files.end();
    };
    std::vector<std::string> order;
    const auto place = [&order](const std::string& name) {
        if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
    };
    for (const std::string& file : files) {
        const bool older = file.size() > 2 && file.compare(file.size() - 2, 2, ".1") == 0;
        const std::string newer = older ? file.substr(0, file.size() - 2) : std::string();
        if (older && given(newer)) {
            place(file);
            place(newer);
        } else {
            if (given(file + ".1")) place(file + ".1");
            place(file);
        }
    }
    return order;
}

void ReadBytes(std::string_view bytes, const std::string& name, Reader& reader) {
    Lines lines(name, reader);
    lines.Feed(bytes);
    lines.End();
}

namespace {

// Feeds a file's bytes to the reader, at most `limit` of them; the count
// read in `bytes`.
bool ReadFile(const std::string& file, uint64_t limit, Reader& reader, uint64_t& bytes,
              std::string& error) {
    std::string why;
    uint64_t size = 0;
    std::FILE* in = jyn::OpenTraceToRead(file, size, why);
    if (in == nullptr) {
        error = "cannot read the trace '" + file + "': " + why;
        return false;
    }
    limit = std::min(limit, size);
    const auto chunk = std::make_unique<char[]>(kChunk);
    Lines lines(file, reader);
    bytes = 0;
    while (bytes < limit) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(kChunk, limit - bytes));
        const std::size_t n = std::fread(chunk.get(), 1, want, in);
        if (n == 0) break;
        lines.Feed(std::string_view(chunk.get(), n));
        bytes += n;
    }
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) {
        error = "cannot read the trace '" + file + "'";
        return false;
    }
    lines.End();
    return true;
}

}  // namespace

bool ReadFiles(const std::vector<std::string>& files, TraceData& data, std::string& error,
               const TransactionSink& sink) {
    Reader reader(sink);
    const std::vector<std::string> order = ReadingOrder(files);
    std::vector<uint64_t> sizes;
    for (const std::string& file : order) {
        sizes.push_back(0);
        if (!ReadFile(file, UINT64_MAX, reader, sizes.back(), error)) return false;
    }
    data = reader.Finish();
    data.files = order;
    data.bytes = sizes;
    return true;
}

bool ReadAgain(const TraceData& data, std::string& error, const TransactionSink& sink) {
    Reader reader(sink);
    for (std::size_t i = 0; i < data.files.size() && i < data.bytes.size(); ++i) {
        uint64_t bytes = 0;
        if (!ReadFile(data.files[i], data.bytes[i], reader, bytes, error)) return false;
    }
    reader.Finish();
    return true;
}

std::string Printable(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            out += '<';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 15];
            out += '>';
        }
    }
    return out;
}

}  // namespace jynmb::trace
