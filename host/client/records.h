// The host records filled the way a host fills them before it calls
// JynMain. Inline, so that tests which link the driver itself (and call
// JynMain directly) fill them the same way without linking this library.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "interface/baud_rates.h"
#include "interface/host_abi.h"

namespace jynhost {

inline jyn::CallBlock MakeCallBlock(jyn::DriverContext* context, uint32_t function,
                                    uint32_t instance, void* params) {
    jyn::CallBlock block{};
    block.context = context;
    block.function = function;
    block.instance = instance;
    block.params = params;
    return block;
}

// The driver's port-name field holds 11 characters and the terminating zero.
inline bool PortNameFits(const std::string& name) { return name.size() < jyn::kPortNameSize; }

// The name, zero-filled behind it. A name that does not fit fills the whole
// field without a terminator, as a careless host would hand it over.
inline void CopyPortName(char (&field)[jyn::kPortNameSize], const std::string& name) {
    std::memset(field, 0, jyn::kPortNameSize);
    std::memcpy(field, name.data(),
                name.size() < jyn::kPortNameSize ? name.size() : jyn::kPortNameSize);
}

// What a ColdStart sets up besides the port. The line defaults are the ones
// GetJynInfo reports; the reply time-out is a second.
struct LineSettings {
    uint32_t replyTimeout = 100;  // units of 10 ms
    uint16_t baudRate = jyn::kDefaultBaudRate;
    uint16_t dataBits = 8;
    uint16_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    uint16_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
};

inline jyn::ColdStartParams MakeColdStart(const std::string& port, bool openNow,
                                          const LineSettings& line) {
    jyn::ColdStartParams params{};
    CopyPortName(params.portName, port);
    params.openNow = openNow ? 1 : 0;
    params.replyTimeout = line.replyTimeout;
    params.baudRate = line.baudRate;
    params.dataBits = line.dataBits;
    params.stopBits = line.stopBits;
    params.parity = line.parity;
    return params;
}

// Another port for a started instance; the line parameters stay as they
// are. A reply time-out of 0 or -1 keeps the instance's own.
constexpr int32_t kKeepReplyTimeout = -1;
inline jyn::PortChangeParams MakePortChange(const std::string& port, int32_t replyTimeout) {
    jyn::PortChangeParams params{};
    CopyPortName(params.portName, port);
    params.replyTimeout = replyTimeout;
    params.baudRate = 0;  // keeps all four line parameters
    return params;
}

// A blockSize of 0 is a single gate; the host passes a block's point count.
inline uint32_t ParserFunction(int32_t blockSize) {
    return blockSize > 0 ? jyn::kBlockAddressParser : jyn::kSingleAddressParser;
}

inline uint32_t TransferFunction(int32_t blockSize, bool write) {
    if (blockSize > 0) return write ? jyn::kBlockWrite : jyn::kBlockRead;
    return write ? jyn::kSingleWrite : jyn::kSingleRead;
}

inline jyn::GateDefinition MakeGateDefinition(const char* text, int32_t gateType,
                                              int32_t blockSize) {
    jyn::GateDefinition definition{};
    definition.addressText = text;
    definition.gateType = gateType;
    definition.blockSize = blockSize;
    return definition;
}

inline jyn::GateRequest MakeGateRequest(const char* text, const jyn::GateAddress& address,
                                        int32_t blockSize, void* data) {
    jyn::GateRequest request{};
    request.addressText = text;
    request.gateAddress = address;
    request.count = blockSize > 0 ? blockSize : 1;
    request.data = data;
    return request;
}

}  // namespace jynhost
