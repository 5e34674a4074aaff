#pragma once
// One-shot service commands to every balancer on the bus, sent with the command sender
// (wake-up bytes first); none is acknowledged or repeated.

#include "bus/bytes.hpp"
#include "bus/port.hpp"
#include "bus/state.hpp"

#include <cstddef>

namespace zanst::service {

enum class ServiceAction {
    EnableTestMode,   // "Enable test mode"
    EndTestMode,      // "End test mode"
    BalancingLoadOn,  // "Balancing Load ON"
    BalancingLoadOff, // "Balancing Load OFF"
    ReloadCalData,    // "Reload cal data"
    Garbage,          // "Garbage"
};

inline constexpr std::size_t kGarbageSize = 20000;

// 0x14, 16 bytes, empty payload.
bus::Bytes buildReloadCalDataFrame();

// 20000 bytes that test the bus's recovery: a start-bootloaders header cut short (0xAA, 0x20,
// the CRC of those two, 0x10, the 0x20 word, the master serial, 0xCC), then zeros.
bus::Bytes buildGarbageBlock();

// The bytes an action sends, after the wake-up prefix.
bus::Bytes buildServiceFrame(ServiceAction action);

// Sends the action. Entering or leaving test mode also makes the next poll tick enumerate the
// balancers afresh.
void sendServiceAction(bus::BusState& state, bus::BusPort& port, ServiceAction action);

} // namespace zanst::service
