// Records the host exchanges with the driver through JynMain.
//
// The host is a 32-bit Windows application: on 32-bit targets the byte
// offsets below are the binding ABI and are checked at compile time. On
// 64-bit targets the same records take their natural layout; GetJynInfo
// reports sizeof(DriverContext), so a host always allocates the right size.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define JYN_CALL __cdecl
#define JYN_EXPORT
#else
#define JYN_CALL
#define JYN_EXPORT __attribute__((visibility("default")))
#endif

namespace jyn {

// Function codes of CallBlock.function; slots 8, 9 and 16 are empty.
enum FunctionCode : uint32_t {
    kColdStart = 1,
    kWarmStart = 2,
    kSingleAddressParser = 3,
    kBlockAddressParser = 4,
    kSingleRead = 5,
    kBlockRead = 6,
    kSingleWrite = 7,
    kBlockWrite = 10,
    kEndJyn = 11,
    kCloseCom = 12,
    kReOpenCom = 13,
    kGetJynInfo = 14,
    kChangeJynParams = 15,
};
constexpr uint32_t kFunctionSlots = 16;

// Results of every service.
enum Result : int32_t {
    kOk = 0,
    kGateFailure = 1,    // the gate, its address, its data, or a refusal by the PLC
    kDriverFailure = 2,  // the driver, the port, the link, or no such function
};

// Gate type codes of GateDefinition.gateType.
enum GateType : int32_t {
    kGateAnalog16First = 0,  // 0, 1, 2: 16-bit analog kinds, all alike
    kGateAnalog16Last = 2,
    kGateAnalog32First = 3,  // 3, 4, 5: 32-bit kinds, all alike
    kGateAnalog32Last = 5,
    kGateDigital = 6,
    kGateString = 7,
};

// Levels passed to the host's err().
enum LogLevel : int {
    kLevelInfo = 8,
    kLevelError = 32,
};

// CPU families of StationEntry.cpuType.
enum CpuType : uint8_t {
    kCpuA = 0,   // ACPU: BR/WR/BW/WW, 5-character device field
    kCpuAn = 1,  // AnACPU: JR/QR/JW/QW, 7-character device field
};

constexpr std::size_t kFrameBufferSize = 512;
constexpr std::size_t kPortNameSize = 12;
constexpr std::size_t kStationCount = 256;

struct DriverContext;

struct CallBlock {
    DriverContext* context;
    uint32_t function;
    uint32_t instance;  // names the station configuration file
    uint32_t reserved;
    void* params;
};

struct DriverInfo {
    int32_t infoCode;
    const char* name;
    const char* banner;
    uint32_t contextSize;
    int32_t infoValue;
    uint16_t defaultBaudRate;
    uint16_t defaultDataBits;
    uint16_t defaultStopBits;
    uint16_t defaultParity;
    int32_t infoFlags;
};

struct PortSettings {
    char name[kPortNameSize];  // zero-terminated, at most 11 characters
    uint16_t baudRate;
    uint16_t dataBits;
    uint16_t stopBits;  // 0 one, 1 one and a half, 2 two
    uint16_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint16_t lineFlags;
    uint16_t reserved;
};

struct StationEntry {
    uint8_t stationNumber;
    uint8_t pcNumber;
    uint8_t cpuType;
};

struct DriverContext {
    uint32_t replyTimeout;  // units of 10 ms
    void* port;             // open port handle, or null
    PortSettings portSettings;
    unsigned char* sendBuffer;     // kFrameBufferSize bytes
    unsigned char* receiveBuffer;  // kFrameBufferSize bytes
    uint16_t sendLength;
    uint16_t receiveLength;
    StationEntry stationTable[kStationCount];
};

struct ColdStartParams {
    char portName[kPortNameSize];
    int32_t openNow;
    uint32_t replyTimeout;
    uint16_t baudRate;
    uint16_t dataBits;
    uint16_t stopBits;
    uint16_t parity;
};

struct PortChangeParams {
    char portName[kPortNameSize];
    int32_t replyTimeout;  // 0 and -1 keep the current one
    uint16_t baudRate;     // 0 keeps all four line parameters
    uint16_t dataBits;
    uint16_t stopBits;
    uint16_t parity;
};

struct GateAddress {
    int32_t station;   // logical station, index into stationTable
    int32_t memType;   // device letter; timer/counter sub-device in the high byte
    int32_t address;   // word number, 16-point group, or register pair
    int32_t bitIndex;  // 0..15 for bit gates, -1 otherwise
    int32_t bitWidth;  // 8 bit, 16 word and string, 32 for 32-bit gates
};

struct GateDefinition {
    const char* addressText;
    uint32_t reserved;
    int32_t gateType;
    int32_t blockSize;
    GateAddress gateAddress;
};

struct GateRequest {
    const char* addressText;
    uint32_t reserved1;
    GateAddress gateAddress;
    uint32_t reserved2;
    int32_t count;
    uint32_t reserved3;
    void* data;
};

// The host's 32-bit layout.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(CallBlock, context) == 0);
static_assert(offsetof(CallBlock, function) == 4);
static_assert(offsetof(CallBlock, instance) == 8);
static_assert(offsetof(CallBlock, params) == 16);
static_assert(sizeof(CallBlock) == 20);

static_assert(offsetof(DriverInfo, infoCode) == 0);
static_assert(offsetof(DriverInfo, name) == 4);
static_assert(offsetof(DriverInfo, banner) == 8);
static_assert(offsetof(DriverInfo, contextSize) == 12);
static_assert(offsetof(DriverInfo, infoValue) == 16);
static_assert(offsetof(DriverInfo, defaultBaudRate) == 20);
static_assert(offsetof(DriverInfo, defaultDataBits) == 22);
static_assert(offsetof(DriverInfo, defaultStopBits) == 24);
static_assert(offsetof(DriverInfo, defaultParity) == 26);
static_assert(offsetof(DriverInfo, infoFlags) == 28);
static_assert(sizeof(DriverInfo) == 32);

static_assert(sizeof(PortSettings) == 24);
static_assert(offsetof(PortSettings, baudRate) == 12);
static_assert(offsetof(PortSettings, lineFlags) == 20);
static_assert(sizeof(StationEntry) == 3);

static_assert(offsetof(DriverContext, replyTimeout) == 0);
static_assert(offsetof(DriverContext, port) == 4);
static_assert(offsetof(DriverContext, portSettings) == 8);
static_assert(offsetof(DriverContext, sendBuffer) == 32);
static_assert(offsetof(DriverContext, receiveBuffer) == 36);
static_assert(offsetof(DriverContext, sendLength) == 40);
static_assert(offsetof(DriverContext, receiveLength) == 42);
static_assert(offsetof(DriverContext, stationTable) == 44);
static_assert(sizeof(DriverContext) == 812);

static_assert(offsetof(ColdStartParams, openNow) == 12);
static_assert(offsetof(ColdStartParams, replyTimeout) == 16);
static_assert(offsetof(ColdStartParams, baudRate) == 20);
static_assert(offsetof(ColdStartParams, dataBits) == 22);
static_assert(offsetof(ColdStartParams, stopBits) == 24);
static_assert(offsetof(ColdStartParams, parity) == 26);

static_assert(offsetof(PortChangeParams, replyTimeout) == 12);
static_assert(offsetof(PortChangeParams, baudRate) == 16);
static_assert(offsetof(PortChangeParams, dataBits) == 18);
static_assert(offsetof(PortChangeParams, stopBits) == 20);
static_assert(offsetof(PortChangeParams, parity) == 22);

static_assert(sizeof(GateAddress) == 20);
static_assert(offsetof(GateAddress, memType) == 4);
static_assert(offsetof(GateAddress, address) == 8);
static_assert(offsetof(GateAddress, bitIndex) == 12);
static_assert(offsetof(GateAddress, bitWidth) == 16);

static_assert(offsetof(GateDefinition, addressText) == 0);
static_assert(offsetof(GateDefinition, gateType) == 8);
static_assert(offsetof(GateDefinition, blockSize) == 12);
static_assert(offsetof(GateDefinition, gateAddress) == 16);
static_assert(sizeof(GateDefinition) >= 36);

static_assert(offsetof(GateRequest, addressText) == 0);
static_assert(offsetof(GateRequest, gateAddress) == 8);
static_assert(offsetof(GateRequest, count) == 32);
static_assert(offsetof(GateRequest, data) == 40);
static_assert(sizeof(GateRequest) >= 44);
#endif

}  // namespace jyn

// The library's one export.
extern "C" JYN_EXPORT int32_t JYN_CALL JynMain(jyn::CallBlock* block);
