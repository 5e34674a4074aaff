#include "sim/ring_loss.hpp"

#include "bus/hex.hpp"
#include "bus/protocol.hpp"

#include <algorithm>

namespace zanst::sim {

namespace {

template <typename T> bool takeOnce(std::vector<T>& list, T value) {
    const auto it = std::find(list.begin(), list.end(), value);
    if (it == list.end()) {
        return false;
    }
    list.erase(it);
    return true;
}

} // namespace

std::optional<std::string> RingLoss::take(const Message& m) {
    const std::uint8_t command = m.command();
    if (command == bus::cmd::kDataBlock && m.frame.size() > 6 && takeOnce(config_.blocks, int{m.frame[6]})) {
        return "0x23: block " + std::to_string(m.frame[6]) + " lost on the ring (--swallow-block)";
    }
    if (takeOnce(config_.commands, command)) {
        return bus::ConvertHex(command, 2) + ": frame lost on the ring (--swallow-command)";
    }
    return std::nullopt;
}

} // namespace zanst::sim
