// Reply bytes through whole read and write transactions, for every gate
// kind. The scripted fake device is the line: each request the driver sends
// takes the next reply record of the input. The host's value buffer is
// fenced by guard bytes, and a read that returns 0 must hold exactly what
// the accepted reply says.
//
// Input: gate byte, count byte, flag byte (bit 0 write, bit 1 AnACPU, the
// rest the fill of the value buffer), then reply records:
//   control byte: bits 0-1 timing (0 at once, 1 just inside the reply
//   time-out, 2 just after it, 3 silence: no more bytes taken), bits 2-3
//   shape (0 raw, 1 data frame around the bytes, 2 ACK + bytes, 3 NAK +
//   bytes), bit 4 data frame with a wrong sum, bit 5 split with a gap inside
//   the time-out, bit 6 split with a gap beyond it, bit 7 two length bytes;
//   length (one or two bytes), bytes.
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/transaction_gates.h"
#include "harness/guarded_values.h"
#include "interface/host_abi.h"
#include "protocol/transaction.h"
#include "tests/support/fake_device.h"
#include "tests/support/frames.h"
#include "tests/support/instance.h"

namespace {

using jyn::testing::Hex2;
using jyn::testing::Sum;
using jynfuzz::Check;
using jynfuzz::Input;

constexpr uint32_t kTimeoutUnits = 5;
constexpr uint32_t kTimeoutMs = kTimeoutUnits * 10;
constexpr uint8_t ENQ = 0x05, STX = 0x02, ETX = 0x03, ACK = 0x06, NAK = 0x15;

jyn::testing::Instance* g_host = nullptr;

void NoPause(unsigned) {}

// One reply record shaped around the request it answers.
std::string Shape(uint8_t control, const std::string& header, const std::vector<uint8_t>& raw) {
    const std::string body(raw.begin(), raw.end());
    switch ((control >> 2) & 3) {
        case 1: {
            const std::string framed = header + body + static_cast<char>(ETX);
            const unsigned sum = Sum(framed) + ((control & 0x10) != 0 ? 1 : 0);
            return static_cast<char>(STX) + framed + Hex2(sum);
        }
        case 2: return static_cast<char>(ACK) + header + body;
        case 3: return static_cast<char>(NAK) + header + body;
        default: return body;
    }
}

uint32_t DelayOf(uint8_t control) {
    const uint32_t kDelays[] = {1, kTimeoutMs - 1, kTimeoutMs + 10};
    return kDelays[control & 3];
}

// The rest of the input, served one record per request.
struct Line {
    Input* input;
    int requests = 0;
    int confirmations = 0;

    void Answer(jyn::testing::FakeDevice& fake, const jyn::testing::Bytes& request) {
        const std::string header(request.begin() + 1, request.begin() + 5);
        const uint8_t control = input->Byte();
        if (input->Empty() || (control & 3) == 3) return;
        const std::size_t length = (control & 0x80) != 0 ? input->Word() % 1100 : input->Byte();
        const std::string reply = Shape(control, header, input->Bytes(length));
        const uint32_t delay = DelayOf(control);
        const std::size_t half = reply.size() / 2;
        if ((control & 0x60) == 0 || half == 0) {
            fake.Arrive(reply, delay);
            return;
        }
        const uint32_t gap = (control & 0x40) != 0 ? kTimeoutMs + 20 : kTimeoutMs - 20;
        fake.Arrive(reply.substr(0, half), delay);
        fake.Arrive(reply.substr(half), delay + gap);
    }
};

void StartInstance(bool anAcpu) {
    jyn::testing::ResetFake();
    Check(g_host->ColdStart("COM1", true, kTimeoutUnits) == jyn::kOk, "ColdStart on the fake");
    g_host->Context().stationTable[1].cpuType = anAcpu ? jyn::kCpuAn : jyn::kCpuA;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    jynfuzz::InstallLogSink();
    jynfuzz::EnterPrivateFolder({});  // no station file may be found
    jyn::protocol::SetPauseFunction(&NoPause);
    // Never destroyed: its destructor would run after the driver's own
    // statics are gone at exit.
    g_host = new jyn::testing::Instance;
    jynfuzz::ParseGates(*g_host);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    Input input(bytes, size);
    const jynfuzz::FuzzGate& gate = jynfuzz::PickGate(input.Byte());
    const int32_t count = gate.shape.block == 0 ? 1 : input.Byte() % (gate.shape.block + 1);
    const uint8_t flags = input.Byte();
    const bool write = (flags & 1) != 0;
    StartInstance((flags & 2) != 0);

    Line line{&input};
    jyn::testing::Fake().onWrite = [&line](jyn::testing::FakeDevice& fake,
                                           const jyn::testing::Bytes& written) {
        if (written.size() >= 5 && written[0] == ENQ) {
            ++line.requests;
            line.Answer(fake, written);
        } else if (written.size() == 5 && written[0] == ACK) {
            ++line.confirmations;
        }
    };
    const uint8_t fill = static_cast<uint8_t>(flags >> 2 | flags << 6);
    jynharness::GuardedValues values(jynfuzz::OwnedBytes(gate, count, write), fill);
    const int32_t result = jynfuzz::RunGate(*g_host, gate, count, write, values.Data());
    jyn::testing::Fake().onWrite = nullptr;

    Check(values.GuardsIntact(), "a byte outside the gate's value bytes was written");
    Check(result >= 0 && result <= 2, "transaction result outside 0..2");
    Check(line.requests <= jyn::protocol::kAttempts, "more than ten attempts");
    Check(line.confirmations == (result == jyn::kOk && !write ? 1 : 0), "confirmations");
    jynfuzz::CheckValues(*g_host, gate, count, write, result, fill, values.Data());
    return 0;
}
