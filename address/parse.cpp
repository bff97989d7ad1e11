#include "address/parse.h"

#include <limits>

#include "address/device_table.h"
#include "address/gate_kind.h"
#include "interface/chars.h"
#include "interface/log.h"

namespace jyn::address {

namespace {

constexpr char kTooLong[] = "JYNMB> Tag address string too long";
constexpr char kIllegalStation[] = "JYNMB> Parse(), Illegal Plc Address, '%s'";
constexpr char kIllegalKind[] = "JYNMB> Parse(), 3rd char should be 'B'it or 'W'ord, '%s'";
constexpr char kUnknownMemType[] = "JYNMB> Parse() unknown memtype '%c', '%s'";
constexpr char kIllegalDecimal[] = "JYNMB> Parse() illegal decimal address, '%s'";
constexpr char kIllegalHex[] = "JYNMB> Parse() illegal hex address, '%s'";
constexpr char kIllegalLength[] = "JYNMB> Parse() Illegal tag address length (%s)";
constexpr char kBadLength[] = "JYNMB> Parse() tag adress length (%s)";
constexpr char kIllegalSubDevice[] = "JYNMB> Parse() illegal timer/counter memory type, '%s'";
constexpr char kIllegalTimerCounter[] = "JYNMB> Parse() illegal timer/counter address, '%s'";
constexpr char kWordOnly[] = "JYNMB> Parse(), only word gate allowed for mem type, '%s'";
constexpr char kMustBeString[] = "JYNMB: Tag %s must be type 'String'";
constexpr char kStringTooLong[] = "JYNMB> Parse() Gate Adress String '%s'too long ";
constexpr char kIllegalString[] = "JYNMB> Parse() illegal String gate, '%s'";
constexpr char kStringTooLarge[] = "JYNMB> Parse() String Length > 64, '%s'";
// Not a refusal: the gate stands on the register its number names.
constexpr char kNotRead[] = "JYNMB> Parse() characters '%s' not read, '%s'";

constexpr std::size_t kKindPosition = 2;
constexpr std::size_t kLetterPosition = 3;
constexpr std::size_t kNumberPosition = 4;
constexpr std::size_t kTimerNumberPosition = 5;
constexpr std::size_t kStringDigits = 4;
constexpr std::size_t kStationDigits = 2;
constexpr std::size_t kMaxPlainLength = 8;
constexpr std::size_t kMaxTimerCounterLength = 9;
constexpr std::size_t kFileRegisterLength = 8;
constexpr std::size_t kMinLinkRegisterLength = 7;
constexpr int32_t kPointsPerGroup = 16;

// Device numbers never get near this; a longer run of digits stops here
// instead of wrapping round to a small number that looks plausible.
constexpr uint32_t kSaturated = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());

using chars::DigitValue;
using chars::IsBlank;
using chars::ToUpper;

// The host's text, upper-cased, in a zero-filled area: every position Parse
// looks at lies inside it, whatever the length of the text.
struct WorkCopy {
    char text[kAddressCopySize] = {};
    std::size_t length = 0;

    explicit WorkCopy(const AddressCopy& host) : length(host.length) {
        for (std::size_t i = 0; i < host.length; ++i) text[i] = ToUpper(host.text[i]);
    }
    char At(std::size_t position) const { return position < length ? text[position] : '\0'; }
};

// One reading of a text: the working copy, the host's own spelling, whether
// refusals are logged, and which positions have been read so far.
struct Scan {
    const AddressCopy& host;
    WorkCopy copy;
    bool quiet;
    bool read[kAddressCopySize] = {};

    Scan(const AddressCopy& text, bool silent) : host(text), copy(text), quiet(silent) {}
    void Mark(std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to && i < kAddressCopySize; ++i) read[i] = true;
    }
};

