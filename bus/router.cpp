#include "router.hpp"

namespace zanst::bus {

Route routeFor(const BusState& state) {
    if (state.selectedMode == Mode::Connection) {
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

void ByteRouter::routeOther(std::span<const std::uint8_t> bytes, ReceivePass& pass) {
    switch (pass.route) {
    case Route::Discard:
    case Route::Sniffer:
        break;
    case Route::Emulator:
        pass.forwarded = bytes;
        break;
    case Route::Master:
        for (std::uint8_t b : bytes) {
            master_.feed(b);
        }
        pass.returnedFrames = master_.takeReturnedFrames();
        break;
    }
}

} // namespace zanst::bus
