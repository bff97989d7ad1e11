// Micro-benchmarks of the driver's own steps, without a line: address
// parsing through JynMain (codes 3 and 4), request building and reply
// decoding. Each case first checks that the step succeeds, so a broken step
// shows as an error instead of a fast figure.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "host/client/records.h"
#include "interface/host_abi.h"
#include "interface/log.h"
#include "protocol/reply_data.h"
#include "protocol/request.h"

namespace {

std::atomic<int> g_messages{0};
bool g_failed = false;  // a step failed: the run (and its smoke test) fails

int CountingSink(int, const char*, ...) {
    ++g_messages;
    return 0;
}

struct GateText {
    const char* name;
    const char* address;
    int32_t gateType;
    int32_t blockSize;  // 0: a single gate
};

const GateText kGates[] = {
    {"word", "01WD100", jyn::kGateAnalog16First, 0},
    {"bit", "00BX1F", jyn::kGateDigital, 0},
    {"timer", "01WTN5", jyn::kGateAnalog16First, 0},
    {"string20", "01WS0300L20", jyn::kGateString, 0},
    {"block64", "01WD100", jyn::kGateAnalog16First, 64},
};

int32_t ParseThroughJynMain(const GateText& gate, jyn::GateAddress& address) {
    jyn::GateDefinition definition =
        jynhost::MakeGateDefinition(gate.address, gate.gateType, gate.blockSize);
    jyn::CallBlock block =
        jynhost::MakeCallBlock(nullptr, jynhost::ParserFunction(gate.blockSize), 0, &definition);
    const int32_t result = JynMain(&block);
    address = definition.gateAddress;
    return result;
}

// A context as ColdStart leaves it without a station file: logical station n
// is station n, PC FF, ACPU.
struct Transfer {
    jyn::DriverContext context{};
    jyn::GateRequest request{};
    jyn::CallBlock block{};
    unsigned char frame[jyn::kFrameBufferSize] = {};
    unsigned char values[jyn::kFrameBufferSize] = {};

    explicit Transfer(const GateText& gate) {
        for (std::size_t i = 0; i < jyn::kStationCount; ++i) {
            context.stationTable[i] = {static_cast<uint8_t>(i), 0xFF, jyn::kCpuA};
        }
        request = jynhost::MakeGateRequest(gate.address, {}, gate.blockSize, values);
        block.context = &context;
        block.params = &request;
    }
};

bool Failed(benchmark::State& state, bool ok, const char* what) {
    if (ok && g_messages.load() == 0) return false;
    g_failed = true;
    state.SkipWithError(what);
    return true;
}

void Parse(benchmark::State& state, const GateText& gate) {
    g_messages = 0;
    jyn::GateAddress address{};
    if (Failed(state, ParseThroughJynMain(gate, address) == jyn::kOk, "refused")) return;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParseThroughJynMain(gate, address));
        benchmark::DoNotOptimize(address);
    }
    Failed(state, true, "a message was logged");
}

void BuildRead(benchmark::State& state, const GateText& gate) {
    g_messages = 0;
    Transfer transfer(gate);
    uint16_t length = 0;
    bool ok = ParseThroughJynMain(gate, transfer.request.gateAddress) == jyn::kOk;
    ok = ok && jyn::protocol::BuildRequest(transfer.block, transfer.frame, length);
    if (Failed(state, ok, "no request")) return;
    for (auto _ : state) {
        jyn::protocol::BuildRequest(transfer.block, transfer.frame, length);
        benchmark::DoNotOptimize(transfer.frame);
    }
    state.counters["frame_chars"] = length;
    Failed(state, true, "a message was logged");
}

void BuildWrite(benchmark::State& state, const GateText& gate) {
    g_messages = 0;
    Transfer transfer(gate);
    std::memset(transfer.values, 'A', sizeof transfer.values);  // a string's text, any word
    const uint32_t function = jynhost::TransferFunction(gate.blockSize, true);
    uint16_t length = 0;
    bool ok = ParseThroughJynMain(gate, transfer.request.gateAddress) == jyn::kOk;
    ok = ok && jyn::protocol::BuildWriteRequest(transfer.block, transfer.frame, length, function);
    if (Failed(state, ok, "no request")) return;
    for (auto _ : state) {
        jyn::protocol::BuildWriteRequest(transfer.block, transfer.frame, length, function);
        benchmark::DoNotOptimize(transfer.frame);
    }
    state.counters["frame_chars"] = length;
    Failed(state, true, "a message was logged");
}

// The data characters a good reply to the gate carries.
std::string ReplyData(const GateText& gate) {
    if (gate.gateType == jyn::kGateDigital) return "1";
    if (gate.gateType == jyn::kGateString) return std::string(40, '4');  // 20 characters '$'
    std::string data;
    const int words = gate.blockSize > 0 ? gate.blockSize : 1;
    for (int i = 0; i < words; ++i) data += "A5C3";
    return data;
}

void Store(benchmark::State& state, const GateText& gate) {
    g_messages = 0;
    Transfer transfer(gate);
    const std::string data = ReplyData(gate);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const uint32_t function = jynhost::TransferFunction(gate.blockSize, false);
    bool ok = ParseThroughJynMain(gate, transfer.request.gateAddress) == jyn::kOk;
    ok = ok && jyn::protocol::StoreData(transfer.request, bytes, data.size(), function) == jyn::kOk;
    if (Failed(state, ok, "reply refused")) return;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            jyn::protocol::StoreData(transfer.request, bytes, data.size(), function));
        benchmark::DoNotOptimize(transfer.values);
    }
    state.counters["data_chars"] = static_cast<double>(data.size());
    Failed(state, true, "a message was logged");
}

using Step = void (*)(benchmark::State&, const GateText&);

struct StepEntry {
    const char* name;
    Step step;
};

const StepEntry kSteps[] = {
    {"Parse", &Parse},
    {"BuildRequest", &BuildRead},
    {"BuildWriteRequest", &BuildWrite},
    {"StoreData", &Store},
};

}  // namespace

int main(int argc, char** argv) {
    jyn::SetLogSink(&CountingSink);
    for (const StepEntry& entry : kSteps) {
        for (const GateText& gate : kGates) {
            const std::string name = std::string(entry.name) + "/" + gate.name;
            benchmark::RegisterBenchmark(name.c_str(), entry.step, gate);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return g_failed ? 1 : 0;
}
