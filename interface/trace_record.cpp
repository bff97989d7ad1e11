#include "interface/trace_record.h"

#include <algorithm>
#include <cstdio>

#include "interface/chars.h"
#include "interface/host_abi.h"

namespace jyn {

namespace {

constexpr std::size_t kStampLength = 27;  // 2026-12-09T12:49:34.057805Z
constexpr std::size_t kLongestKind = 15;
constexpr std::size_t kLongestNumber = 18;  // far beyond any count, within 64 bits
constexpr std::size_t kMostDecimals = 6;
constexpr uint64_t kLargestCount = 0x7FFFFFFF;
constexpr int64_t kMicrosPerDay = 86400000000LL;

struct KindName {
    RecordKind kind;
    std::string_view word;
};

const KindName kKinds[] = {
    {RecordKind::kTx, "TX"},           {RecordKind::kRx, "RX"},
    {RecordKind::kTimeout, "TIMEOUT"}, {RecordKind::kDrain, "DRAIN"},
    {RecordKind::kPort, "PORT"},       {RecordKind::kTxn, "TXN"},
    {RecordKind::kLate, "LATE"},       {RecordKind::kDebt, "DEBT"},
    {RecordKind::kForeign, "FOREIGN"}, {RecordKind::kOld, "OLD"},
    {RecordKind::kResync, "RESYNC"},
};

const char* const kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                       "BS",  "HT",  "LF",  "VT",  "CL",  "CR",  "SO",  "SI",
                                       "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                       "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

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

// "st 01 pc FF ": what LATE, DEBT and TXN begin with.
void AppendStation(std::string& out, std::string_view station, std::string_view pc) {
    out += "st ";
    out += station;
    out += " pc ";
    out += pc;
    out += ' ';
}

// Milliseconds with one decimal, as the transaction's time is written.
void AppendTenths(std::string& out, int64_t tenths) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%lld", static_cast<long long>(tenths / 10),
                  static_cast<long long>(tenths % 10));
    out += text;
}

}  // namespace

std::string_view KindWord(RecordKind kind) {
    for (const KindName& name : kKinds) {
        if (name.kind == kind) return name.word;
    }
    return {};
}

const char* TraceServiceName(uint32_t function) {
    switch (function & 0xFFu) {
        case kSingleRead: return "SingleRead";
        case kBlockRead: return "BlockRead";
        case kSingleWrite: return "SingleWrite";
        case kBlockWrite: return "BlockWrite";
        default: return "Transfer";
    }
}

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

namespace {
constexpr std::string_view kHeaderStart = "# JYNMB ";
constexpr std::string_view kHeaderWhat = " trace, instance ";
}  // namespace

std::string TraceHeaderText(const TraceHeaderFields& h) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "JYNMB %s%.*s%u, port %s: %u baud, %u data bits, %s, %s; reply time-out %llu ms",
                  h.version, static_cast<int>(kHeaderWhat.size()), kHeaderWhat.data(), h.instance,
                  h.port, h.baud, h.dataBits, h.parity, h.stopBits, h.replyTimeoutMs);
    return text;
}

bool IsTraceHeader(std::string_view head) {
    const std::string_view first = head.substr(0, head.find('\n'));
    return first.substr(0, kHeaderStart.size()) == kHeaderStart &&
           first.find(kHeaderWhat) != std::string_view::npos;
}

void AppendTraceHeader(std::string& out, std::string_view header) {
    out += "# ";
    out += header;
    out += '\n';
}

void AppendTraceLine(std::string& out, TraceStamp stamp, RecordKind kind, std::string_view text) {
    out += TraceTime(stamp);
    out += ' ';
    out += KindWord(kind);
    out += ' ';
    out += text;
    out += '\n';
}

std::string RxText(const unsigned char* bytes, std::size_t count, const char* note) {
    std::string text = TraceText(bytes, count);
    if (note != nullptr) {
        text += " (";
        text += note;
        text += ')';
    }
    return text;
}

std::string TimeoutText(uint32_t waitedMs) { return std::to_string(waitedMs) + " ms"; }

std::string DrainText(const char* by, const unsigned char* bytes, std::size_t count) {
    return std::string(by) + " " + std::to_string(count) + " " + TraceText(bytes, count);
}

