#include "host/jynmb/trace/trace_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "interface/trace.h"

namespace jynmb::trace {

namespace {

constexpr std::size_t kStampLength = 27;  // 2026-12-09T12:49:34.057805Z
constexpr std::size_t kLongestKind = 15;
constexpr std::size_t kLongestNumber = 18;  // far beyond any count, within 64 bits
constexpr std::size_t kChunk = 65536;
constexpr Micros kMicrosPerDay = 86400000000LL;

bool Digits(std::string_view text, std::size_t at, std::size_t count, unsigned& value) {
    value = 0;
    if (at + count > text.size()) return false;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

bool LeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

// A count as the driver writes it: decimal digits only.
bool Count(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > kLongestNumber) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool Count(std::string_view text, long& value) {
    uint64_t count = 0;
    if (!Count(text, count) || count > 0x7FFFFFFFu) return false;
    value = static_cast<long>(count);
    return true;
}

// "3.4": milliseconds with one decimal.
bool Milliseconds(std::string_view text, double& ms) {
    const std::size_t dot = text.find('.');
    uint64_t whole = 0;
    uint64_t tenths = 0;
    if (dot == std::string_view::npos || !Count(text.substr(0, dot), whole) ||
        !Count(text.substr(dot + 1), tenths) || text.size() - dot - 1 > 6) {
        return false;
    }
    double fraction = static_cast<double>(tenths);
    for (std::size_t i = dot + 1; i < text.size(); ++i) fraction /= 10;
    ms = static_cast<double>(whole) + fraction;
    return true;
}

bool NakCodes(std::string_view text, std::vector<std::string>& codes) {
    codes.clear();
    if (text == "-") return true;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view code = text.substr(at, comma - at);
        const auto hex = [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        };
        if (code != "??" && (code.size() != 2 || !hex(code[0]) || !hex(code[1]))) return false;
        codes.emplace_back(code);
        at = comma + 1;
    }
    return !codes.empty();
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t blank = std::min(text.find(' ', at), text.size());
        words.push_back(text.substr(at, blank - at));
        at = blank + 1;
    }
    return words;
}

// "attempts 1 result 0 ms 3.4 timeouts 0 naks - settles 0 out 21 in 5",
// then a note or nothing.
bool Counts(std::string_view text, Transaction& txn) {
    const std::vector<std::string_view> words = Words(text);
    static const char* const kNames[] = {"attempts", "result",  "ms",  "timeouts",
                                         "naks",     "settles", "out", "in"};
    constexpr std::size_t kPairs = std::size(kNames);
    if (words.size() < 2 * kPairs) return false;
    for (std::size_t i = 0; i < kPairs; ++i) {
        if (words[2 * i] != kNames[i]) return false;
    }
    if (!Count(words[1], txn.attempts) || !Count(words[3], txn.result) ||
        !Milliseconds(words[5], txn.ms) || !Count(words[7], txn.timeouts) ||
        !NakCodes(words[9], txn.naks) || !Count(words[11], txn.settles) ||
        !Count(words[13], txn.bytesOut) || !Count(words[15], txn.bytesIn)) {
        return false;
    }
    const std::size_t noted = 2 * kPairs;
    for (std::size_t i = noted; i < words.size(); ++i) {
        txn.note += (i > noted ? " " : "") + std::string(words[i]);
    }
    return true;
}

// "st 01 pc FF SingleRead '01WD100' attempts ...". The gate text is the
// host's and may hold anything, quotes and blanks too: it ends at the last
// "' attempts ".
bool ParseTxn(std::string_view text, Transaction& txn) {
    if (text.size() < 12 || !StartsWith(text, "st ") || text.substr(5, 4) != " pc " ||
        text[11] != ' ') {
        return false;
    }
    // Hexadecimal as the driver writes them: no more rows than there are
    // station and PC numbers.
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (!hex(text[3]) || !hex(text[4]) || !hex(text[9]) || !hex(text[10])) return false;
    txn.station = std::string(text.substr(3, 2));
    txn.pc = std::string(text.substr(9, 2));
    const std::size_t quote = text.find(" '", 12);
    const std::size_t close = text.rfind("' attempts ");
    if (quote == std::string_view::npos || close == std::string_view::npos || close < quote + 2 ||
        quote == 12) {
        return false;
    }
    txn.service = std::string(text.substr(12, quote - 12));
    txn.gate = std::string(text.substr(quote + 2, close - quote - 2));
    return Counts(text.substr(close + 2), txn);
}

bool KindWord(std::string_view kind) {
    if (kind.empty() || kind.size() > kLongestKind) return false;
    return std::all_of(kind.begin(), kind.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// The answers to requests: each RX that follows a request's TX with no
// other reception in between.
std::vector<Response> ResponsesOf(const std::vector<Record>& records) {
    std::vector<Response> responses;
    bool asked = false;  // a request went out and nothing came back yet
    Micros sent = 0;
    for (const Record& record : records) {
        if (record.kind == "TX") {
            asked = StartsWith(record.text, "<ENQ>");
            sent = record.time;
        } else if (record.kind == "RX" || record.kind == "TIMEOUT") {
            // A wall clock set back between the two gives no figure at all.
            if (record.kind == "RX" && asked && record.time >= sent) {
                responses.push_back({record.time, static_cast<double>(record.time - sent) / 1e3});
            }
            asked = false;
        }
    }
    return responses;
}

// The late answers: "st 01 pc FF 412 ms", as the driver writes them.
std::vector<double> LateOf(const std::vector<Record>& records) {
    std::vector<double> late;
    for (const Record& record : records) {
        if (record.kind != "LATE") continue;
        unsigned long ms = 0;
        char unit[3] = {};
        if (std::sscanf(record.text.c_str(), "st %*2s pc %*2s %lu %2s", &ms, unit) == 2 &&
            std::string(unit) == "ms") {
            late.push_back(static_cast<double>(ms));
        }
    }
    return late;
}

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

}  // namespace

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool ParseStamp(std::string_view text, Micros& stamp) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, micros = 0;
    if (text.size() != kStampLength || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' || text[26] != 'Z') {
        return false;
    }
    if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
        !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) ||
        !Digits(text, 17, 2, second) || !Digits(text, 20, 6, micros)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return false;
    }
    const int64_t days = DaysFromCivil(year, month, day);
    stamp = days * kMicrosPerDay +
            (static_cast<int64_t>(hour) * 3600 + minute * 60 + second) * 1000000LL + micros;
    return true;
}

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
    pending_.clear();
    pendingBytes_ = 0;
}

