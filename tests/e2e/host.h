// The real driver library as a host uses it: loaded at run time, driven only
// through JynMain and the host records, its messages caught in TAVORN. The
// host's part is the shared host client's; this is its shape for the tests.
#pragma once

#include <dlfcn.h>  // the tests name dlerror() when the load fails
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/client/driver_instance.h"
#include "host/client/driver_library.h"
#include "host/client/driver_messages.h"
#include "host/client/records.h"
#include "interface/host_abi.h"
#include "tests/support/in_directory.h"

namespace jyn::e2e {

// Every message the driver sends to err while a Messages object lives.
class Messages {
public:
    std::vector<std::string> Take() {
        std::vector<std::string> texts;
        for (jynhost::DriverMessage& message : route_.Take())
            texts.push_back(std::move(message.text));
        return texts;
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
    jynhost::MessageRoute route_;
};

// Loaded and let go per test: EndJyn ends the library for the whole
// process, and only a fresh load starts it again.
class Library {
public:
    Library() { library_.Load(JYN_DRIVER_PATH, error_); }

    bool Ok() const { return library_.Loaded(); }
    const std::string& Error() const { return error_; }
    const jynhost::DriverLibrary& Driver() const { return library_; }

private:
    jynhost::DriverLibrary library_;
    std::string error_;
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
    Instance(const Library& library, uint32_t instance) : instance_(library.Driver(), instance) {
        std::string error;
        instance_.AllocateContext(error, 0xA5);  // a host need not clear it
    }

    int32_t Call(uint32_t function, void* params) { return instance_.Call(function, params); }
    DriverContext& Context() { return *instance_.Context(); }

    int32_t ColdStart(const std::string& port, uint32_t timeout, bool openNow = true) {
        jynhost::LineSettings line;
        line.replyTimeout = timeout;
        ColdStartParams params = jynhost::MakeColdStart(port, openNow, line);
        return Call(kColdStart, &params);
    }
    int32_t ChangePort(const std::string& port, int32_t timeout) {
        PortChangeParams params = jynhost::MakePortChange(port, timeout);
        return Call(kChangeJynParams, &params);
    }
    int32_t Configure(HostGate& gate) {
        GateDefinition definition =
            jynhost::MakeGateDefinition(gate.text.c_str(), gate.type, gate.block);
        const int32_t result = Call(jynhost::ParserFunction(gate.block), &definition);
        gate.address = definition.gateAddress;
        return result;
    }
    int32_t Transfer(const HostGate& gate, bool write, unsigned char* buffer) {
        GateRequest request =
            jynhost::MakeGateRequest(gate.text.c_str(), gate.address, gate.block, buffer);
        return Call(jynhost::TransferFunction(gate.block, write), &request);
    }

private:
    jynhost::DriverInstance instance_;
};

// A private current directory for the station file, removed afterwards.
using WorkDirectory = jyn::testing::InDirectory;

}  // namespace jyn::e2e
