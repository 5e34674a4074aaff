#pragma once
// "set battery parameters": the battery's serial number, capacity and product id, written to
// every balancer on the bus (0x13).

#include "input_text.hpp"

#include "bus/bytes.hpp"
#include "bus/port.hpp"
#include "bus/state.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::service {

inline constexpr std::string_view kInvalidFormat = "invalid format";
inline constexpr std::string_view kInvalidLength = "invalid length";
inline constexpr std::string_view kInvalid = "invalid";
inline constexpr int kMaxCapacity = 1000; // Ah

struct BatteryParametersInput {
    std::string_view serial;    // "Battery Serial"
    std::string_view capacity;  // "Capacity"
    std::string_view productId; // "ProdID"
};

struct BatteryParameters {
    std::string serial; // 11 printable ASCII characters
    std::uint16_t capacity = 0;
    std::uint16_t productId = 0;
};

// How the three boxes show after the button, and the parameters when every input passed.
struct BatteryParametersOutcome {
    BoxView serial;
    BoxView capacity;
    BoxView productId;
    std::optional<BatteryParameters> parameters;
};

// The checks in the button's order, each stopping at the first failure: the serial must be 11
// printable ASCII characters ("invalid format"); the capacity digits only and not empty (red),
// above 1000 taken as 1000 (the box then shows "1000"); the product id 4 characters
// ("invalid length") of hex digits ("invalid").
BatteryParametersOutcome readBatteryParameters(const BatteryParametersInput& input);

// 0x13, 22 bytes: capacity, product id, the battery serial.
bus::Bytes buildBatteryParametersFrame(const BatteryParameters& parameters);

// Sends the frame with the command sender, then makes the next poll tick count the bus as
// silent, so that the balancers are enumerated afresh with their new serial and capacity.
void sendBatteryParameters(bus::BusState& state, bus::BusPort& port, const BatteryParameters& parameters);

} // namespace zanst::service
