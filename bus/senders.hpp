#pragma once
// The three senders. All do nothing on a closed port.

#include "port.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zanst::bus {

// Wake-up prefix source: 25 zero bytes of which the first 10 go before every command frame.
inline constexpr std::array<std::uint8_t, 25> wakeupBuffer{};
inline constexpr std::size_t kWakeupBytes = 10;

// Wake-up prefix, then the frame; then clears frameReceiving so that the receiver hunts for a
// new start byte. Returns whether the frame went out.
bool sendHexBmsCmd(BusPort& port, bool& frameReceiving, std::span<const std::uint8_t> data);

// The bytes unchanged, no prefix (records).
bool sendHexBms(BusPort& port, std::span<const std::uint8_t> data);

// Same as sendHexBms; used by the firmware updater for 0x21, 0x22 and 0x23.
bool sendHexUpdaterCmd(BusPort& port, std::span<const std::uint8_t> data);

} // namespace zanst::bus