// Reads a number the way a formatted scan does: blanks skipped, then digits
// of the radix up to the first other character (at most maxDigits of them
// when that is not 0). No sign: device numbers are unsigned. `end` is the
// position after the last character read.
bool ScanNumber(const char* text, std::size_t from, uint32_t radix, std::size_t maxDigits,
                uint32_t& value, std::size_t& end) {
    std::size_t i = from;
    while (i < kAddressCopySize && IsBlank(text[i])) ++i;
    std::size_t digits = 0;
    value = 0;
    for (; i < kAddressCopySize && (maxDigits == 0 || digits < maxDigits); ++i, ++digits) {
        const int digit = DigitValue(text[i], radix);
        if (digit < 0) break;
        const uint32_t next = value * radix + static_cast<uint32_t>(digit);
        value = (value > kSaturated / radix || next > kSaturated) ? kSaturated : next;
    }
    end = i;
    return digits > 0;
}

// "0x1F" would be X1F to a formatted scan that takes C's prefix and X0 to
// one that stops at the 'X': a hexadecimal number with that prefix names no
// register for sure, so it is refused like no number at all.
bool HasHexPrefix(const WorkCopy& copy, std::size_t from) {
    std::size_t i = from;
    while (i < kAddressCopySize && IsBlank(copy.text[i])) ++i;
    return copy.At(i) == '0' && copy.At(i + 1) == 'X';
}

bool ScanAddress(GateAddress& out, Scan& scan, std::size_t from, uint32_t radix) {
    uint32_t value = 0;
    std::size_t end = from;
    if (radix == 16 && HasHexPrefix(scan.copy, from)) return false;
    if (!ScanNumber(scan.copy.text, from, radix, 0, value, end)) return false;
    scan.Mark(from, end);
    out.address = static_cast<int32_t>(value);
    return true;
}

bool Refuse(const Scan& scan, const char* format, const char* text) {
    if (!scan.quiet) LogError(format, text);
    return false;
}

// '1', 'D', 'F', 'L', 'M', 'Z': the number is read before the length is
// judged, so a text with no number says so whatever its length.
bool ParseDecimalDevice(GateAddress& out, Scan& scan) {
    const WorkCopy& copy = scan.copy;
    if (!ScanAddress(out, scan, kNumberPosition, 10)) {
        return Refuse(scan, kIllegalDecimal, copy.text);
    }
    if (copy.length > kMaxPlainLength) return Refuse(scan, kIllegalLength, copy.text);
    return true;
}

// '2', 'B', 'X', 'Y'.
bool ParseHexDevice(GateAddress& out, Scan& scan) {
    const WorkCopy& copy = scan.copy;
    if (!ScanAddress(out, scan, kNumberPosition, 16)) return Refuse(scan, kIllegalHex, copy.text);
    if (copy.length > kMaxPlainLength) return Refuse(scan, kBadLength, copy.text);
    return true;
}

// 'T' and 'C': contact, coil or present value, then a decimal number.
bool ParseTimerCounter(GateAddress& out, Scan& scan) {
    const WorkCopy& copy = scan.copy;
    if (copy.length > kMaxTimerCounterLength) return Refuse(scan, kBadLength, copy.text);
    const char sub = copy.At(kNumberPosition);
    if (sub != 'S' && sub != 'C' && sub != 'N') return Refuse(scan, kIllegalSubDevice, copy.text);
    scan.Mark(kNumberPosition, kTimerNumberPosition);
    out.memType = PackedCode(copy.text[kLetterPosition], sub);
    if (!ScanAddress(out, scan, kTimerNumberPosition, 10)) {
        return Refuse(scan, kIllegalTimerCounter, copy.text);
    }
    // Nine characters reach the string marker's place, and every transfer
    // takes a text with 'L' there for a string gate of length 0.
    if (HasStringMarker(scan.host.text)) return Refuse(scan, kIllegalTimerCounter, copy.text);
    return true;
}

// 'R' without the string marker: always four digits.
bool ParseFileRegister(GateAddress& out, Scan& scan) {
    const WorkCopy& copy = scan.copy;
    if (!ScanAddress(out, scan, kNumberPosition, 10)) {
        return Refuse(scan, kIllegalDecimal, copy.text);
    }
    if (copy.length != kFileRegisterLength) return Refuse(scan, kIllegalLength, copy.text);
    return true;
}

