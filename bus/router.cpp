#include "router.hpp"

namespace zanst::bus {

Route routeFor(const BusState& state) {
    if (state.selectedTab == Tab::Connection) {
        return Route::Discard;
    }
    if (state.bBatteryMode) {
        return Route::Emulator;
    }
    if (state.bSniffer) {
        return Route::Sniffer;
    }
    return Route::Master;
}

void ByteRouter::route(std::span<const std::uint8_t> bytes) {
    switch (routeFor(state_)) {
    case Route::Discard:
        return;
    case Route::Emulator:
        if (emulator_ != nullptr) {
            emulator_->receive(bytes);
        }
        return;
    case Route::Sniffer:
        master_.resetByteCounter();
        // Each byte goes back out before it is parsed, so the ring keeps running through the tool.
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (!port_->write(bytes.subspan(i, 1))) {
                return; // port lost: the rest of the pass is dropped with it
            }
            if (sniffer_ != nullptr) {
                sniffer_->receive(bytes.subspan(i, 1));
            }
        }
        return;
    case Route::Master:
        for (std::uint8_t b : bytes) {
            master_.feed(b);
        }
        return;
    }
}

} // namespace zanst::bus
