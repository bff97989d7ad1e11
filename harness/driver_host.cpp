#include "harness/driver_host.h"

#include "harness/catalogue.h"
#include "host/client/records.h"
#include "interface/baud_rates.h"

namespace jynharness {

namespace {

std::unique_ptr<jynhost::MessageRoute> RouteOf(const HostSettings& settings) {
    if (settings.keptMessages == 0) return nullptr;
    return std::make_unique<jynhost::MessageRoute>(settings.keptMessages);
}

// The instances whose contexts must outlive their hosts.
void KeepUntilExit(std::unique_ptr<jynhost::DriverInstance> instance) {
    static auto* kept = new std::vector<std::unique_ptr<jynhost::DriverInstance>>();
    kept->push_back(std::move(instance));
}

}  // namespace

uint16_t DriverBaudFor(uint32_t lineBaud) {
    uint32_t rate = jyn::kDefaultBaudRate;
    for (uint32_t driverRate : jyn::kPosixBaudRates) {
        if (lineBaud == 0 || driverRate <= lineBaud) rate = driverRate;
    }
    return static_cast<uint16_t>(rate);
}

DriverHost::DriverHost(const HostSettings& settings)
    : own_(std::make_unique<jynhost::DriverLibrary>()),
      library_(own_.get()),
      number_(settings.instance),
      fill_(settings.contextFill),
      keep_(settings.keepContextUntilExit),
      route_(RouteOf(settings)),
      instance_(std::make_unique<jynhost::DriverInstance>(*library_, number_)) {}

DriverHost::DriverHost(const jynhost::DriverLibrary& shared, const HostSettings& settings)
    : library_(&shared),
      number_(settings.instance),
      fill_(settings.contextFill),
      keep_(settings.keepContextUntilExit),
      route_(RouteOf(settings)),
      instance_(std::make_unique<jynhost::DriverInstance>(*library_, number_)) {}

DriverHost::~DriverHost() {
    if (keep_) KeepUntilExit(std::move(instance_));
}

bool DriverHost::Load(const std::string& path, std::string& error) {
    if (!own_) {
        error = "this host shares a library it does not load";
        return false;
    }
    started_ = false;
    return own_->Load(path, error) && Allocate(error);
}

void DriverHost::Unload() {
    if (own_) own_->Unload();
    started_ = false;
}

int32_t DriverHost::ColdStart(const std::string& port, uint32_t timeoutUnits, uint16_t baud) {
    jynhost::LineSettings line;
    line.replyTimeout = timeoutUnits;
    line.baudRate = baud;
    jyn::ColdStartParams params = jynhost::MakeColdStart(port, true, line);
    started_ = true;
    return Call(jyn::kColdStart, &params);
}

bool DriverHost::Configure(Gate& gate, int32_t block, std::string& error) {
    jyn::GateDefinition definition =
        jynhost::MakeGateDefinition(gate.text.c_str(), gate.shape.gateType, block);
    if (Call(jynhost::ParserFunction(block), &definition) != jyn::kOk) {
        error = "the driver refuses the address " + gate.text;
        return false;
    }
    gate.address = definition.gateAddress;
    return true;
}

int32_t DriverHost::Transfer(const Gate& gate, int32_t block, bool write, unsigned char* values) {
    jyn::GateRequest request =
        jynhost::MakeGateRequest(gate.text.c_str(), gate.address, block, values);
    return Call(jynhost::TransferFunction(block, write), &request);
}

void DriverHost::End() {
    if (!started_) return;
    started_ = false;
    Call(jyn::kEndJyn);
}

}  // namespace jynharness
