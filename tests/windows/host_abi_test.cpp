// A 32-bit Windows host written apart from the driver's headers: it lays out
// every record it hands to RAVEVUD.dll byte by byte, at the offsets of the
// host ABI, and reads the driver's answers back the same way. A field that
// moved in interface/host_abi.h would pass the driver's own tests and fail here.
//
// Run by run-with-sim.sh: COM1 is linked to the simulator, which serves the
// stations of plant/JYNMB01.INT with the memory of plant/plant.preset, and the
// current directory holds that station file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/windows/under_wine.h"

namespace {

using jyn::testing::UnderWine;

static_assert(sizeof(void*) == 4, "the host is a 32-bit program");

// Function codes.
constexpr uint32_t kColdStart = 1, kSingleParser = 3, kBlockParser = 4, kSingleRead = 5,
                   kBlockRead = 6, kSingleWrite = 7, kBlockWrite = 10, kEndJyn = 11, kCloseCom = 12,
                   kReOpenCom = 13, kGetJynInfo = 14;

// Byte offsets of the host records.
namespace call {
constexpr std::size_t kContext = 0, kFunction = 4, kInstance = 8, kParams = 16, kSize = 20;
}
namespace info {
constexpr std::size_t kSize = 32;
}
namespace cold {
constexpr std::size_t kPortName = 0, kOpenNow = 12, kReplyTimeout = 16, kBaud = 20, kDataBits = 22,
                      kStopBits = 24, kParity = 26, kSize = 28;
}
namespace ctx {
constexpr std::size_t kReplyTimeout = 0, kPort = 4, kPortName = 8, kBaud = 20, kDataBits = 22,
                      kStopBits = 24, kParity = 26, kLineFlags = 28, kSendBuffer = 32,
                      kReceiveBuffer = 36, kSendLength = 40, kReceiveLength = 42,
                      kStationTable = 44, kSize = 812;
}
namespace def {
constexpr std::size_t kText = 0, kReserved = 4, kGateType = 8, kBlockSize = 12, kAddress = 16,
                      kSize = 36;
}
namespace req {  // the words at 4, 28 and 36 are the host's own
constexpr std::size_t kText = 0, kAddress = 8, kCount = 32, kData = 40, kSize = 44;
}

// Room past the end of each record, to see that the driver stays inside it.
constexpr std::size_t kGuard = 16;
constexpr unsigned char kFill = 0xA5;

using Bytes = std::vector<unsigned char>;

void Put32(Bytes& bytes, std::size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<unsigned char>(value >> (8 * i));
}
void Put16(Bytes& bytes, std::size_t offset, uint16_t value) {
    bytes.at(offset) = static_cast<unsigned char>(value);
    bytes.at(offset + 1) = static_cast<unsigned char>(value >> 8);
}
void PutPointer(Bytes& bytes, std::size_t offset, const void* pointer) {
    Put32(bytes, offset, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)));
}
uint32_t Get32(const Bytes& bytes, std::size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes.at(offset + i);
    return value;
}
uint16_t Get16(const Bytes& bytes, std::size_t offset) {
    return static_cast<uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}
const char* GetText(const Bytes& bytes, std::size_t offset) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(Get32(bytes, offset)));
}
bool Untouched(const Bytes& bytes, std::size_t from, unsigned char fill = kFill) {
    for (std::size_t i = from; i < bytes.size(); ++i) {
        if (bytes[i] != fill) return false;
    }
    return true;
}

using Entry = int32_t(__cdecl*)(void* block);

// The driver as the host loads it, once for the whole program: EndJyn ends
// the library for the process, so the last test ends it.
class Driver {
public:
    static Driver& Get() {
        static Driver driver;
        return driver;
    }
    bool Loaded() const { return entry_ != nullptr; }
    HMODULE Module() const { return module_; }

    int32_t Call(Bytes* context, uint32_t function, void* params, uint32_t instance = 1) {
        Bytes block(call::kSize, 0xCD);  // the unread word at 12 holds whatever the host has
        PutPointer(block, call::kContext, context != nullptr ? context->data() : nullptr);
        Put32(block, call::kFunction, function);
        Put32(block, call::kInstance, instance);
        PutPointer(block, call::kParams, params);
        return entry_(block.data());
    }

private:
    Driver() {
        module_ = LoadLibraryA("RAVEVUD.dll");
        if (module_ != nullptr) {
            entry_ = reinterpret_cast<Entry>(
                reinterpret_cast<void*>(GetProcAddress(module_, "JynMain")));
        }
    }
    HMODULE module_ = nullptr;
    Entry entry_ = nullptr;
};