std::string TxnText(const TxnFields& txn) {
    std::string text;
    text.reserve(160 + txn.gate.size() + txn.naks.size() + txn.note.size());
    AppendStation(text, txn.station, txn.pc);
    text += txn.service;
    text += " '";
    // The host's text may hold anything behind what the parser reads: a line
    // break in it must not end the record.
    text += TraceText(reinterpret_cast<const unsigned char*>(txn.gate.data()), txn.gate.size());
    text += "' attempts " + std::to_string(txn.attempts);
    text += " result " + std::to_string(txn.result);
    text += " ms ";
    AppendTenths(text, txn.tenthsMs);
    text += " timeouts " + std::to_string(txn.timeouts);
    text += " naks ";
    text += txn.naks.empty() ? std::string_view("-") : txn.naks;
    text += " settles " + std::to_string(txn.settles);
    text += " out " + std::to_string(txn.bytesOut);
    text += " in " + std::to_string(txn.bytesIn);
    if (!txn.note.empty()) {
        text += ' ';
        text += txn.note;
    }
    return text;
}

std::string LateText(const StationFigure& late) {
    std::string text;
    AppendStation(text, late.station, late.pc);
    return text + std::to_string(late.value) + " ms";
}

std::string DebtText(const StationFigure& debt) {
    std::string text;
    AppendStation(text, debt.station, debt.pc);
    return text + "owes " + std::to_string(debt.value);
}

std::string_view NoticeText(RecordKind kind) {
    switch (kind) {
        case RecordKind::kForeign: return "another station's frame, still waiting";
        case RecordKind::kOld: return "a frame of the station's own, not the proof";
        case RecordKind::kResync: return "proof, the station owes nothing";
        default: return {};
    }
}

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// ---- reading -------------------------------------------------------------

namespace {

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

bool Count(std::string_view text, int64_t& value) {
    uint64_t count = 0;
    if (!Count(text, count) || count > kLargestCount) return false;
    value = static_cast<int64_t>(count);
    return true;
}

// "3.4": milliseconds with one decimal; more decimals (a hand-made line)
// are read and cut to the tenth.
bool Tenths(std::string_view text, int64_t& tenths) {
    const std::size_t dot = text.find('.');
    uint64_t whole = 0;
    uint64_t fraction = 0;
    if (dot == std::string_view::npos || !Count(text.substr(0, dot), whole) ||
        !Count(text.substr(dot + 1), fraction) || text.size() - dot - 1 > kMostDecimals ||
        whole > static_cast<uint64_t>(INT64_MAX / 10 - 1)) {
        return false;
    }
    tenths = static_cast<int64_t>(whole * 10 + static_cast<uint64_t>(text[dot + 1] - '0'));
    return true;
}

bool HexDigit(char c) { return chars::HexDigitValue(static_cast<unsigned char>(c)) >= 0; }

// Calls `take` with each code of a NAK list ("02,15,??"); false when one is
// no code. "-" is the empty list.
template <typename Take>
bool EachNakCode(std::string_view text, Take take) {
    if (text == "-") return true;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view code = text.substr(at, comma - at);
        if (code != "??" && (code.size() != 2 || !HexDigit(code[0]) || !HexDigit(code[1]))) {
            return false;
        }
        take(code);
        at = comma + 1;
    }
    return true;
}

// Takes "<name> <value>" from the front of `rest`, with the blank after it
// when there is one.
bool Field(std::string_view& rest, std::string_view name, std::string_view& value) {
    if (rest.size() <= name.size() || !StartsWith(rest, name) || rest[name.size()] != ' ') {
        return false;
    }
    rest.remove_prefix(name.size() + 1);
    const std::size_t blank = std::min(rest.find(' '), rest.size());
    value = rest.substr(0, blank);
    rest.remove_prefix(std::min(blank + 1, rest.size()));
    return true;
}

// "attempts 1 result 0 ms 3.4 timeouts 0 naks - settles 0 out 21 in 5",
// then a note or nothing.
bool ReadCounts(std::string_view rest, TxnFields& txn) {
    std::string_view v[8];
    const bool named = Field(rest, "attempts", v[0]) && Field(rest, "result", v[1]) &&
                       Field(rest, "ms", v[2]) && Field(rest, "timeouts", v[3]) &&
                       Field(rest, "naks", v[4]) && Field(rest, "settles", v[5]) &&
                       Field(rest, "out", v[6]);
    // "in" ends the counts: what follows its blank is the note.
    if (!named || !StartsWith(rest, "in ")) return false;
    rest.remove_prefix(3);
    const std::size_t blank = std::min(rest.find(' '), rest.size());
    v[7] = rest.substr(0, blank);
    txn.note = rest.substr(std::min(blank + 1, rest.size()));
    txn.naks = v[4] == "-" ? std::string_view() : v[4];
    return Count(v[0], txn.attempts) && Count(v[1], txn.result) && Tenths(v[2], txn.tenthsMs) &&
           Count(v[3], txn.timeouts) && EachNakCode(v[4], [](std::string_view) {}) &&
           Count(v[5], txn.settles) && Count(v[6], txn.bytesOut) && Count(v[7], txn.bytesIn);
}