// Records no TXN line has closed after far more than a transaction writes
// belong to none.
void Reader::Pend(Micros time, std::string_view kind, std::string_view text) {
    if (pending_.size() >= kMostPendingRecords || pendingBytes_ + text.size() > kMostPendingBytes) {
        DropPending();
    }
    pendingBytes_ += text.size();
    pending_.push_back({time, std::string(kind), std::string(text)});
}

void Reader::Line(std::string_view line, const std::string& where, bool first) {
    ++data_.lines;
    if (line.empty()) return;
    if (StartsWith(line, "# ")) {
        Header(line.substr(2), first);
        return;
    }
    Micros time = 0;
    if (line.size() < kStampLength + 2 || line[kStampLength] != ' ' ||
        !ParseStamp(line.substr(0, kStampLength), time)) {
        NotUnderstood(where, "no time stamp");
        return;
    }
    const std::string_view rest = line.substr(kStampLength + 1);
    const std::size_t blank = std::min(rest.find(' '), rest.size());
    const std::string_view kind = rest.substr(0, blank);
    const std::string_view text = blank < rest.size() ? rest.substr(blank + 1) : std::string_view();
    if (!KindWord(kind)) {
        NotUnderstood(where, "no record kind");
        return;
    }
    if (kind == "TXN") {
        CloseTransaction(time, text, where);
        return;
    }
    // The port's records fall between transactions.
    if (kind == "PORT") return;
    Pend(time, kind, text);
}

void Reader::CloseTransaction(Micros end, std::string_view text, const std::string& where) {
    Transaction txn;
    if (!ParseTxn(text, txn)) {
        // Its records cannot be told apart from the next transaction's.
        NotUnderstood(where, "a TXN line that cannot be read");
        DropPending();
        return;
    }
    txn.end = end;
    txn.start = pending_.empty() ? end : std::min(end, pending_.front().time);
    txn.where = where;
    txn.responses = ResponsesOf(pending_);
    txn.lateMs = LateOf(pending_);
    if (txn.result != 0) txn.records = std::move(pending_);
    pending_.clear();
    pendingBytes_ = 0;
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
