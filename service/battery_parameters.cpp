#include "battery_parameters.hpp"

#include "bus/frames.hpp"
#include "bus/protocol.hpp"
#include "bus/senders.hpp"
#include "bus/tables.hpp"

#include <algorithm>

namespace zanst::service {

namespace {

constexpr std::size_t kProductIdDigits = 4;
constexpr int kSilentTimeout = 5; // above the poll engine's three silent ticks

bool isPrintableAscii(char c) {
    return c >= 0x20 && c <= 0x7E;
}

std::optional<std::uint16_t> hexValue(std::string_view text) {
    std::uint16_t value = 0;
    for (char c : text) {
        int digit = 0;
        if (isDecimalDigit(c)) {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    return value;
}

} // namespace

BatteryParametersOutcome readBatteryParameters(const BatteryParametersInput& input) {
    BatteryParametersOutcome out;
    if (input.serial.size() != bus::kSerialLength || !std::ranges::all_of(input.serial, isPrintableAscii)) {
        out.serial = redText(kInvalidFormat);
        return out;
    }
    out.serial = blackBox();
    out.productId = blackBox();

    if (input.capacity.empty() || !std::ranges::all_of(input.capacity, isDecimalDigit)) {
        out.capacity = redBox();
        return out;
    }
    out.capacity = blackBox();
    std::uint64_t capacity = 0;
    for (char c : input.capacity) {
        capacity = pushDigit(capacity, c, kMaxCapacity);
    }
    if (capacity > kMaxCapacity) {
        capacity = kMaxCapacity;
        out.capacity.text = std::to_string(kMaxCapacity);
    }

    if (characterCount(input.productId) != kProductIdDigits) {
        out.productId = redText(kInvalidLength);
        return out;
    }
    const auto productId = hexValue(input.productId);
    if (!productId) {
        out.productId = redText(kInvalid);
        return out;
    }

    out.parameters =
        BatteryParameters{std::string(input.serial), static_cast<std::uint16_t>(capacity), *productId};
    return out;
}

bus::Bytes buildBatteryParametersFrame(const BatteryParameters& parameters) {
    bus::Bytes frame = bus::makeFrame(bus::cmd::kBatteryParameters, 16);
    bus::putLe16(frame, 4, parameters.capacity);
    bus::putLe16(frame, 6, parameters.productId);
    bus::putAscii(frame, 8, std::string_view(parameters.serial).substr(0, bus::kSerialLength));
    bus::seal(frame, 0);
    return frame;
}

void sendBatteryParameters(bus::BusState& state, bus::BusPort& port, const BatteryParameters& parameters) {
    bus::sendHexBmsCmd(port, state.frameReceiving, buildBatteryParametersFrame(parameters));
    state.balancersInfo = false;
    state.tables.clearData();
    state.battCommTimeout = kSilentTimeout;
}

} // namespace zanst::service