// One driver instance: its context as the host allocates it (not cleared).
struct Instance {
    Bytes context = Bytes(ctx::kSize + kGuard, kFill);
    uint32_t instance = 1;

    int32_t Call(uint32_t function, void* params = nullptr) {
        return Driver::Get().Call(&context, function, params, instance);
    }
    // ColdStart with openNow, as a host starts an instance on its line.
    int32_t ColdStart(const char* port, uint32_t timeout) {
        Bytes params(cold::kSize + kGuard, 0);
        std::memcpy(params.data() + cold::kPortName, port, std::strlen(port) + 1);
        Put32(params, cold::kOpenNow, 1);
        Put32(params, cold::kReplyTimeout, timeout);
        Put16(params, cold::kBaud, 9600);
        Put16(params, cold::kDataBits, 8);
        Put16(params, cold::kStopBits, 0);
        Put16(params, cold::kParity, 0);
        return Call(kColdStart, params.data());
    }
    uint32_t Port() const { return Get32(context, ctx::kPort); }
};

constexpr char kNotLoaded[] = "RAVEVUD.dll or JynMain missing";

class HostAbi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Driver::Get().Loaded()) << kNotLoaded; }
};

TEST_F(HostAbi, JynMainIsExportedUndecorated) {
    HMODULE module = Driver::Get().Module();
    for (const char* decorated : {"_JynMain", "JynMain@4", "_JynMain@4"}) {
        EXPECT_EQ(GetProcAddress(module, decorated), nullptr) << decorated;
    }
}

struct InfoField {
    std::size_t offset, width;
    uint32_t value;
};
const InfoField kInfoFields[] = {
    {0, 4, 70}, {12, 4, 812}, {16, 4, 4}, {20, 2, 9600},
    {22, 2, 8}, {24, 2, 0},   {26, 2, 0}, {28, 4, 3},
};

TEST_F(HostAbi, GetJynInfoFillsTheRecordAndLeavesTheContext) {
    Bytes record(info::kSize + kGuard, kFill);
    Bytes context(ctx::kSize, 0x5A);
    EXPECT_EQ(Driver::Get().Call(&context, kGetJynInfo, record.data()), 0);
    for (const InfoField& field : kInfoFields) {
        const uint32_t got =
            field.width == 4 ? Get32(record, field.offset) : Get16(record, field.offset);
        EXPECT_EQ(got, field.value) << "DriverInfo offset " << field.offset;
    }
    EXPECT_STREQ(GetText(record, 4), "Mitsubishi MELSEC-A");
    const std::string banner = GetText(record, 8);
    EXPECT_EQ(banner.size(), 379u);
    EXPECT_EQ(banner.substr(0, 2), "\n\xDA");  // line feed, then the top-left corner in CP437
    EXPECT_NE(banner.find("Mitsubish Melsec-A Driver installed."), std::string::npos);
    EXPECT_TRUE(Untouched(record, info::kSize)) << "the driver wrote past DriverInfo";
    EXPECT_TRUE(Untouched(context, 0, 0x5A)) << "GetJynInfo touched the context";
}

