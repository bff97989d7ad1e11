// Bad input from the host: every record field out of its range that the
// driver can check without guessing is refused, with its message, before
// anything reaches the line. One table; each case is one host mistake.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "driver/handlers.h"
#include "protocol/transaction.h"
#include "tests/support/fake_device.h"
#include "tests/support/frames.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {

// gtest prints a mismatch of message lists as lines, not as bytes.
void PrintTo(const LogLine& line, std::ostream* out) {
    *out << "[" << line.level << "] " << line.text;
}

namespace {

constexpr uint32_t kTimeoutUnits = 5;
const std::string kLongText(32, '0');

void NoPause(unsigned) {}

// What a PLC that carries out every request answers: ACK to a write, zeros
// to a read of as many points as the request names.
std::string GoodReply(const std::string& request) {
    const std::string header = request.substr(1, 4);
    if (request[6] == 'W') return "\x06" + header;
    const std::size_t points = std::stoul(request.substr(request.size() - 4, 2), nullptr, 16);
    const bool bits = request[5] == 'B' || request[5] == 'J';
    return DataReply(header + std::string(bits ? points : 4 * points, '0'));
}

// A host with one started instance on a line that answers every request
// well, so that whatever is not refused shows what it would do.
class Host {
public:
    Host() {
        ResetFake();
        protocol::SetPauseFunction(&NoPause);
        started = instance.ColdStart("COM1", true, kTimeoutUnits) == kOk;
        Fake().onWrite = [](FakeDevice& line, const Bytes& written) {
            if (written.size() > 9 && written[0] == 0x05)
                line.Arrive(GoodReply(ToText(written)), 1);
        };
        Fake().written.clear();
    }
    ~Host() { protocol::SetPauseFunction(nullptr); }

    int32_t Call(uint32_t function, void* params) { return instance.Call(function, params); }
    int32_t Parse(uint32_t code, const char* text, int32_t type, int32_t blockSize = 1) {
        definition = GateDefinition{};
        definition.addressText = text;
        definition.gateType = type;
        definition.blockSize = blockSize;
        return Call(code, &definition);
    }
    // A transfer of a gate as the parser would have left it, with one field spoilt.
    int32_t Transfer(uint32_t code, const char* text, GateAddress address, int32_t count) {
        return TransferInto(code, text, address, count, values);
    }
    int32_t TransferInto(uint32_t code, const char* text, GateAddress address, int32_t count,
                         void* data) {
        request = GateRequest{};
        request.addressText = text;
        request.gateAddress = address;
        request.count = count;
        request.data = data;
        return Call(code, &request);
    }

