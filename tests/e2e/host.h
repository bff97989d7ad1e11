// The real driver library as a host uses it: loaded at run time, driven only
// through JynMain and the host records, its messages caught in TAVORN.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "interface/host_abi.h"
#include "host/tavorn/tavorn.h"

namespace jyn::e2e {

// Every message the driver sends to err while a Messages object lives.
class Messages {
public:
    Messages() { TavornSetHandler(&Messages::OnMessage, this); }
    ~Messages() { TavornSetHandler(nullptr, nullptr); }
    Messages(const Messages&) = delete;
    Messages& operator=(const Messages&) = delete;

    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        out.swap(lines_);
        return out;
    }
    static bool Contains(const std::vector<std::string>& lines, const std::string& text) {
        for (const std::string& line : lines) {
            if (line == text) return true;
        }
        return false;
    }
    static std::string Join(const std::vector<std::string>& lines) {
        std::string out;
        for (const std::string& line : lines) out += "  " + line + "\n";
        return out;
    }

private:
    static void TAVORN_CALL OnMessage(int, const char* text, void* self) {
        auto* messages = static_cast<Messages*>(self);
        std::lock_guard<std::mutex> lock(messages->mutex_);
        messages->lines_.emplace_back(text);
    }
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

using Entry = int32_t(JYN_CALL*)(CallBlock*);

// dlopen/dlclose per test: EndJyn ends the library for the whole process,
// and only a fresh load starts it again.
class Library {
public:
    Library() {
        handle_ = dlopen(JYN_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle_ != nullptr) entry_ = reinterpret_cast<Entry>(dlsym(handle_, "JynMain"));
    }
    ~Library() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Ok() const { return entry_ != nullptr; }
    int32_t Call(CallBlock& block) const { return entry_(&block); }

private:
    void* handle_ = nullptr;
    Entry entry_ = nullptr;
};

// A gate as the host keeps it: address text, gate type, block size, and the
// GateAddress the parser returned.
struct HostGate {
    std::string text;
    int32_t type = 1;
    int32_t block = 0;
    GateAddress address{};
};

class Instance {
public:
    Instance(const Library& library, uint32_t instance) : library_(library), instance_(instance) {
        DriverInfo info{};
        Call(kGetJynInfo, &info);
        storage_.assign(info.contextSize, 0xA5);  // a host need not clear it
    }

    int32_t Call(uint32_t function, void* params) {
        CallBlock block{};
        block.context = storage_.empty() ? nullptr : reinterpret_cast<DriverContext*>(storage_.data());
        block.function = function;
        block.instance = instance_;
        block.params = params;
        return library_.Call(block);
    }
    DriverContext& Context() { return *reinterpret_cast<DriverContext*>(storage_.data()); }

    int32_t ColdStart(const std::string& port, uint32_t timeout, bool openNow = true) {
        ColdStartParams params{};
        std::strncpy(params.portName, port.c_str(), kPortNameSize - 1);
        params.openNow = openNow ? 1 : 0;
        params.replyTimeout = timeout;
        params.baudRate = 9600;
        params.dataBits = 8;
        return Call(kColdStart, &params);
    }
    int32_t ChangePort(const std::string& port, int32_t timeout) {
        PortChangeParams params{};
        std::strncpy(params.portName, port.c_str(), kPortNameSize - 1);
        params.replyTimeout = timeout;
        return Call(kChangeJynParams, &params);
    }
    int32_t Configure(HostGate& gate) {
        GateDefinition definition{};
        definition.addressText = gate.text.c_str();
        definition.gateType = gate.type;
        definition.blockSize = gate.block;
        const int32_t result =
            Call(gate.block > 0 ? kBlockAddressParser : kSingleAddressParser, &definition);
        gate.address = definition.gateAddress;
        return result;
    }
    int32_t Transfer(const HostGate& gate, bool write, unsigned char* buffer) {
        GateRequest request{};
        request.addressText = gate.text.c_str();
        request.gateAddress = gate.address;
        request.count = gate.block > 0 ? gate.block : 1;
        request.data = buffer;
        const uint32_t function = gate.block > 0 ? (write ? kBlockWrite : kBlockRead)
                                                 : (write ? kSingleWrite : kSingleRead);
        return Call(function, &request);
    }

private:
    const Library& library_;
    uint32_t instance_;
    std::vector<unsigned char> storage_;
};

// A private current directory for the station file, removed afterwards.
class WorkDirectory {
public:
    WorkDirectory() {
        char pattern[] = "/tmp/jyn-e2e-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
        char old[4096];
        if (getcwd(old, sizeof old) != nullptr) previous_ = old;
        if (!path_.empty() && chdir(path_.c_str()) != 0) path_.clear();
    }
    ~WorkDirectory() {
        if (!previous_.empty() && chdir(previous_.c_str()) != 0) return;
        if (path_.empty()) return;
        for (const std::string& file : files_) unlink((path_ + "/" + file).c_str());
        rmdir(path_.c_str());
    }
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;

    bool Write(const std::string& name, const std::string& text) {
        std::FILE* file = std::fopen((path_ + "/" + name).c_str(), "w");
        if (file == nullptr) return false;
        std::fputs(text.c_str(), file);
        std::fclose(file);
        files_.push_back(name);
        return true;
    }

private:
    std::string path_;
    std::string previous_;
    std::vector<std::string> files_;
};

}  // namespace jyn::e2e
