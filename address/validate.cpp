#include "address/validate.h"

#include "address/gate_kind.h"
#include "address/parse.h"
#include "interface/log.h"

namespace jyn::address {

namespace {

bool Is16BitType(int32_t type) { return type >= kGateAnalog16First && type <= kGateAnalog16Last; }
bool Is32BitType(int32_t type) { return type >= kGateAnalog32First && type <= kGateAnalog32Last; }

// A 32-bit value starts on an even register; from here on the address
// counts register pairs, and the request builders double it back.
bool ToRegisterPairs(GateAddress& address) {
    if (address.address % 2 != 0) return false;
    address.bitWidth = 32;
    address.address /= 2;
    return true;
}

int32_t CheckSingle(const GateDefinition& gate, GateAddress& address) {
    // A string type on a 32-bit letter would keep the text's register
    // number, and the builders would double it: 00WZ100 would read D200.
    if (gate.gateType == kGateString) {
        return Is32BitLetter(address.memType) ? kGateFailure : kOk;
    }
    if (address.bitIndex != -1) {
        if (gate.gateType == kGateDigital) return kOk;
        LogError("JYNMB> SingleParse() Gate type should be digital");
        return kGateFailure;
    }
    if (Is32BitLetter(address.memType)) {
        if (!Is32BitType(gate.gateType)) return kGateFailure;
        return ToRegisterPairs(address) ? kOk : kGateFailure;
    }
    if (Is16BitType(gate.gateType)) return kOk;
    LogError("JYNMB> SingleParse() Gate type should be 16-bit analog");
    return kGateFailure;
}

int32_t CheckBlock(const GateDefinition& gate, GateAddress& address, const char* hostText) {
    if (Is32BitLetter(address.memType)) {
        if (!ToRegisterPairs(address)) return kGateFailure;
        if (gate.blockSize > kMax32BitPoints) {
            LogError("JYNMB> BlockParse() Gate %s block size out of range", hostText);
            return kGateFailure;
        }
    }
    if (address.bitIndex != -1 || HasStringMarker(hostText)) {
        LogError("JYNMB> BlockParse() Gate %s not allowed as block", hostText);
        return kGateFailure;
    }
    if (gate.blockSize > kMaxWordPoints) {
        LogError("JYNMB> BlockParse() Gate %s block size out of range", hostText);
        return kGateFailure;
    }
    return kOk;
}

}  // namespace

int32_t ValidateSingle(GateDefinition& gate) { return CheckSingle(gate, gate.gateAddress); }

int32_t ValidateBlock(GateDefinition& gate) {
    const AddressCopy hostText = CopyAddressText(gate.addressText);
    return CheckBlock(gate, gate.gateAddress, hostText.text);
}

}  // namespace jyn::address