// The station file is named after CallBlock.instance: instance 7 reads
// JYNMB07.INT from the current directory.
TEST_F(HostAbi, ColdStartOnNulFillsTheContextByOffset) {
    const char* file = "JYNMB07.INT";
    std::FILE* out = std::fopen(file, "w");
    ASSERT_NE(out, nullptr);
    std::fputs("* instance 7\n05 = 01, FF, AnACPU\n06 = 1A, 03\n", out);
    std::fclose(out);

    Instance nul;
    nul.instance = 7;
    Bytes params(cold::kSize, 0);
    std::memcpy(params.data(), "NUL", 4);
    const uint16_t line[] = {19200, 7, 2, 2};  // baud, data bits, stop-bit code, parity code
    Put32(params, cold::kOpenNow, 1);
    Put32(params, cold::kReplyTimeout, 7);
    for (int i = 0; i < 4; ++i) Put16(params, cold::kBaud + 2 * i, line[i]);
    const int32_t result = nul.Call(kColdStart, params.data());
    std::remove(file);
    ASSERT_EQ(result, 0);

    const Bytes& c = nul.context;
    EXPECT_EQ(Get32(c, ctx::kReplyTimeout), 7u);
    EXPECT_NE(nul.Port(), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&c[ctx::kPortName]), "NUL");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Get16(c, ctx::kBaud + 2 * i), line[i]) << i;
    EXPECT_EQ(Get16(c, ctx::kLineFlags), 0x0303);
    EXPECT_NE(Get32(c, ctx::kSendBuffer), 0u);
    EXPECT_NE(Get32(c, ctx::kReceiveBuffer), 0u);
    EXPECT_EQ(Get16(c, ctx::kSendLength), 0);
    EXPECT_EQ(Get16(c, ctx::kReceiveLength), 0);
    for (unsigned i = 0; i < 256; ++i) {
        const std::size_t at = ctx::kStationTable + 3 * i;
        unsigned expected[3] = {i, 0xFF, 0};
        if (i == 5) {
            expected[0] = 0x01;
            expected[2] = 1;
        } else if (i == 6) {
            expected[0] = 0x1A;
            expected[1] = 0x03;
        }
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(c[at + k], expected[k]) << "station " << i << " byte " << k;
    }
    EXPECT_TRUE(Untouched(c, ctx::kSize)) << "the driver wrote past the 812-byte context";

    EXPECT_EQ(nul.Call(kCloseCom), 0);
    EXPECT_EQ(nul.Port(), 0u);
    EXPECT_EQ(nul.Call(kReOpenCom), 0);
    EXPECT_NE(nul.Port(), 0u);
    EXPECT_EQ(nul.Call(kCloseCom), 0);
}

struct ParseCase {
    const char* text;
    int32_t gateType;
    int32_t blockSize;  // 0: a single gate (code 3), else a block (code 4)
    int32_t result;
    int32_t station, memType, address, bitIndex, bitWidth;  // when accepted (0 when refused)
};

const ParseCase kParseCases[] = {
    {"01WD100", 1, 0, 0, 1, 'D', 100, -1, 16},
    {"01BM100", 6, 0, 0, 1, 'M', 6, 4, 8},
    {"0aBx1f", 6, 0, 0, 10, 'X', 1, 15, 8},
    {"00BTS10", 6, 0, 0, 0, 0x5354, 0, 10, 8},
    {"00WCN12", 0, 0, 0, 0, 0x4E43, 12, -1, 16},
    {"01WZ100", 4, 0, 0, 1, 'Z', 50, -1, 32},
    {"00W2010", 3, 0, 0, 0, '2', 8, -1, 32},
    {"00WS0100L20", 7, 0, 0, 0, 'S', 100, -1, 16},
    {"00WW01AFL10", 7, 0, 0, 0, 'W', 0x1AF, -1, 16},
    {"01WD200", 1, 10, 0, 1, 'D', 200, -1, 16},
    {"02WZ300", 1, 32, 0, 2, 'Z', 150, -1, 32},
    {"00WD100", 6, 0, 1, 0, 0, 0, 0, 0},
    {"00WZ101", 4, 0, 1, 0, 0, 0, 0, 0},
    {"00BX10", 6, 5, 1, 0, 0, 0, 0, 0},
    {"00WD100", 1, 65, 1, 0, 0, 0, 0, 0},
    {"00WQ100", 1, 0, 1, 0, 0, 0, 0, 0},
};

TEST_F(HostAbi, AddressParsersWriteOnlyTheGateAddress) {
    Instance host;
    ASSERT_EQ(host.ColdStart("NUL", 5), 0);
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(std::string(c.text) + " block " + std::to_string(c.blockSize));
        Bytes definition(def::kSize + kGuard, kFill);
        PutPointer(definition, def::kText, c.text);
        Put32(definition, def::kReserved, 0x11111111);
        Put32(definition, def::kGateType, static_cast<uint32_t>(c.gateType));
        Put32(definition, def::kBlockSize, static_cast<uint32_t>(c.blockSize));
        const Bytes before = definition;
        const uint32_t code = c.blockSize > 0 ? kBlockParser : kSingleParser;
        ASSERT_EQ(host.Call(code, definition.data()), c.result);
        EXPECT_TRUE(std::equal(before.begin(), before.begin() + def::kAddress, definition.begin()))
            << "the driver changed what the host owns";
        EXPECT_TRUE(Untouched(definition, def::kSize)) << "the driver wrote past GateDefinition";
        if (c.result != 0) continue;
        const int32_t expected[5] = {c.station, c.memType, c.address, c.bitIndex, c.bitWidth};
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(static_cast<int32_t>(Get32(definition, def::kAddress + 4 * i)), expected[i])
                << "GateAddress field " << i;
        }
    }
    host.Call(kCloseCom);
}