    Instance instance;
    bool started = false;
    GateDefinition definition{};
    GateRequest request{};
    unsigned char values[300] = {};
};

constexpr GateAddress kWordD100{1, 'D', 100, -1, 16};
constexpr GateAddress kBitM100{1, 'M', 6, 4, 8};
constexpr GateAddress kLongZ100{1, 'Z', 50, -1, 32};

LogLine Error(const std::string& text) { return {kLevelError, text}; }
LogLine Info(const std::string& text) { return {kLevelInfo, text}; }

// The builder's message, then the service's result quoting the text.
std::vector<LogLine> RefusedTransfer(uint32_t code, const std::string& message,
                                     const std::string& text) {
    const bool write = code == kSingleWrite || code == kBlockWrite;
    const char* service = code == kSingleRead    ? "Single Read() , ret val is "
                          : code == kBlockRead   ? "BlockRead(), ret val is "
                          : code == kSingleWrite ? "SingleWrite() , ret val is "
                                                 : "BlockWrite() , ret val is ";
    return {Error(std::string(write ? "JYNMB> BuildWriteRequest() " : "JYNMB> BuildRequest() ") +
                  message),
            Info(std::string("JYNMB> ") + service + std::to_string(kGateFailure) + " ('" + text +
                 "')")};
}

struct BadInput {
    std::string what;
    std::function<int32_t(Host&)> call;
    int32_t result;
    std::vector<LogLine> lines;
    bool errorsOnly = false;  // ColdStart also logs its version and the station file
};

std::vector<LogLine> Errors(const std::vector<LogLine>& lines) {
    std::vector<LogLine> out;
    for (const LogLine& line : lines) {
        if (line.level == kLevelError) out.push_back(line);
    }
    return out;
}

void RunTable(const std::vector<BadInput>& table) {
    for (const BadInput& c : table) {
        SCOPED_TRACE(c.what);
        LogRecorder log;
        Host host;
        ASSERT_TRUE(host.started);
        log.Clear();
        EXPECT_EQ(c.call(host), c.result);
        EXPECT_EQ(c.errorsOnly ? Errors(log.Lines()) : log.Lines(), c.lines) << log.Dump();
        EXPECT_TRUE(Fake().written.empty()) << "a refused call reached the line";
        EXPECT_EQ(Fake().opened.size(), 1u) << "a refused call opened a port";
    }
}

std::string Without(uint32_t code) {
    return "JYNMB> JynMain() function " + std::to_string(code) + " called without its record";
}

std::string Unstarted(uint32_t code) {
    return "JYNMB> JynMain() function " + std::to_string(code) + " called before ColdStart";
}

int32_t CallWithoutContext(uint32_t code, void* params) {
    CallBlock block{};
    block.function = code;
    block.instance = 1;
    block.params = params;
    return JynMain(&block);
}

// The entry point: records that are not there at all, and services asked of
// an instance never started. (Codes without a service: jynmain_test.)
std::vector<BadInput> EntryCases() {
    std::vector<BadInput> cases;
    for (uint32_t code : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 10u, 14u, 15u}) {
        cases.push_back({"no parameter record for " + std::to_string(code),
                         [code](Host& h) { return h.Call(code, nullptr); },
                         kDriverFailure,
                         {Error(Without(code))}});
    }
    for (uint32_t code : {1u, 5u, 6u, 7u, 10u, 12u, 13u, 15u}) {
        cases.push_back({"no context for " + std::to_string(code),
                         [code](Host& h) { return CallWithoutContext(code, h.values); },
                         kDriverFailure,
                         {Error(Without(code))}});
    }
    for (uint32_t code : {5u, 6u, 7u, 10u, 12u, 13u, 15u}) {
        cases.push_back({"function " + std::to_string(code) + " before ColdStart",
                         [code](Host& h) {
                             Instance fresh;  // its context holds whatever the host left there
                             h.Transfer(0, "01WD100", kWordD100, 1);
                             return fresh.Call(code, &h.request);
                         },
                         kDriverFailure,
                         {Error(Unstarted(code))}});
    }
    return cases;
}

// Gate definitions: gate types outside 0..7, blocks above their limit,
// address texts longer than the host's field.
std::vector<BadInput> DefinitionCases() {
    std::vector<BadInput> cases;
    for (int32_t type : {-1, 8, INT_MIN, INT_MAX}) {
        const std::string t = " type " + std::to_string(type);
        cases.push_back({"word gate" + t,
                         [type](Host& h) { return h.Parse(kSingleAddressParser, "00WD100", type); },
                         kGateFailure,
                         {Error("JYNMB> SingleParse() Gate type should be 16-bit analog")}});
        cases.push_back({"bit gate" + t,
                         [type](Host& h) { return h.Parse(kSingleAddressParser, "00BM100", type); },
                         kGateFailure,
                         {Error("JYNMB> SingleParse() Gate type should be digital")}});
        cases.push_back(
            {"string gate" + t,
             [type](Host& h) { return h.Parse(kSingleAddressParser, "00WS0100L20", type); },
             kGateFailure,
             {Error("JYNMB: Tag 00WS0100L20 must be type 'String'")}});
        // A 32-bit letter with a type that is not 3..5 is refused without a word.
        cases.push_back({"32-bit gate" + t,
                         [type](Host& h) { return h.Parse(kSingleAddressParser, "00WZ100", type); },
                         kGateFailure,
                         {}});
    }
    const std::pair<const char*, int32_t> kBlocks[] = {
        {"00WD100", 65}, {"00WD100", INT_MAX}, {"00WZ100", 33}, {"00WZ100", INT_MAX}};
    for (const auto& [text, size] : kBlocks) {
        cases.push_back({std::string("block ") + text + " of " + std::to_string(size),
                         [text = text, size = size](Host& h) {
                             return h.Parse(kBlockAddressParser, text, 1, size);
                         },
                         kGateFailure,
                         {Error(std::string("JYNMB> BlockParse() Gate ") + text +
                                " block size out of range")}});
    }
    for (uint32_t code : {kSingleAddressParser, kBlockAddressParser}) {
        for (const std::string& text : {kLongText, kLongText + "WD100", std::string(200, 'W')}) {
            cases.push_back(
                {"text of " + std::to_string(text.size()) + " for " + std::to_string(code),
                 [code, text](Host& h) { return h.Parse(code, text.c_str(), 1, 1); },
                 kGateFailure,
                 {Error("JYNMB> Tag address string too long")}});
        }
    }
    return cases;
}

