#include "senders.hpp"

namespace zanst::bus {

bool sendHexBmsCmd(BusPort& port, bool& frameReceiving, std::span<const std::uint8_t> data) {
    if (!port.isOpen()) {
        return false;
    }
    if (!port.write(std::span(wakeupBuffer).first(kWakeupBytes)) || !port.write(data)) {
        return false;
    }
    frameReceiving = false;
    return true;
}

bool sendHexBms(BusPort& port, std::span<const std::uint8_t> data) {
    if (!port.isOpen()) {
        return false;
    }
    return port.write(data);
}

bool sendHexUpdaterCmd(BusPort& port, std::span<const std::uint8_t> data) {
    return sendHexBms(port, data);
}

} // namespace zanst::bus