// A configured gate as the host keeps it: its text and the GateAddress the
// parser wrote.
struct Gate {
    std::string text;
    int32_t blockSize = 0;
    Bytes address;
};

bool Configure(Instance& host, Gate& gate, int32_t gateType) {
    Bytes definition(def::kSize, 0);
    PutPointer(definition, def::kText, gate.text.c_str());
    Put32(definition, def::kGateType, static_cast<uint32_t>(gateType));
    Put32(definition, def::kBlockSize, static_cast<uint32_t>(gate.blockSize));
    const int32_t result =
        host.Call(gate.blockSize > 0 ? kBlockParser : kSingleParser, definition.data());
    gate.address.assign(definition.begin() + def::kAddress, definition.begin() + def::kSize);
    return result == 0;
}

int32_t Transfer(Instance& host, const Gate& gate, uint32_t function, Bytes& data) {
    Bytes request(req::kSize + kGuard, kFill);
    PutPointer(request, req::kText, gate.text.c_str());
    std::copy(gate.address.begin(), gate.address.end(), request.begin() + req::kAddress);
    Put32(request, req::kCount, static_cast<uint32_t>(gate.blockSize > 0 ? gate.blockSize : 1));
    PutPointer(request, req::kData, data.data());
    const Bytes before = request;
    const int32_t result = host.Call(function, request.data());
    EXPECT_EQ(request, before) << gate.text << ": the driver changed the GateRequest";
    return result;
}

int32_t Read(Instance& host, const Gate& gate, Bytes& data) {
    return Transfer(host, gate, gate.blockSize > 0 ? kBlockRead : kSingleRead, data);
}
int32_t Write(Instance& host, const Gate& gate, Bytes& data) {
    return Transfer(host, gate, gate.blockSize > 0 ? kBlockWrite : kSingleWrite, data);
}

// Value buffers hold 0xCC where the driver must not write.
struct ReadCase {
    const char* text;
    int32_t gateType;
    int32_t blockSize;
    Bytes expected;  // the buffer after the read, from byte 0
};

// What plant.preset puts in both stations; station 01 is an ACPU, 02 an AnACPU.
const ReadCase kReadCases[] = {
    {"01WD100", 1, 0, {0xCC, 0xCC, 0x34, 0x12, 0xCC}},
    {"02WD100", 1, 0, {0xCC, 0xCC, 0x34, 0x12, 0xCC}},
    {"01BM10", 6, 0, {0xCC, 0xCC, 0x01, 0x00, 0xCC}},
    {"02BX1F", 6, 0, {0xCC, 0xCC, 0x01, 0x00, 0xCC}},
    {"01BM11", 6, 0, {0xCC, 0xCC, 0x00, 0x00, 0xCC}},
    {"01WZ300", 4, 0, {0x78, 0x56, 0x34, 0x12, 0xCC}},
    {"02WZ300", 4, 0, {0x78, 0x56, 0x34, 0x12, 0xCC}},
    {"02WW001A", 1, 0, {0xCC, 0xCC, 0xCD, 0xAB, 0xCC}},
    {"01WS0400L5", 7, 0, {'H', 'E', 'L', 'L', 'O', 0, 0xCC}},
    {"02WS0400L4", 7, 0, {'H', 'E', 'L', 'L', 0, 0xCC}},
    {"01WD100", 1, 3, {0x34, 0x12, 0x02, 0x00, 0xFF, 0xFF, 0xCC}},
    {"02WZ300", 4, 2, {0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0, 0xCC}},
};

// An instance started on COM1, stopped after each test.
class HostAbiOnCom1 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Driver::Get().Loaded()) << kNotLoaded;
        ASSERT_EQ(host.ColdStart("COM1", 10), 0) << "COM1 must be linked to the simulator";
    }
    void TearDown() override { host.Call(kCloseCom); }
    Instance host;
};

TEST_F(HostAbiOnCom1, ReadsFillTheValueBufferAsTheHostLaysItOut) {
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(std::string(c.text) + " block " + std::to_string(c.blockSize));
        Gate gate{c.text, c.blockSize, {}};
        ASSERT_TRUE(Configure(host, gate, c.gateType));
        Bytes data(64, 0xCC);
        ASSERT_EQ(Read(host, gate, data), 0);
        EXPECT_EQ(Bytes(data.begin(), data.begin() + c.expected.size()), c.expected);
        EXPECT_TRUE(Untouched(data, c.expected.size(), 0xCC));
    }
}