GateAddress With(GateAddress address, int32_t GateAddress::*field, int32_t value) {
    address.*field = value;
    return address;
}

struct Spoilt {
    const char* what;
    const char* text;
    GateAddress address;
    int32_t count;
    const char* why;
};

// Transfers of a gate whose record the host spoilt between parsing and
// transfer, or whose point count is out of range.
std::vector<BadInput> TransferCases() {
    const Spoilt kSpoilt[] = {
        {"word block of 65", "01WD100", kWordD100, 65, "point count out of range"},
        {"word block of -1", "01WD100", kWordD100, -1, "point count out of range"},
        {"word block of INT_MIN", "01WD100", kWordD100, INT_MIN, "point count out of range"},
        {"32-bit block of 33", "01WZ100", kLongZ100, 33, "point count out of range"},
        {"memType Q", "01WQ100", With(kWordD100, &GateAddress::memType, 'Q'), 1,
         "unknown memory type"},
        {"memType 0", "01WD100", With(kWordD100, &GateAddress::memType, 0), 1,
         "unknown memory type"},
        {"memType with a stray high byte", "01WD100",
         With(kWordD100, &GateAddress::memType, 0x4144), 1, "unknown memory type"},
        {"bit index on a data register", "01WD100", With(kWordD100, &GateAddress::bitIndex, 3), 1,
         "bit gate on a word device"},
        {"bit index 16", "01BM100", With(kBitM100, &GateAddress::bitIndex, 16), 1,
         "illegal address"},
        {"bit index -2", "01BM100", With(kBitM100, &GateAddress::bitIndex, -2), 1,
         "illegal address"},
        {"station 256", "01WD100", With(kWordD100, &GateAddress::station, 256), 1,
         "logical station out of range"},
        {"station -1", "01WD100", With(kWordD100, &GateAddress::station, -1), 1,
         "logical station out of range"},
        {"negative address", "01WD100", With(kWordD100, &GateAddress::address, -1), 1,
         "illegal address"},
        {"string of 99 characters", "01WS0100L99", {1, 'S', 100, -1, 16}, 1, "String Length > 64"},
        {"string of 65 characters", "01WS0100L65", {1, 'S', 100, -1, 16}, 1, "String Length > 64"},
        {"link register string of 99",
         "01WW0100L99",
         {1, 'W', 0x100, -1, 16},
         1,
         "String Length > 64"},
        {"no text", nullptr, With(kWordD100, &GateAddress::memType, 0), 1, "unknown memory type"},
        {"memType T", "01WT100", With(kWordD100, &GateAddress::memType, 'T'), 1,
         "unknown memory type"},
        {"bit index on a 32-bit register",
         "01BZ100",
         {1, 'Z', 6, 4, 8},
         1,
         "bit gate on a word device"},
        {"bit index on a string", "01BS0100L2", {1, 'S', 6, 4, 8}, 1, "bit gate on a word device"},
        {"bit block of 65", "01BX10", {1, 'X', 1, 0, 8}, 65, "point count out of range"},
        {"32-bit block of -1", "01W2010", {1, '2', 8, -1, 32}, -1, "point count out of range"},
    };
    std::vector<BadInput> cases;
    for (const Spoilt& s : kSpoilt) {
        for (uint32_t code : {kSingleRead, kBlockRead, kSingleWrite, kBlockWrite}) {
            // Point counts are the blocks' business; singles always carry 1.
            const bool block = code == kBlockRead || code == kBlockWrite;
            if (s.count != 1 && !block) continue;
            const std::string text = s.text != nullptr ? s.text : "";
            cases.push_back(
                {std::string(s.what) + " via " + std::to_string(code),
                 [s, code](Host& h) { return h.Transfer(code, s.text, s.address, s.count); },
                 kGateFailure,
                 RefusedTransfer(code, std::string(s.why) + " in '" + text + "'", text)});
        }
    }
    return cases;
}