// 'W' without the string marker. A bit gate is refused as word-only later,
// whatever its length.
bool ParseLinkRegister(GateAddress& out, Scan& scan, bool bitGate) {
    const WorkCopy& copy = scan.copy;
    if (!ScanAddress(out, scan, kNumberPosition, 16)) return Refuse(scan, kIllegalHex, copy.text);
    const bool lengthOk = copy.length >= kMinLinkRegisterLength && copy.length <= kMaxPlainLength;
    if (!bitGate && !lengthOk) return Refuse(scan, kIllegalLength, copy.text);
    return true;
}

bool RefuseUnknownLetter(char letter, const Scan& scan) {
    // A text that ends at the letter has none to show; a terminator inside
    // the message would cut off the text it quotes.
    const int shown = letter == '\0' ? ' ' : static_cast<unsigned char>(letter);
    if (!scan.quiet) LogInfo(kUnknownMemType, shown, scan.copy.text);
    return false;
}

// Positions 4 to 7: exactly four digits, hexadecimal for link registers.
bool ScanStringDevice(GateAddress& out, const AddressCopy& host) {
    const uint32_t radix = ToUpper(host.text[kLetterPosition]) == 'W' ? 16 : 10;
    uint32_t value = 0;
    for (std::size_t i = kNumberPosition; i < kNumberPosition + kStringDigits; ++i) {
        const int digit = DigitValue(host.text[i], radix);
        if (digit < 0) return false;
        value = value * radix + static_cast<uint32_t>(digit);
    }
    out.address = static_cast<uint16_t>(value);
    return true;
}

// The marker and the length digits behind it, as every transfer reads them.
void MarkStringLength(Scan& scan) {
    std::size_t end = kStringMarkerPosition + 1;
    while (end < kAddressCopySize && scan.host.text[end] >= '0' && scan.host.text[end] <= '9') {
        ++end;
    }
    scan.Mark(kNumberPosition, end);
}

// The string-address step for 'S', and for 'R' and 'W' with the marker
// 'L'. It reads the host's own spelling, not the upper-cased copy.
bool ParseStringGate(GateDefinition& gate, Scan& scan) {
    const AddressCopy& host = scan.host;
    if (gate.gateType != kGateString) return Refuse(scan, kMustBeString, host.text);
    if (host.cut || host.length > kMaxStringAddressLength) {
        return Refuse(scan, kStringTooLong, host.text);
    }
    if (!ScanStringDevice(gate.gateAddress, host)) return Refuse(scan, kIllegalDecimal, host.text);
    if (!HasStringMarker(host.text)) return Refuse(scan, kIllegalString, host.text);
    // The length digits must follow the marker directly: every transfer reads
    // them from there, without skipping blanks.
    const char first = host.text[kStringMarkerPosition + 1];
    if (first < '0' || first > '9') return Refuse(scan, kIllegalString, host.text);
    if (StringLength(host.text) > kMaxStringLength) return Refuse(scan, kStringTooLarge, host.text);
    MarkStringLength(scan);
    return true;
}

bool ParseDevice(GateDefinition& gate, Scan& scan, bool bitGate) {
    GateAddress& out = gate.gateAddress;
    const char letter = scan.copy.At(kLetterPosition);
    const bool marked = scan.copy.At(kStringMarkerPosition) == 'L';
    out.memType = static_cast<unsigned char>(letter);
    scan.Mark(kLetterPosition, kNumberPosition);
    switch (letter) {
        case '1':
        case 'D':
        case 'F':
        case 'L':
        case 'M':
        case 'Z': return ParseDecimalDevice(out, scan);
        case '2':
        case 'B':
        case 'X':
        case 'Y': return ParseHexDevice(out, scan);
        case 'T':
        case 'C': return ParseTimerCounter(out, scan);
        case 'R': return marked ? ParseStringGate(gate, scan) : ParseFileRegister(out, scan);
        case 'S': return ParseStringGate(gate, scan);
        case 'W':
            return marked ? ParseStringGate(gate, scan) : ParseLinkRegister(out, scan, bitGate);
        default: return RefuseUnknownLetter(letter, scan);
    }
}