// "st 01 pc FF ", station and PC in hexadecimal as the driver writes them.
bool ReadStation(std::string_view& rest, std::string_view& station, std::string_view& pc) {
    if (rest.size() < 12 || !StartsWith(rest, "st ") || rest.substr(5, 4) != " pc " ||
        rest[11] != ' ' || !HexDigit(rest[3]) || !HexDigit(rest[4]) || !HexDigit(rest[9]) ||
        !HexDigit(rest[10])) {
        return false;
    }
    station = rest.substr(3, 2);
    pc = rest.substr(9, 2);
    rest.remove_prefix(12);
    return true;
}

// The gate text is the host's and may hold anything, quotes and blanks
// too: it ends at the last "' attempts ".
bool ReadTxn(std::string_view text, TxnFields& txn) {
    if (!ReadStation(text, txn.station, txn.pc)) return false;
    const std::size_t quote = text.find(" '");
    const std::size_t close = text.rfind("' attempts ");
    if (quote == std::string_view::npos || quote == 0 || close == std::string_view::npos ||
        close < quote + 2) {
        return false;
    }
    txn.service = text.substr(0, quote);
    txn.gate = text.substr(quote + 2, close - quote - 2);
    return ReadCounts(text.substr(close + 2), txn);
}

// "st 01 pc FF 412 ms" and "st 01 pc FF owes 3".
bool ReadFigure(std::string_view text, std::string_view before, std::string_view after,
                StationFigure& figure) {
    if (!ReadStation(text, figure.station, figure.pc) || !StartsWith(text, before) ||
        text.size() < before.size() + after.size() ||
        text.substr(text.size() - after.size()) != after) {
        return false;
    }
    text = text.substr(before.size(), text.size() - before.size() - after.size());
    return Count(text, figure.value);
}

RecordKind KindOf(std::string_view word) {
    for (const KindName& name : kKinds) {
        if (name.word == word) return name.kind;
    }
    return RecordKind::kOther;
}

bool KindWordShape(std::string_view word) {
    if (word.empty() || word.size() > kLongestKind) return false;
    return std::all_of(word.begin(), word.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool ReadFields(TraceRecord& record) {
    switch (record.kind) {
        case RecordKind::kTxn: return ReadTxn(record.text, record.txn);
        case RecordKind::kLate: return ReadFigure(record.text, "", " ms", record.figure);
        case RecordKind::kDebt: return ReadFigure(record.text, "owes ", "", record.figure);
        case RecordKind::kTx: record.request = StartsWith(record.text, "<ENQ>"); return true;
        default: return true;
    }
}

}  // namespace

bool ReadTraceTime(std::string_view text, TraceStamp& stamp) {
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

bool SplitNakCodes(std::string_view naks, std::vector<std::string>& codes) {
    codes.clear();
    if (naks.empty()) return true;
    const bool read =
        EachNakCode(naks, [&codes](std::string_view code) { codes.emplace_back(code); });
    if (!read) codes.clear();
    return read;
}

LineRead ReadTraceLine(std::string_view line, TraceRecord& record) {
    record = TraceRecord();
    if (line.empty()) return LineRead::kBlank;
    if (StartsWith(line, "# ")) {
        record.text = line.substr(2);
        return LineRead::kHeader;
    }
    if (line.size() < kStampLength + 2 || line[kStampLength] != ' ' ||
        !ReadTraceTime(line.substr(0, kStampLength), record.time)) {
        return LineRead::kNoStamp;
    }
    const std::string_view rest = line.substr(kStampLength + 1);
    const std::size_t blank = std::min(rest.find(' '), rest.size());
    record.word = rest.substr(0, blank);
    record.text = blank < rest.size() ? rest.substr(blank + 1) : std::string_view();
    if (!KindWordShape(record.word)) return LineRead::kNoKind;
    record.kind = KindOf(record.word);
    return ReadFields(record) ? LineRead::kRecord : LineRead::kBadFields;
}

}  // namespace jyn
