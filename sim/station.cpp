#include "sim/station.h"

#include <algorithm>

#include "sim/hex.h"

namespace jynsim {
namespace {

struct PointLimit {
    bool bit_units;
    bool write;
    std::uint32_t on_bit_device;   // points (bit units) or words of 16 points
    std::uint32_t on_word_device;  // words; 0 = not allowed
};

// Points per request as the computer link manuals give them.
const PointLimit kPointLimits[] = {
    {true, false, 256, 0},   // BR, JR
    {true, true, 160, 0},    // BW, JW
    {false, false, 32, 64},  // WR, QR
    {false, true, 10, 64},   // WW, QW
};

const PointLimit& LimitOf(const CommandInfo& info) {
    for (const PointLimit& limit : kPointLimits) {
        if (limit.bit_units == info.bit_units && limit.write == info.write) return limit;
    }
    return kPointLimits[0];
}

constexpr std::uint32_t kLoopbackMax = 254;

}  // namespace

Station::Station(const StationConfig& config)
    : config_(config),
      memory_(config.ranges ? *config.ranges : DefaultRanges(config.family), config.mls_shared) {}

std::optional<std::uint8_t> Station::CheckDevice(const Request& request,
                                                 const CommandInfo& info) const {
    // A field that did not decode was already flagged (06h or 07h) by the decoder.
    if (!request.device) return std::nullopt;
    const DeviceRef ref = *request.device;
    const bool bit_device = InfoOf(ref.device).is_bit;
    const PointLimit& limit = LimitOf(info);
    const std::uint32_t most = bit_device ? limit.on_bit_device : limit.on_word_device;
    if (most == 0 || request.points < 1 || request.points > most) return kNakCharacterArea;
    if (!info.bit_units && bit_device) {
        // 16 points per word, starting on a 16-point boundary.
        if (ref.number % 16 != 0) return kNakCharacterArea;
        if (!memory_.Has(ref.device, ref.number, request.points * 16)) return kNakCharacterArea;
        return std::nullopt;
    }
    if (!memory_.Has(ref.device, ref.number, request.points)) return kNakCharacterArea;
    return std::nullopt;
}

Verdict Station::Check(const Request& request) const {
    std::optional<std::uint8_t> code = request.error;
    const auto flag = [&code](std::uint8_t value) { code = code ? std::min(*code, value) : value; };
    const CommandInfo& info = InfoOf(*request.command);
    const bool loopback = info.command == Command::kTT;
    // The loopback is the link module's own; it answers for PC number FF only.
    if (request.pc != (loopback ? 0xFF : config_.pc)) flag(kNakPcNumber);
    if (loopback) {
        if (request.points < 1 || request.points > kLoopbackMax) flag(kNakCharacterArea);
    } else if (info.extended && config_.family == CpuFamily::kAcpu &&
               config_.extended_on_acpu != ExtendedOnAcpu::kAccept) {
        if (!code && config_.extended_on_acpu == ExtendedOnAcpu::kNoAnswer) {
            return {Verdict::kNoAnswer};
        }
        flag(config_.extended_on_acpu_code);
    } else if (const auto device_code = CheckDevice(request, info)) {
        flag(*device_code);
    }
    // Only a request that is otherwise right is recognised as a write.
    if (!code && info.write && config_.write_during_run_disabled) flag(kNakWriteDuringRun);
    if (code) return {Verdict::kNak, *code};
    return {Verdict::kExecute};
}

std::string Station::ReadPoints(const Request& request, const CommandInfo& info) const {
    const DeviceRef head = *request.device;
    std::string data;
    if (info.bit_units) {
        for (std::uint32_t i = 0; i < request.points; ++i) {
            data += memory_.Bit({head.device, head.number + i}).value_or(false) ? '1' : '0';
        }
        return data;
    }
    const std::uint32_t step = InfoOf(head.device).is_bit ? 16 : 1;
    for (std::uint32_t i = 0; i < request.points; ++i) {
        data += FormatHex(memory_.Word({head.device, head.number + i * step}).value_or(0), 4);
    }
    return data;
}

void Station::WritePoints(const Request& request, const CommandInfo& info) {
    const DeviceRef head = *request.device;
    if (info.bit_units) {
        for (std::uint32_t i = 0; i < request.points; ++i) {
            memory_.SetBit({head.device, head.number + i}, request.data[i] == '1');
        }
        return;
    }
    const std::uint32_t step = InfoOf(head.device).is_bit ? 16 : 1;
    for (std::uint32_t i = 0; i < request.points; ++i) {
        const auto value = ParseHex(std::string_view(request.data).substr(4 * i, 4)).value_or(0);
        memory_.SetWord({head.device, head.number + i * step}, static_cast<std::uint16_t>(value));
    }
}

std::string Station::Execute(const Request& request) {
    const CommandInfo& info = InfoOf(*request.command);
    if (info.command == Command::kTT) return FormatHex(request.points, 2) + request.data;
    if (info.write) {
        WritePoints(request, info);
        return {};
    }
    return ReadPoints(request, info);
}

}  // namespace jynsim