struct WriteCase {
    const char* text;
    int32_t gateType;
    int32_t blockSize;
    Bytes value;  // what the host writes and then reads back
};

const WriteCase kWriteCases[] = {
    {"01WD110", 1, 0, {0xCC, 0xCC, 0xEF, 0xBE}},
    {"02WD110", 1, 0, {0xCC, 0xCC, 0x01, 0x80}},
    {"01BM20", 6, 0, {0xCC, 0xCC, 0x01, 0x00}},
    {"02BY21", 6, 0, {0xCC, 0xCC, 0x01, 0x00}},
    {"01WZ310", 4, 0, {0x0D, 0x0C, 0x0B, 0x0A}},
    {"02W2020", 5, 0, {0x04, 0x03, 0x02, 0x01}},
    {"01WS0410L6", 7, 0, {'W', 'O', 'R', 'L', 'D', '!'}},
    {"02WR0500L3", 7, 0, {'A', 'B', 'C', 0}},
    {"02WD120", 1, 3, {1, 0, 2, 0, 3, 0}},
    {"01WZ320", 3, 2, {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}},
};

TEST_F(HostAbiOnCom1, WritesReadBackUnchanged) {
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(std::string(c.text) + " block " + std::to_string(c.blockSize));
        Gate gate{c.text, c.blockSize, {}};
        ASSERT_TRUE(Configure(host, gate, c.gateType));
        Bytes out = c.value;
        out.resize(64, 0);
        ASSERT_EQ(Write(host, gate, out), 0);
        Bytes in(64, 0xCC);
        ASSERT_EQ(Read(host, gate, in), 0);
        EXPECT_EQ(Bytes(in.begin(), in.begin() + c.value.size()), c.value);
    }
}

// A station that is not on the line never answers: every one of the ten
// attempts waits one whole reply time-out (10 units: 100 ms).
TEST_F(HostAbiOnCom1, AStationThatDoesNotExistTimesOutTenTimes) {
    Gate gate{"09WD100", 0, {}};
    ASSERT_TRUE(Configure(host, gate, 1));
    Bytes data(8, 0xCC);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    EXPECT_EQ(Read(host, gate, data), 2);
    QueryPerformanceCounter(&end);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
    EXPECT_GE(ms, 10 * 100 - 20);
    EXPECT_LT(ms, 10 * 100 + 4000) << "each attempt must end near its time-out";
    EXPECT_TRUE(Untouched(data, 0, 0xCC));
}

// The port is held exclusively: a second instance cannot open it.
TEST_F(HostAbiOnCom1, ASecondInstanceCannotOpenTheSamePort) {
    Instance second;
    const int32_t result = second.ColdStart("COM1", 10);
    if (result == 0) {
        second.Call(kCloseCom);
        if (UnderWine()) {
            GTEST_SKIP() << "wine opens a COM port a second time despite share mode 0; "
                            "Windows refuses it";
        }
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(second.Port(), 0u);
}

using HostAbiEnd = HostAbi;

TEST_F(HostAbi, OnNulEveryTransferEndsForWantOfAReply) {
    Instance nul;
    ASSERT_EQ(nul.ColdStart("NUL", 5), 0);
    Gate gate{"01WD100", 0, {}};
    ASSERT_TRUE(Configure(nul, gate, 1));
    Bytes data(8, 0xCC);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Read(nul, gate, data), 2);
    EXPECT_EQ(Write(nul, gate, data), 2);
    EXPECT_LT(GetTickCount64() - start, 2000u) << "reads of NUL return nothing at once";
    EXPECT_EQ(nul.Call(kCloseCom), 0);
}

// Last (its suite is defined last): EndJyn ends the library for the whole
// process.
TEST_F(HostAbiEnd, EndJynEndsTheLibrary) {
    Instance host;
    ASSERT_EQ(host.ColdStart("NUL", 5), 0);
    EXPECT_EQ(host.Call(kEndJyn), 0);
    EXPECT_EQ(host.Port(), 0u);
    Bytes record(info::kSize, kFill);
    EXPECT_EQ(host.Call(kGetJynInfo, record.data()), 0);
    EXPECT_TRUE(Untouched(record, 0)) << "an ended driver does nothing";
}

}  // namespace
