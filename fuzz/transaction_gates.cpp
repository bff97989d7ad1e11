#include "fuzz/transaction_gates.h"

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/client/records.h"

namespace jynfuzz {

namespace {

// Edges of the address syntax: the last X, a D beyond the ACPU's, strings
// of 0, 1 and 64 characters, the largest blocks.
const jynharness::GateShape kShapes[] = {
    {"BM100", 6, Kind::kBit, 0, "M", 100, 0, false},
    {"BX7FF", 6, Kind::kBit, 0, "X", 0x7FF, 0, false},
    {"WD100", 1, Kind::kWord, 0, "D", 100, 0, false},
    {"WX20", 0, Kind::kWord, 0, "X", 0x200, 0, false},
    {"WTN5", 2, Kind::kWord, 0, "TN", 5, 0, false},
    {"WD9000", 1, Kind::kWord, 0, "D", 9000, 0, true},
    {"WZ100", 4, Kind::k32Bit, 0, "D", 100, 0, false},
    {"W2010", 3, Kind::k32Bit, 0, "W", 0x10, 0, false},
    {"WS0100L5", 7, Kind::kString, 0, "D", 100, 5, false},
    {"WS0100L64", 7, Kind::kString, 0, "D", 100, 64, false},
    {"WS0100L0", 7, Kind::kString, 0, "D", 100, 0, false},
    {"WR0100L1", 7, Kind::kString, 0, "R", 100, 1, false},
    {"WW01AFL20", 7, Kind::kString, 0, "W", 0x1AF, 20, false},
    {"WD100", 1, Kind::kWordBlock, 64, "D", 100, 0, false},
    {"WX10", 0, Kind::kWordBlock, 64, "X", 0x100, 0, false},
    {"WZ100", 4, Kind::k32BitBlock, 32, "D", 100, 0, false},
    {"W10200", 3, Kind::k32BitBlock, 32, "R", 200, 0, false},
};
std::vector<FuzzGate> g_gates;

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A field of the reply that the driver took as a value must be all digits.
uint32_t HexField(const unsigned char* text, std::size_t digits) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const int digit = HexValue(text[i]);
        Check(digit >= 0, "a value was taken from a field that is no hexadecimal number");
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

uint16_t WordAt(const unsigned char* values, std::size_t offset) {
    return static_cast<uint16_t>(values[offset] | values[offset + 1] << 8);
}

std::size_t DataChars(const FuzzGate& gate, int32_t count) {
    return jynharness::ReplyDataChars(gate.shape.kind, count, gate.shape.chars);
}

// STX, the request's station and PC number, the data, ETX, a right sum.
void CheckAcceptedFrame(const jyn::DriverContext& context, std::size_t dataChars) {
    const unsigned char* reply = context.receiveBuffer;
    const std::size_t length = context.receiveLength;
    Check(length == 8 + dataChars, "a reply of the wrong length was accepted");
    Check(reply[0] == 0x02 && reply[length - 3] == 0x03, "a reply without STX/ETX was accepted");
    Check(std::memcmp(reply + 1, context.sendBuffer + 1, 4) == 0,
          "a reply from another station or PC number was accepted");
    unsigned sum = 0;
    for (std::size_t i = 1; i <= length - 3; ++i) sum += reply[i];
    Check(HexField(reply + length - 2, 2) == (sum & 0xFF), "a reply with a wrong sum was accepted");
}

void CheckString(const FuzzGate& gate, const unsigned char* data, const unsigned char* values) {
    unsigned char text[80] = {};
    for (uint32_t k = 0; 2 * k < jynharness::RoundedChars(gate.shape.chars); ++k) {
        const uint32_t word = HexField(data + 4 * k, 4);
        text[2 * k] = static_cast<unsigned char>(word & 0xFF);
        text[2 * k + 1] = static_cast<unsigned char>(word >> 8);
    }
    const std::size_t chars = std::strlen(reinterpret_cast<const char*>(text));
    Check(std::memcmp(values, text, chars + 1) == 0, "the string stored is not the one sent");
}

void CheckStored(const FuzzGate& gate, int32_t count, const unsigned char* data,
                 const unsigned char* values) {
    switch (gate.shape.kind) {
        case Kind::kBit:
            Check(data[0] == '0' || data[0] == '1', "a bit taken from neither '0' nor '1'");
            Check(WordAt(values, 2) == (data[0] == '1' ? 1 : 0),
                  "the bit stored is not the one sent");
            return;
        case Kind::kWord:
            Check(WordAt(values, 2) == HexField(data, 4), "the word stored is not the one sent");
            return;
        case Kind::kString: CheckString(gate, data, values); return;
        case Kind::kWordBlock:
        case Kind::k32Bit:
        case Kind::k32BitBlock: break;
    }
    const std::size_t words = DataChars(gate, count) / 4;
    for (std::size_t i = 0; i < words; ++i) {
        Check(WordAt(values, 2 * i) == HexField(data + 4 * i, 4),
              "a word stored is not the one sent");
    }
}

}  // namespace

void ParseGates(jyn::testing::Instance& host) {
    g_gates.clear();
    for (const jynharness::GateShape& shape : kShapes)
        g_gates.push_back({shape, "01" + std::string(shape.suffix), {}});
    for (FuzzGate& gate : g_gates) {
        jyn::GateDefinition definition =
            jynhost::MakeGateDefinition(gate.text.c_str(), gate.shape.gateType, gate.shape.block);
        Check(host.Call(jynhost::ParserFunction(gate.shape.block), &definition) == jyn::kOk,
              "a fuzz gate was refused by the parser");
        gate.address = definition.gateAddress;
    }
}

const FuzzGate& PickGate(uint8_t byte) { return g_gates[byte % g_gates.size()]; }

int32_t RunGate(jyn::testing::Instance& host, const FuzzGate& gate, int32_t count, bool write,
                unsigned char* values) {
    jyn::GateRequest request =
        jynhost::MakeGateRequest(gate.text.c_str(), gate.address, gate.shape.block, values);
    request.count = count;  // a block's too when it is 0 or negative
    return host.Call(jynhost::TransferFunction(gate.shape.block, write), &request);
}

void CheckValues(jyn::testing::Instance& host, const FuzzGate& gate, int32_t count, bool write,
                 int32_t result, uint8_t fill, const unsigned char* values) {
    if (gate.shape.kind == Kind::kBit || gate.shape.kind == Kind::kWord) {
        Check(values[0] == fill && values[1] == fill, "bytes 0..1 of a single gate were touched");
    }
    const std::size_t owned = OwnedBytes(gate, count, write);
    if (write) {
        for (std::size_t i = 0; i < owned; ++i)
            Check(values[i] == fill, "a write changed the buffer");
        return;
    }
    if (result != jyn::kOk) return;
    const jyn::DriverContext& context = host.Context();
    CheckAcceptedFrame(context, DataChars(gate, count));
    CheckStored(gate, count, context.receiveBuffer + 5, values);
}

}  // namespace jynfuzz
