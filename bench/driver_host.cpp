#include "bench/driver_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "host/tavorn/tavorn.h"

namespace jynbench {

namespace {

// No station file JYNMB<n>.INT of this instance is expected anywhere: the
// default table (logical station n is station n, PC FF, ACPU) is what the
// simulated line is built for, and Start checks that it holds.
constexpr uint32_t kInstance = 7319;
constexpr std::size_t kKeptMessages = 200;

struct Messages {
    mutable std::mutex mutex;
    std::vector<std::string> kept;
    std::size_t count = 0;
};

Messages& TheMessages() {
    static Messages messages;
    return messages;
}

void TAVORN_CALL OnMessage(int level, const char* text, void*) {
    Messages& messages = TheMessages();
    std::lock_guard<std::mutex> lock(messages.mutex);
    ++messages.count;
    if (messages.kept.size() < kKeptMessages) {
        messages.kept.push_back("[" + std::to_string(level) + "] " + text);
    }
}

std::string ProgramDirectory() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    std::string text(path, static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/') + 1);
}

bool DefaultStation(const jyn::DriverContext& context, int logical) {
    const jyn::StationEntry& entry = context.stationTable[logical];
    return entry.stationNumber == logical && entry.pcNumber == 0xFF && entry.cpuType == jyn::kCpuA;
}

}  // namespace

DriverHost::DriverHost() { TavornSetHandler(&OnMessage, nullptr); }

DriverHost::~DriverHost() {
    End();
    TavornSetHandler(nullptr, nullptr);
    if (library_ != nullptr) dlclose(library_);
}

bool DriverHost::Load(std::string& error) {
    const std::string path = ProgramDirectory() + "libRAVEVUD.so";
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
        return false;
    }
    entry_ = reinterpret_cast<EntryPoint>(dlsym(library_, "JynMain"));
    if (entry_ == nullptr) {
        error = path + " has no export JynMain";
        return false;
    }
    jyn::DriverInfo info{};
    if (Call(jyn::kGetJynInfo, &info) != jyn::kOk ||
        info.contextSize < sizeof(jyn::DriverContext)) {
        error = "GetJynInfo reports a context of " + std::to_string(info.contextSize) + " bytes";
        return false;
    }
    const std::size_t words =
        (info.contextSize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    storage_ = std::make_unique<std::max_align_t[]>(words);
    context_ = reinterpret_cast<jyn::DriverContext*>(storage_.get());
    return true;
}

bool DriverHost::Start(const std::string& port, uint16_t baudRate, uint32_t timeoutUnits,
                       std::string& error) {
    jyn::ColdStartParams params{};
    if (port.size() >= jyn::kPortNameSize) {
        error = "port name '" + port + "' is longer than 11 characters";
        return false;
    }
    std::memcpy(params.portName, port.data(), port.size());
    params.openNow = 1;
    params.replyTimeout = timeoutUnits;
    params.baudRate = baudRate;
    params.dataBits = 8;
    params.stopBits = 0;
    params.parity = 0;
    const int32_t result = Call(jyn::kColdStart, &params);
    started_ = true;
    if (result != jyn::kOk) {
        error = "ColdStart on " + port + " returned " + std::to_string(result);
        return false;
    }
    if (!DefaultStation(*context_, 1) || !DefaultStation(*context_, 5)) {
        error = "a station file JYNMB" + std::to_string(kInstance) +
                ".INT in the current directory changes logical stations 1 or 5";
        return false;
    }
    return true;
}

int32_t DriverHost::Call(uint32_t function, void* params) {
    jyn::CallBlock block{};
    block.context = context_;
    block.function = function;
    block.instance = kInstance;
    block.params = params;
    return entry_(&block);
}

void DriverHost::End() {
    if (!started_) return;
    started_ = false;
    Call(jyn::kEndJyn, nullptr);
}

std::vector<std::string> DriverHost::TakeMessages() {
    Messages& messages = TheMessages();
    std::lock_guard<std::mutex> lock(messages.mutex);
    std::vector<std::string> out;
    out.swap(messages.kept);
    messages.count = 0;
    return out;
}

std::size_t DriverHost::PendingMessages() const {
    Messages& messages = TheMessages();
    std::lock_guard<std::mutex> lock(messages.mutex);
    return messages.count;
}

}  // namespace jynbench
