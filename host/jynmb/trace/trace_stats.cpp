#include "host/jynmb/trace/trace_stats.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace jynmb::trace {

namespace {

constexpr Micros kMicrosPerDay = 86400000000LL;

// Reads a moment's text from left to right.
class Cursor {
public:
    explicit Cursor(const std::string& text) : text_(text) {}
    bool Done() const { return at_ == text_.size(); }
    bool Next(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    // Between `least` and `most` digits.
    bool Number(std::size_t least, std::size_t most, unsigned& value) {
        value = 0;
        std::size_t count = 0;
        while (count < most && at_ < text_.size() &&
               std::isdigit(static_cast<unsigned char>(text_[at_]))) {
            value = value * 10 + static_cast<unsigned>(text_[at_++] - '0');
            ++count;
        }
        return count >= least;
    }
    // ".5" -> 500000 µs; up to six digits.
    bool Fraction(Micros& micros) {
        micros = 0;
        if (!Next('.')) return true;
        std::size_t count = 0;
        unsigned digit = 0;
        for (; count < 6 && Number(1, 1, digit); ++count) micros = micros * 10 + digit;
        if (count == 0) return false;
        for (; count < 6; ++count) micros *= 10;
        return true;
    }

private:
    const std::string& text_;
    std::size_t at_ = 0;
};

// HH:MM[:SS[.ffffff]] -> micros since midnight.
bool TimeOfDay(Cursor& cursor, Micros& micros) {
    unsigned hour = 0, minute = 0, second = 0;
    if (!cursor.Number(1, 2, hour) || !cursor.Next(':') || !cursor.Number(2, 2, minute) ||
        hour > 23 || minute > 59) {
        return false;
    }
    Micros fraction = 0;
    if (cursor.Next(':') &&
        (!cursor.Number(2, 2, second) || second > 59 || !cursor.Fraction(fraction))) {
        return false;
    }
    micros = ((hour * 60LL + minute) * 60 + second) * 1000000LL + fraction;
    return true;
}

bool HexByte(const std::string& text, std::string& two) {
    if (text.empty() || text.size() > 2) return false;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    two = text.size() == 1 ? "0" + text : text;
    for (char& c : two) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return true;
}

bool SameHex(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool Chosen(const Transaction& txn, const std::vector<StationChoice>& stations) {
    if (stations.empty()) return true;
    return std::any_of(stations.begin(), stations.end(), [&txn](const StationChoice& choice) {
        return SameHex(txn.station, choice.station) &&
               (choice.pc.empty() || SameHex(txn.pc, choice.pc));
    });
}

}  // namespace

Micros Moment::On(Micros firstOfTrace) const {
    if (!timeOfDay) return value;
    const Micros day =
        firstOfTrace - (((firstOfTrace % kMicrosPerDay) + kMicrosPerDay) % kMicrosPerDay);
    return day + value;
}

bool ParseMoment(const std::string& text, Moment& moment) {
    Cursor cursor(text);
    if (text.find('-') == std::string::npos) {
        moment.timeOfDay = true;
        return TimeOfDay(cursor, moment.value) && cursor.Done();
    }
    unsigned year = 0, month = 0, day = 0;
    if (!cursor.Number(4, 4, year) || !cursor.Next('-') || !cursor.Number(2, 2, month) ||
        !cursor.Next('-') || !cursor.Number(2, 2, day) || month < 1 || month > 12 || day < 1 ||
        day > 31) {
        return false;
    }
    Micros ofDay = 0;
    if ((cursor.Next('T') || cursor.Next(' ')) && !TimeOfDay(cursor, ofDay)) return false;
    cursor.Next('Z');
    if (!cursor.Done()) return false;
    moment.timeOfDay = false;
    moment.value = jyn::DaysFromCivil(year, month, day) * kMicrosPerDay + ofDay;
    // 2026-02-30 would quietly be 2026-03-02.
    return FormatStamp(moment.value).compare(0, 10, text, 0, 10) == 0;
}

bool ParseStationChoice(const std::string& text, StationChoice& choice) {
    const std::size_t colon = text.find(':');
    choice.pc.clear();
    if (!HexByte(text.substr(0, colon), choice.station)) return false;
    return colon == std::string::npos || HexByte(text.substr(colon + 1), choice.pc);
}

bool Selector::Takes(const Transaction& txn) {
    if (!resolved_) {
        resolved_ = true;
        if (selection_.since) since_ = selection_.since->On(txn.start);
        if (selection_.until) until_ = selection_.until->On(txn.start);
    }
    if ((since_ && txn.start < *since_) || (until_ && txn.start >= *until_)) return false;
    return Chosen(txn, selection_.stations);
}

std::vector<const Transaction*> Select(const TraceData& data, const Selection& selection) {
    std::vector<const Transaction*> chosen;
    Selector selector(selection);
    for (const Transaction& txn : data.transactions) {
        if (selector.Takes(txn)) chosen.push_back(&txn);
    }
    return chosen;
}

namespace {

// 2^11 exact buckets below 2048 µs; above, 1024 a power of two.
constexpr unsigned kExactBits = 11;
constexpr Micros kExact = Micros{1} << kExactBits;

uint32_t BucketOf(Micros micros) {
    if (micros < kExact) return static_cast<uint32_t>(micros);
    unsigned shift = 0;
    while ((micros >> shift) >= kExact) ++shift;
    return static_cast<uint32_t>((shift << kExactBits) | static_cast<uint32_t>(micros >> shift));
}

// The middle of the bucket's range.
double BucketMicros(uint32_t bucket) {
    const unsigned shift = bucket >> kExactBits;
    const double low = static_cast<double>(Micros{bucket & (kExact - 1)} << shift);
    return shift == 0 ? low : low + static_cast<double>(Micros{1} << shift) / 2;
}

}  // namespace

void Answers::Add(Micros micros) {
    if (micros < 0) return;
    ++buckets_[BucketOf(micros)];
    ++count_;
    max_ = std::max(max_, micros);
}

double Answers::Percentile(double share) const {
    if (count_ == 0) return 0;
    const double rank = std::ceil(share * static_cast<double>(count_));
    const uint64_t wanted = rank < 1 ? 1 : std::min(count_, static_cast<uint64_t>(rank));
    uint64_t seen = 0;
    for (const auto& [bucket, count] : buckets_) {
        seen += count;
        if (seen >= wanted) return std::min(BucketMicros(bucket), static_cast<double>(max_)) / 1e3;
    }
    return MaxMs();
}

void Tally::Add(const Transaction& txn) {
    StationStats& s = stations_[{txn.station, txn.pc}];
    if (s.transactions == 0) {
        s.station = txn.station;
        s.pc = txn.pc;
    }
    ++s.transactions;
    ++(txn.result == 0 ? s.good : s.failed);
    s.attempts += static_cast<uint64_t>(txn.attempts);
    s.timeouts += static_cast<uint64_t>(txn.timeouts);
    s.settles += static_cast<uint64_t>(txn.settles);
    s.bytesOut += txn.bytesOut;
    s.bytesIn += txn.bytesIn;
    for (const std::string& code : txn.naks) ++s.naks[code];
    if (txn.note.rfind(jyn::kReadAheadBlockNote, 0) == 0) ++s.readAheadBlocks;
    if (txn.note.rfind(jyn::kReadAheadServedNote, 0) == 0) ++s.readAheadServed;
    if (selected_ == 0) from_ = to_ = last_ = txn.start;
    for (double ms : txn.lateMs) s.late.Add(static_cast<Micros>(std::llround(ms * 1e3)));
    for (const Response& response : txn.responses) {
        s.answers.Add(static_cast<Micros>(std::llround(response.ms * 1e3)));
        last_ = std::max(last_, response.at);
    }
    ++selected_;
    failed_ += txn.result != 0 ? 1 : 0;
    from_ = std::min(from_, txn.start);
    to_ = std::max(to_, txn.end);
    last_ = std::max(last_, to_);
}

std::vector<StationStats> Tally::Stations() const {
    std::vector<StationStats> list;
    for (const auto& entry : stations_) list.push_back(entry.second);
    return list;
}

std::vector<StationStats> Statistics(const std::vector<const Transaction*>& transactions) {
    Tally tally;
    for (const Transaction* txn : transactions) tally.Add(*txn);
    return tally.Stations();
}

}  // namespace jynmb::trace