// Registers and present values have no single points to address. The 32-bit
// letters and string gates are word-only too: a bit of them has no encoding
// in the read and write commands. Only a bit device's points are.
bool FinishGate(GateAddress& out, const Scan& scan, bool bitGate) {
    if (!bitGate) {
        out.bitIndex = -1;
        out.bitWidth = 16;
        return true;
    }
    if (!IsBitDevice(out.memType)) {
        if (!scan.quiet) LogInfo(kWordOnly, scan.copy.text);
        return false;
    }
    out.bitIndex = out.address % kPointsPerGroup;
    out.address /= kPointsPerGroup;
    out.bitWidth = 8;
    return true;
}

bool ParseStation(GateAddress& out, Scan& scan) {
    uint32_t station = 0;
    std::size_t end = 0;
    if (!ScanNumber(scan.copy.text, 0, 16, kStationDigits, station, end)) {
        return Refuse(scan, kIllegalStation, scan.copy.text);
    }
    scan.Mark(0, end);
    out.station = static_cast<int32_t>(station);
    return true;
}

bool ParseScan(GateDefinition& gate, Scan& scan) {
    if (scan.host.cut) {
        if (!scan.quiet) LogError(kTooLong);
        return false;
    }
    if (!ParseStation(gate.gateAddress, scan)) return false;
    const char kind = scan.copy.At(kKindPosition);
    if (kind != 'B' && kind != 'W') return Refuse(scan, kIllegalKind, scan.copy.text);
    scan.Mark(kKindPosition, kLetterPosition);
    const bool bitGate = kind == 'B';
    return ParseDevice(gate, scan, bitGate) && FinishGate(gate.gateAddress, scan, bitGate);
}

TextReading ReadingFrom(const Scan& scan, bool accepted) {
    TextReading reading;
    reading.accepted = accepted;
    reading.length = scan.host.length;
    if (!accepted) return reading;  // a refused text addresses nothing
    for (std::size_t i = 0; i < scan.host.length; ++i) reading.unread[i] = !scan.read[i];
    return reading;
}

// The note names the characters as the other messages quote the text.
void NoteUnread(const Scan& scan) {
    const TextReading reading = ReadingFrom(scan, true);
    if (!reading.AnyUnread()) return;
    char unread[kAddressCopySize] = {};
    std::size_t count = 0;
    for (std::size_t i = 0; i < reading.length; ++i) {
        if (reading.unread[i]) unread[count++] = scan.copy.text[i];
    }
    LogInfo(kNotRead, unread, scan.copy.text);
}

}  // namespace

AddressCopy CopyAddressText(const char* text) {
    AddressCopy copy{};
    if (text == nullptr) return copy;
    while (copy.length < kMaxAddressLength && text[copy.length] != '\0') {
        copy.text[copy.length] = text[copy.length];
        ++copy.length;
    }
    copy.cut = copy.length == kMaxAddressLength && text[copy.length] != '\0';
    return copy;
}

int32_t Parse(GateDefinition& gate) {
    const AddressCopy host = CopyAddressText(gate.addressText);
    Scan scan(host, false);
    if (!ParseScan(gate, scan)) return kGateFailure;
    NoteUnread(scan);
    return kOk;
}

bool TextReading::AnyUnread() const {
    for (std::size_t i = 0; i < length; ++i) {
        if (unread[i]) return true;
    }
    return false;
}

TextReading ReadingOf(const char* text, int32_t gateType) {
    const AddressCopy host = CopyAddressText(text);
    GateDefinition gate{};
    gate.addressText = host.text;
    gate.gateType = gateType;
    Scan scan(host, true);
    const bool accepted = ParseScan(gate, scan);
    return ReadingFrom(scan, accepted);
}

}  // namespace jyn::address