// Requests a service cannot carry: a single gate is one point, a block at
// least one, the bit width goes with the kind the parser gave the gate, and
// a transfer needs a value buffer to store into or send from.
std::vector<BadInput> ServiceCases() {
    const struct {
        const char* what;
        uint32_t code;
        const char* text;
        GateAddress address;
        int32_t count;
        bool buffer;
        const char* message;
    } kServices[] = {
        {"single read of 2", kSingleRead, "01WD100", kWordD100, 2, true,
         "point count out of range in '01WD100'"},
        {"single read of 0", kSingleRead, "01WD100", kWordD100, 0, true,
         "point count out of range in '01WD100'"},
        {"single write of 3", kSingleWrite, "01WD100", kWordD100, 3, true,
         "point count out of range in '01WD100'"},
        {"block read of 0", kBlockRead, "01WD100", kWordD100, 0, true,
         "point count out of range in '01WD100'"},
        {"block write of 0", kBlockWrite, "01WD100", kWordD100, 0, true,
         "point count out of range in '01WD100'"},
        {"word of width 12", kSingleRead, "01WD100", With(kWordD100, &GateAddress::bitWidth, 12), 1,
         true, "illegal address in '01WD100'"},
        {"32-bit of width 16", kSingleRead, "01WZ100", With(kLongZ100, &GateAddress::bitWidth, 16),
         1, true, "illegal address in '01WZ100'"},
        {"bit of width 16", kSingleWrite, "01BM100", With(kBitM100, &GateAddress::bitWidth, 16), 1,
         true, "illegal address in '01BM100'"},
        {"read into nothing", kSingleRead, "01WD100", kWordD100, 1, false,
         "no value buffer for '01WD100'"},
        {"write from nothing", kBlockWrite, "01WD100", kWordD100, 4, false,
         "no value buffer for '01WD100'"},
    };
    std::vector<BadInput> cases;
    for (const auto& c : kServices) {
        cases.push_back({c.what,
                         [c](Host& h) {
                             return h.TransferInto(c.code, c.text, c.address, c.count,
                                                   c.buffer ? h.values : nullptr);
                         },
                         kGateFailure, RefusedTransfer(c.code, c.message, c.text)});
    }
    return cases;
}

// Port names that fill the whole field without a terminator name no device.
std::vector<BadInput> PortCases() {
    static const char kUnterminated[kPortNameSize + 1] = "COM123456789";
    return {
        {"ColdStart with an unterminated port name",
         [](Host& h) {
             ColdStartParams params = MakeColdStart("", true, kTimeoutUnits);
             std::memcpy(params.portName, kUnterminated, kPortNameSize);
             return h.Call(kColdStart, &params);
         },
         kGateFailure,
         {Error("JYNMB> OpenCom() exited with error"),
          Error("JYNMB> ColdStart() unable to open COM123456789 port")},
         true},
        {"ChangeJynParams with an unterminated port name",
         [](Host& h) {
             PortChangeParams params{};
             std::memcpy(params.portName, kUnterminated, kPortNameSize);
             params.replyTimeout = -1;
             return h.Call(kChangeJynParams, &params);
         },
         kDriverFailure,
         {Info("JYNMB> CloseCom() exited 0"), Error("JYNMB> OpenCom() exited with error"),
          Error("JYNMB> ChangeJynParams() exited 2")}},
    };
}

TEST(BadHostInput, EntryPointRefusesMissingRecordsAndCodes) { RunTable(EntryCases()); }
TEST(BadHostInput, GateDefinitionsOutOfRangeAreRefused) { RunTable(DefinitionCases()); }
TEST(BadHostInput, SpoiltGateRequestsAreRefusedBeforeTheLine) { RunTable(TransferCases()); }
TEST(BadHostInput, RequestsTheServiceCannotCarryAreRefused) { RunTable(ServiceCases()); }
TEST(BadHostInput, UnterminatedPortNamesOpenNothing) { RunTable(PortCases()); }

}  // namespace
}  // namespace jyn::testing
