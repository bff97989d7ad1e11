// Address texts through SingleAddressParser and BlockAddressParser (codes 3
// and 4), with every gate type and block size, as a host hands them over.
// Input: mode byte, gate type byte, block size byte, then the text. A gate
// the parser accepts is then framed for a read and a write, so that what the
// parser lets through is also something the request builders can carry.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "address/gate_kind.h"
#include "fuzz/fuzz_support.h"
#include "interface/host_abi.h"
#include "protocol/request.h"

namespace {

using jynfuzz::Check;

// Every type the host defines, and the nonsense just around and far beyond.
const int32_t kGateTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, -1, 8, INT_MIN, INT_MAX};

int32_t BlockSizeOf(uint8_t byte) {
    const int32_t kSpecial[] = {INT_MIN, -1, 0, 32, 33, 64, 65, INT_MAX};
    if (byte >= 248) return kSpecial[byte - 248];
    return static_cast<int32_t>(byte) - 8;  // -8 .. 239
}

bool KnownMemType(int32_t memType) {
    using namespace jyn::address;
    const int32_t kTwoLetterCodes[] = {kTS, kTC, kTN, kCS, kCC, kCN};
    if (memType > 0 && memType < 0x80 && std::strchr("XYBMLFDWRS12Z", memType) != nullptr)
        return true;
    return std::find(std::begin(kTwoLetterCodes), std::end(kTwoLetterCodes), memType) !=
           std::end(kTwoLetterCodes);
}

void CheckAccepted(const jyn::GateDefinition& gate, bool block, const char* text) {
    const jyn::GateAddress& a = gate.gateAddress;
    Check(a.station >= 0 && a.station <= 255, "accepted station outside 0..255");
    Check(KnownMemType(a.memType), "accepted memType the parser never names");
    Check(a.address >= 0, "accepted negative address");
    Check(a.bitIndex == -1 || (a.bitIndex >= 0 && a.bitIndex <= 15), "accepted bit index");
    Check(a.bitWidth == 8 || a.bitWidth == 16 || a.bitWidth == 32, "accepted bit width");
    Check((a.bitIndex != -1) == (a.bitWidth == 8), "bit index and width disagree");
    if (jyn::address::Is32BitLetter(a.memType) && a.bitIndex == -1) {
        Check(a.bitWidth == 32, "32-bit letter accepted without 32-bit width");
    }
    if (block) {
        Check(a.bitIndex == -1, "bit gate accepted as block");
        Check(!jyn::address::HasStringMarker(text), "string accepted as block");
        Check(gate.blockSize <= (a.bitWidth == 32 ? 32 : 64), "block size above the limit");
    }
}

// The accepted gate framed as the transfers would frame it, into buffers of
// exactly the sizes the driver owns, so any overrun is caught.
void FrameAccepted(const jyn::GateDefinition& gate, bool block, const char* text) {
    jyn::DriverContext context{};
    for (std::size_t i = 0; i < jyn::kStationCount; ++i) {
        context.stationTable[i] = {static_cast<uint8_t>(i), 0xFF, static_cast<uint8_t>(i & 1)};
    }
    jyn::GateRequest request{};
    request.addressText = text;
    request.gateAddress = gate.gateAddress;
    request.count = block ? gate.blockSize : 1;
    const std::size_t values = block && request.count > 0 ? 4u * request.count : 0u;
    std::vector<unsigned char> data(values + 68, 0x5A);
    request.data = data.data();
    jyn::CallBlock call{&context, jyn::kSingleRead, 1, 0, &request};
    std::vector<unsigned char> frame(jyn::kFrameBufferSize);
    uint16_t length = 0;
    if (jyn::protocol::BuildRequest(call, frame.data(), length)) {
        Check(length < jyn::kFrameBufferSize, "read request longer than its buffer");
    }
    const uint32_t write = block ? jyn::kBlockWrite : jyn::kSingleWrite;
    if (jyn::protocol::BuildWriteRequest(call, frame.data(), length, write)) {
        Check(length < jyn::kFrameBufferSize, "write request longer than its buffer");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    jynfuzz::InstallLogSink();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    jynfuzz::Input input(bytes, size);
    const bool block = (input.Byte() & 1) != 0;
    jyn::GateDefinition gate{};
    gate.gateType = kGateTypes[input.Byte() % (sizeof kGateTypes / sizeof kGateTypes[0])];
    gate.blockSize = BlockSizeOf(input.Byte());
    // The text in a heap block of exactly its own size: a read past the
    // terminator is a read past the block.
    const std::vector<uint8_t> rest = input.Rest();
    std::vector<char> text(rest.begin(), rest.end());
    text.push_back('\0');
    const std::vector<char> before = text;
    gate.addressText = text.data();
    std::memset(&gate.gateAddress, 0xA5, sizeof gate.gateAddress);

    jyn::CallBlock call{nullptr, block ? jyn::kBlockAddressParser : jyn::kSingleAddressParser, 1, 0,
                        &gate};
    const int32_t result = JynMain(&call);
    Check(result == jyn::kOk || result == jyn::kGateFailure, "parser result outside 0..1");
    Check(text == before, "the parser changed the host's text");
    if (result == jyn::kOk) {
        CheckAccepted(gate, block, text.data());
        FrameAccepted(gate, block, text.data());
    }
    return 0;
}
